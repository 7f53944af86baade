#include "file_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <new>
#include <random>
#include <set>

#include "content_hash.h"
#include "decoding_reader.h"
#include "encoded_rules.h"
#include "encoding_sniffer.h"
#include "encoding_writer.h"
#include "entry_chain.h"
#include "entry_prefilter.h"
#include "failure_reason.h"
#include "file_attributes.h"
#include "file_system.h"
#include "journal_writer.h"
#include "large_buffer.h"
#include "memory_limit.h"
#include "round_trip.h"
#include "utf8_validator.h"

namespace wendrel::core {
namespace {

constexpr std::size_t kReadBlock = 1 << 20;
constexpr int kTempAttempts = 16;

// O_NONBLOCK keeps an open of a FIFO or device from waiting; it changes nothing for the
// regular files that are the only ones ever read.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY;

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// What a rename leaves as it was: a rename sets the ctime of the file it moves.
bool same_version(const struct stat& a, const struct stat& b) {
    return same_file(a, b) && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Also no write, chmod, chown or new link since: every one of them sets the ctime, even a
// write that keeps the size and happens within the mtime's tick.
bool untouched(const struct stat& now, const struct stat& loaded) {
    return same_version(now, loaded) && now.st_ctim.tv_sec == loaded.st_ctim.tv_sec &&
           now.st_ctim.tv_nsec == loaded.st_ctim.tv_nsec;
}

// Opened for writing only to be locked (an exclusive lock needs it); never written through.
constexpr int kRewriteFlags = O_RDWR | O_NONBLOCK | O_NOCTTY;

std::string folder_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The one form of a write-back's new file: short, so that it fits beside a name of any legal
// length, and fixed, so that folder listings can tell it from the user's files.
constexpr std::string_view kTempPrefix = ".wendrel-";
constexpr std::size_t kTempRandomSize = 8;
constexpr std::string_view kTempDigits = "0123456789abcdefghijklmnopqrstuvwxyz";

std::string make_temp_name() {
    static std::atomic<unsigned> counter{std::random_device{}()};
    unsigned value = counter.fetch_add(0x9E3779B9u);
    std::string name(kTempPrefix);
    for (std::size_t i = 0; i < kTempRandomSize; ++i) {
        name += kTempDigits[value % kTempDigits.size()];
        value /= kTempDigits.size();
    }
    return name;
}

// A read or write that a signal interrupted before it moved anything is simply made again.
long read_some(FileSystem& fs, int fd, char* buffer, std::size_t size) {
    long n;
    do {
        n = fs.read(fd, buffer, size);
    } while (n == -EINTR);
    return n;
}

}  // namespace

struct FileStore::Sink {
    FileSystem& fs;
    int fd;
    ContentHash hash;
    std::uint64_t written = 0;
};

namespace {

int write_all(FileStore::Sink& out, std::string_view content) {
    out.hash.add(content);
    out.written += content.size();
    std::size_t done = 0;
    while (done < content.size()) {
        const long n = out.fs.write(out.fd, content.data() + done, content.size() - done);
        if (n == -EINTR) {
            continue;
        }
        if (n < 0) {
            return static_cast<int>(-n);
        }
        if (n == 0) {
            return EIO;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Large pieces go out as they are; runs of small ones (a text dense with replacements) are
// gathered first, so that a piece does not cost a system call of its own.
int write_pieces(FileStore::Sink& out, std::span<const std::string_view> pieces) try {
    constexpr std::size_t kGather = 256 * 1024;
    std::string gathered;
    for (const std::string_view piece : pieces) {
        if (gathered.size() + piece.size() > kGather && !gathered.empty()) {
            if (const int error = write_all(out, gathered)) {
                return error;
            }
            gathered.clear();
        }
        if (piece.size() >= kGather) {
            if (const int error = write_all(out, piece)) {
                return error;
            }
        } else {
            if (gathered.capacity() < kGather) {
                gathered.reserve(kGather);
            }
            gathered.append(piece);
        }
    }
    return write_all(out, gathered);
} catch (const std::bad_alloc&) {
    return ENOMEM;  // no room to gather in: the caller removes the part-written file
}

// Copies the file at `from` (an undo's kept file) into the new file.
int copy_file(FileSystem& fs, const std::string& from, FileStore::Sink& out) try {
    const FileDescriptor source(fs, fs.open(from, kReadFlags | O_NOFOLLOW));
    if (!source) {
        return -source.get();
    }
    std::string block(kReadBlock, '\0');
    for (;;) {
        const long n = read_some(fs, source.get(), block.data(), block.size());
        if (n <= 0) {
            return static_cast<int>(-n);
        }
        if (const int error =
                write_all(out, std::string_view(block.data(), static_cast<std::size_t>(n)))) {
            return error;
        }
    }
} catch (const std::bad_alloc&) {
    return ENOMEM;
}

// Opens a regular file (symlinks followed) with `flags`; gives the descriptor or a negative
// errno. Folders, FIFOs, devices and sockets are refused without ever being read.
int open_regular(FileSystem& fs, const std::string& path, struct stat& info,
                 int flags = kReadFlags) {
    const int fd = fs.open(path, flags);
    if (fd < 0) {
        return fd;
    }
    int error = fs.fstat(fd, &info);
    if (error == 0 && !S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? EISDIR : failure::kNotRegularFile;
    }
    if (error != 0) {
        fs.close(fd);
        return -error;
    }
    return fd;
}

// The errors of an open for writing that a write-back would meet too: the file is read
// without the lock, and its write-back, if any, refused.
bool not_writable(int error) {
    return error == EACCES || error == EPERM || error == EROFS || error == ETXTBSY;
}

}  // namespace

std::optional<std::uint64_t> FileStore::loadable_size(const std::string& path) {
    struct stat info {};
    const int fd = open_regular(fs_, path, info);
    if (fd < 0) {
        return std::nullopt;
    }
    fs_.close(fd);
    return static_cast<std::uint64_t>(info.st_size);
}

int FileStore::open_target(const std::string& path, Purpose purpose, struct stat& info,
                           FileDescriptor& file) {
    const bool rewrite = purpose == Purpose::rewrite;
    int fd = open_regular(fs_, path, info, rewrite ? kRewriteFlags : kReadFlags);
    const bool writable = rewrite && fd >= 0;
    if (rewrite && not_writable(-fd)) {
        fd = open_regular(fs_, path, info);
    }
    if (fd < 0) {
        return -fd;
    }
    file = FileDescriptor(fs_, fd);
    const int error = writable ? fs_.lock(fd, F_WRLCK) : 0;
    if (error == EAGAIN || error == EACCES) {
        file.close();
        return failure::kLockedByOtherJob;
    }
    // Any other error: a file system without locks. Its files are still rewritten, guarded
    // against other writers by the exchange's check alone.
    return 0;
}

int FileStore::hold(const std::string& path, LoadedFile& file) {
    struct stat info {};
    FileDescriptor handle;
    if (const int error = open_target(path, Purpose::rewrite, info, handle)) {
        return error;
    }
    file.info = info;
    file.held = std::move(handle);
    return 0;
}

int FileStore::load(const std::string& path, LoadedFile& file, Purpose purpose) {
    struct stat info {};
    FileDescriptor handle;
    if (const int error = open_target(path, purpose, info, handle)) {
        return error;
    }
    const int fd = handle.get();
    const auto expected = static_cast<std::size_t>(info.st_size);
    // One that cannot fit is refused up front rather than left to the out-of-memory killer.
    if (expected > MemoryLimit::largest_held()) {
        return EFBIG;
    }
    std::string content;
    try {
        reserve_large(content, expected);
        content.resize(expected);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (const std::length_error&) {
        return EFBIG;
    }
    std::size_t done = 0;
    while (done < expected) {
        const long n =
            read_some(fs_, fd, content.data() + done, std::min(kReadBlock, expected - done));
        if (n < 0) {
            return static_cast<int>(-n);
        }
        if (n == 0) {
            return EAGAIN;  // shrank while being read
        }
        done += static_cast<std::size_t>(n);
    }
    char probe;
    const long more = read_some(fs_, fd, &probe, 1);
    if (more != 0) {
        return more < 0 ? static_cast<int>(-more) : EAGAIN;  // grew while being read
    }
    file.content = std::move(content);
    file.info = info;
    if (purpose == Purpose::rewrite) {
        file.held = std::move(handle);
    }
    return 0;
}

namespace {

// The reads of a scan go through one buffer per thread, kept between files.
constexpr std::size_t kScanPiece = 1 << 20;

thread_local std::unique_ptr<char[]> scan_buffer;

char* buffer_for_scans() {
    if (!scan_buffer) {
        scan_buffer.reset(new char[kScanPiece]);
    }
    return scan_buffer.get();
}

// What the entries make of the file open as `fd`, read from its start through `raw_read`: of
// its bytes, or, for a file in an encoding of its own, of its text decoded, the result encoded
// back behind the file's byte order mark. The result's bytes go to `raw_write`; without it
// they are only counted, though a character the encoding cannot hold is still found.
ChainResult run_rules(FileSystem& fs, int fd, const JobRules& rules, const std::vector<bool>& skip,
                      const TextEncoding& encoding, std::uint64_t text_size,
                      const EntryChain::Reader& raw_read, const EntryChain::Writer* raw_write) {
    ChainResult result;
    if (const long at = fs.lseek(fd, 0, SEEK_SET); at < 0) {
        result.error = static_cast<int>(-at);
        return result;
    }
    EntryChain chain(rules.entries, rules.options, skip);
    if (encoding.kind != TextEncoding::Kind::decoded) {
        return chain.run(text_size, raw_read, raw_write);
    }
    std::string mark(encoding.bom, '\0');
    for (std::size_t got = 0; got < mark.size();) {
        const long n = raw_read(mark.data() + got, mark.size() - got);
        if (n <= 0) {
            result.error = n < 0 ? static_cast<int>(-n) : EAGAIN;
            return result;
        }
        got += static_cast<std::size_t>(n);
    }
    if (raw_write != nullptr && !mark.empty()) {
        if ((result.error = (*raw_write)(mark)) != 0) {
            return result;
        }
    }
    DecodingReader decode(encoding.name, raw_read);
    EncodingWriter encode(encoding.name,
                          raw_write != nullptr ? *raw_write : EncodingWriter::RawWrite{});
    const EntryChain::Writer write = [&](std::string_view piece) { return encode.put(piece); };
    result = chain.run(
        text_size, [&](char* buffer, std::size_t size) { return decode(buffer, size); }, &write);
    if (result.error == 0) {
        result.error = encode.finish();
    }
    return result;
}

// Whether the file open as `fd` now holds exactly what the rewrite makes of the file `held`:
// where two entries undo each other, the new content may be the old one.
int equals_source(FileSystem& fs, int held, const FileRewrite& rewrite, int source, bool& equal) {
    std::string theirs;
    equal = true;
    const EntryChain::Writer compare = [&](std::string_view piece) {
        if (!equal) {
            return 0;
        }
        theirs.resize(piece.size());
        for (std::size_t got = 0; got < piece.size();) {
            const long n = read_some(fs, source, theirs.data() + got, piece.size() - got);
            if (n <= 0) {
                equal = false;
                return n < 0 ? static_cast<int>(-n) : 0;
            }
            got += static_cast<std::size_t>(n);
        }
        equal = theirs == piece;
        return 0;
    };
    const ChainResult again = run_rules(
        fs, held, *rewrite.rules, rewrite.skip, rewrite.encoding, rewrite.text_size,
        [&](char* buffer, std::size_t want) { return read_some(fs, held, buffer, want); },
        &compare);
    return again.error;
}

// Reads a file again, from byte `from` to its end, through `take`: 0 or an errno.
using ReadRest =
    std::function<int(std::uint64_t from, const std::function<void(std::string_view)>& take)>;

// Per entry: it cannot make a replacement in what `look` saw.
std::vector<bool> skips_of(const EntryPrefilter::Scan& look, std::size_t entries) {
    std::vector<bool> skip(entries, true);
    for (std::size_t k = 0; k < entries; ++k) {
        skip[k] = !look.may_apply()[k];
    }
    return skip;
}

// The look at a file guessed to be text in `encoding`: its text, decoded, checked to come back
// byte for byte, and looked at with the entries it needs (`found` filled). A file that does not
// come back is bytes, as any unknown file (`encoding` reset), unless the job named its
// encoding. 0, or why the file cannot be worked on.
int look_at_text(const ReadRest& read_rest, const EncodedRules& rules, TextEncoding& encoding,
                 FileStore::Found& found) {
    std::shared_ptr<const JobRules> text_rules;
    const int rules_error = rules.rules_for(encoding, text_rules);
    std::optional<EntryPrefilter::Scan> look;
    if (rules_error == 0) {
        look.emplace(text_rules->prefilter);
    }
    RoundTrip check(encoding.name);
    std::uint64_t text_size = 0;
    const auto take_text = [&] {
        text_size += check.text().size();
        if (look) {
            look->feed(check.text());
        }
    };
    if (const int error = read_rest(encoding.bom, [&](std::string_view piece) {
            if (check.feed(piece)) {
                take_text();
            }
        })) {
        return error;
    }
    if (!check.finish()) {
        encoding = {};
        return rules.forced() ? failure::kNotInEncoding : 0;
    }
    if (rules_error != 0) {
        return rules_error;
    }
    take_text();
    look->finish();
    found.skip = skips_of(*look, text_rules->entries.size());
    found.encoding = encoding;
    found.rules = std::move(text_rules);
    found.text_size = text_size;
    return 0;
}

}  // namespace

int FileStore::scan(const std::string& path, const EncodedRules& rules, bool count, Found& found,
                    LoadedFile& file, const std::atomic<bool>* cancel) {
    struct stat info {};
    FileDescriptor handle;
    if (const int error =
            open_target(path, count ? Purpose::read : Purpose::rewrite, info, handle)) {
        return error;
    }
    const int fd = handle.get();
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const EntryChain::Reader read = [&](char* into, std::size_t want) -> long {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) {
            return -ECANCELED;
        }
        return read_some(fs_, fd, into, want);
    };
    try {
        char* buffer = buffer_for_scans();
        const ReadRest read_again = [&](std::uint64_t from,
                                        const std::function<void(std::string_view)>& take) {
            if (const long at = fs_.lseek(fd, static_cast<off_t>(from), SEEK_SET); at < 0) {
                return static_cast<int>(-at);
            }
            for (;;) {
                const long got = read(buffer, kScanPiece);
                if (got <= 0) {
                    return static_cast<int>(-got);
                }
                take({buffer, static_cast<std::size_t>(got)});
            }
        };
        const auto& forced = rules.forced();
        // The encoding is guessed on the first look; a guess of an encoding of its own is
        // checked below, while the file is decoded anyway.
        std::optional<EncodingSniffer> sniffer;
        std::optional<Utf8Validator> utf8;
        if (rules.detects()) {
            sniffer.emplace(false);
        } else if (forced && forced->kind == TextEncoding::Kind::utf8) {
            utf8.emplace();
        }
        EntryPrefilter::Scan look(rules.first()->prefilter);
        for (std::uint64_t taken = 0; taken < size;) {
            const long got =
                read(buffer,
                     static_cast<std::size_t>(std::min<std::uint64_t>(kScanPiece, size - taken)));
            if (got <= 0) {
                return got < 0 ? static_cast<int>(-got) : EAGAIN;  // shrank while being read
            }
            const std::string_view piece(buffer, static_cast<std::size_t>(got));
            look.feed(piece);
            if (sniffer) {
                sniffer->feed(piece);
            } else if (utf8) {
                utf8->feed(piece);
            }
            taken += static_cast<std::uint64_t>(got);
        }
        if (const long more = read_some(fs_, fd, buffer, 1); more != 0) {
            return more < 0 ? static_cast<int>(-more) : EAGAIN;  // grew while being read
        }
        look.finish();
        if (utf8 && !utf8->finish()) {
            return failure::kNotInEncoding;
        }
        TextEncoding encoding = forced ? *forced : TextEncoding{};
        if (sniffer) {
            sniffer->finish();
            encoding = sniffer->result();
            if (sniffer->look_again()) {
                EncodingSniffer again(false, true);
                if (const int error = read_again(0, [&](auto piece) { again.feed(piece); })) {
                    return error;
                }
                again.finish();
                encoding = again.result();
            }
        }
        if (encoding.kind == TextEncoding::Kind::decoded) {
            if (const int error = look_at_text(read_again, rules, encoding, found)) {
                return error;
            }
        }
        if (encoding.kind != TextEncoding::Kind::decoded) {
            found.encoding = encoding;
            found.text_size = size;
            if (const int error = rules.rules_for(encoding, found.rules)) {
                return error;
            }
            if (found.rules == rules.first()) {
                found.skip = skips_of(look, found.rules->entries.size());
            } else {
                // Bytes that need other entries than the first look had.
                EntryPrefilter::Scan again(found.rules->prefilter);
                if (const int error = read_again(0, [&](auto piece) { again.feed(piece); })) {
                    return error;
                }
                again.finish();
                found.skip = skips_of(again, found.rules->entries.size());
            }
        }
        const std::size_t entries = found.rules->entries.size();
        found.counted = ChainResult{};
        found.counted.counts.assign(entries, 0);
        found.counted.size = found.text_size;
        if (count && found.any()) {
            found.counted = run_rules(fs_, fd, *found.rules, found.skip, found.encoding,
                                      found.text_size, read, nullptr);
            if (found.counted.error != 0) {
                return found.counted.error;
            }
        }
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    } catch (const std::exception&) {
        return EIO;  // the matcher gave up on the file rather than give a wrong answer
    }
    file.info = info;
    if (!count) {
        file.held = std::move(handle);
    }
    return 0;
}

int FileStore::write_back(const std::string& path, const NewContent& content,
                          const struct stat& loaded, int held) {
    std::string final_path;
    struct stat now {};
    if (const int error = find_unchanged(path, loaded, final_path, now)) {
        return error;
    }
    FileDescriptor own;  // for a caller that holds no descriptor of the file
    if (held < 0) {
        struct stat info {};
        if (const int error = open_target(final_path, Purpose::rewrite, info, own)) {
            return error;
        }
        held = own.get();
    }
    // Every later read is of the file held, so it must still be the one loaded.
    struct stat read_now {};
    if (const int error = fs_.fstat(held, &read_now)) {
        return error;
    }
    if (!untouched(read_now, loaded)) {
        return ESTALE;
    }
    if (const auto* rewrite = std::get_if<FileRewrite>(&content)) {
        const JobRules& rules = *rewrite->rules;
        FileRewrite::Made& made = *rewrite->made;
        made.written = false;
        const int error = replace(final_path, loaded, now, held, [&](Sink& out) {
            const auto size = static_cast<std::uint64_t>(loaded.st_size);
            // Only entries that may undo each other need the old content's hash.
            const bool may_undo = std::ranges::count(rewrite->skip, false) >= 2;
            ContentHash source;
            const EntryChain::Writer write = [&](std::string_view piece) {
                return write_all(out, piece);
            };
            try {
                made.chain = run_rules(
                    fs_, held, rules, rewrite->skip, rewrite->encoding, rewrite->text_size,
                    [&](char* buffer, std::size_t want) {
                        const long got = read_some(fs_, held, buffer, want);
                        if (got > 0 && may_undo) {
                            source.add({buffer, static_cast<std::size_t>(got)});
                        }
                        return got;
                    },
                    &write);
                if (made.chain.error != 0) {
                    return made.chain.error;
                }
                if (made.chain.changing_stages == 0) {
                    return failure::kNothingToChange;  // every match replaced by itself
                }
                if (made.chain.changing_stages == 1 || out.written != size ||
                    out.hash.value() != source.value()) {
                    return 0;
                }
                // Entries that may have undone each other: only the bytes can tell.
                FileDescriptor again(
                    fs_, fs_.open("/proc/self/fd/" + std::to_string(held), O_RDONLY | O_CLOEXEC));
                if (!again) {
                    return -again.get();
                }
                bool equal = false;
                if (const int error = equals_source(fs_, held, *rewrite, again.get(), equal)) {
                    return error;
                }
                return equal ? failure::kNothingToChange : 0;
            } catch (const std::bad_alloc&) {
                return ENOMEM;
            }
        });
        if (error == failure::kNothingToChange) {
            return 0;
        }
        made.written = error == 0;
        return error;
    }
    if (const auto* copy = std::get_if<FileCopy>(&content)) {
        return replace(final_path, loaded, now, held,
                       [&](Sink& out) { return copy_file(fs_, copy->from, out); });
    }
    const std::string_view pieces[] = {std::get<HeldText>(content).text};
    const std::size_t size = pieces[0].size();
    if (static_cast<std::size_t>(now.st_size) == size && holds(held, pieces, size)) {
        return 0;  // the file already holds this content: nothing to write
    }
    return replace(final_path, loaded, now, held,
                   [&](Sink& out) { return write_pieces(out, pieces); });
}

int FileStore::find_unchanged(const std::string& path, const struct stat& loaded,
                              std::string& final_path, struct stat& now) {
    if (const int error = fs_.realpath(path, final_path)) {
        return error;
    }
    if (const int error = fs_.stat(final_path, &now)) {
        return error;
    }
    if (!S_ISREG(now.st_mode)) {
        return failure::kNotRegularFile;
    }
    if (!same_version(now, loaded)) {
        return ESTALE;  // another program changed it since it was loaded: theirs wins
    }
    return 0;
}

int FileStore::replace(const std::string& final_path, const struct stat& loaded,
                       const struct stat& now, int held, const ContentWriter& write_content) {
    if (const int error = may_replace(final_path, now.st_mode)) {
        return error;
    }
    // Made now, so that nothing can fail once the new file is in place.
    const std::string folder = folder_of(final_path), name = name_of(final_path);
    // Every later call is relative to the folder: a path near the system's limit leaves no
    // room for the folder's path and another name, and all of them reach the same folder even
    // if it is renamed meanwhile.
    const int folder_fd = fs_.open(folder, O_RDONLY | O_DIRECTORY);
    if (folder_fd < 0) {
        return -folder_fd;
    }
    FileDescriptor folder_handle(fs_, folder_fd);
    std::string temp;
    struct stat made {};
    FileDescriptor made_fd;  // held, with its lock, until the new file is in place
    std::uint64_t hash = 0;
    if (const int error =
            write_new_file(folder_fd, write_content, now, held, temp, made, made_fd, hash)) {
        return error;
    }
    // Another job or program may have put its own file under the temporary name meanwhile;
    // that one is neither put in place nor removed.
    struct stat named {};
    if (const int error = fs_.fstatat(folder_fd, temp, &named, AT_SYMLINK_NOFOLLOW)) {
        fs_.unlinkat(folder_fd, temp, 0);
        return error;
    }
    if (!same_file(named, made)) {
        return ESTALE;
    }
    if (const int error = put_in_place(folder_fd, temp, name, loaded, held, final_path, made,
                                       made_fd.get(), hash)) {
        return error;
    }
    // The new content is in place; syncing the folder only makes the rename durable sooner,
    // and some file systems refuse it, so its failure is not the file's failure.
    folder_syncer_.sync_after_rename(folder, folder_fd);
    return 0;
}

int FileStore::may_replace(const std::string& final_path, mode_t mode) {
    // Root may write anything; a file nobody may write stays as it is all the same.
    if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
        return EACCES;
    }
    return fs_.access(final_path, W_OK);
}

int FileStore::check_writable(const std::string& path) {
    std::string final_path;
    struct stat info {};
    if (const int error = fs_.realpath(path, final_path)) {
        return error;
    }
    if (const int error = fs_.stat(final_path, &info)) {
        return error;
    }
    if (const int error = may_replace(final_path, info.st_mode)) {
        return error;
    }
    // The new file is made in the folder, and named there.
    return fs_.access(folder_of(final_path), W_OK | X_OK);
}

int FileStore::put_in_place(int folder, const std::string& temp, const std::string& name,
                            const struct stat& loaded, int held, const std::string& final_path,
                            const struct stat& made, int made_fd, std::uint64_t hash) {
    // The last look at the file read: a program that wrote into it since is seen here.
    struct stat read_now {};
    int error = fs_.fstat(held, &read_now);
    if (error == 0 && !untouched(read_now, loaded)) {
        error = ESTALE;
    }
    if (error != 0) {
        fs_.unlinkat(folder, temp, 0);
        return error;
    }
    // Kept before the new file takes its name, so that a job cut short anywhere can still
    // be taken back.
    std::size_t slot = 0;
    std::uint64_t line = 0;
    bool kept = keep_old(held, final_path, read_now, made, hash, slot, line);
    const auto undo_keep = [&](int result) {
        if (kept && result != 0) {
            journal_->drop(slot);
        }
        return result;
    };
    if (journal_ != nullptr) {
        // The new file's sync, put off until now: on a journalling file system the one commit
        // it makes carries the kept file and its line too, and the journal's own syncs below
        // then find little left to do.
        if (const int sync_error = fs_.fsync(made_fd)) {
            fs_.unlinkat(folder, temp, 0);
            return undo_keep(sync_error);
        }
        kept = kept && journal_->make_durable(slot, line) == 0;
    }
    // No other program can slip its file in between a check and this exchange: whatever the
    // name held at that moment is what is now under `temp`.
    error = fs_.renameat2(folder, temp, folder, name, RENAME_EXCHANGE);
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
        // A file system that cannot exchange.
        return undo_keep(rename_in(folder, temp, name, loaded));
    }
    if (error == 0) {
        struct stat displaced {};
        error = fs_.fstatat(folder, temp, &displaced, AT_SYMLINK_NOFOLLOW);
        if (error == 0 && !same_version(displaced, read_now)) {
            error = ESTALE;  // another program's file: it goes back in place
        }
        if (error != 0 && fs_.renameat2(folder, temp, folder, name, RENAME_EXCHANGE) != 0) {
            // Neither file can be put back: both are kept, the displaced one under the
            // temporary name (which folder listings never take), rather than one of them lost.
            return undo_keep(error);
        }
    }
    // The old file; after a failure, our new one.
    fs_.unlinkat(folder, temp, 0);
    return undo_keep(error);
}

bool FileStore::keep_old(int held, const std::string& final_path, const struct stat& read_now,
                         const struct stat& made, std::uint64_t hash, std::size_t& slot,
                         std::uint64_t& line) {
    // A journal that cannot be written costs the job its undo, never the file its change:
    // the journal counts the file as lost, and the job says so at its end.
    return journal_ != nullptr &&
           journal_->keep(held, final_path, read_now, made, hash, slot, line) == 0;
}

int FileStore::rename_in(int folder, const std::string& temp, const std::string& name,
                         const struct stat& loaded) {
    // Not following links: a link put in the file's place meanwhile is a change too.
    struct stat before_rename {};
    int error = fs_.fstatat(folder, name, &before_rename, AT_SYMLINK_NOFOLLOW);
    if (error == 0 && !same_version(before_rename, loaded)) {
        error = ESTALE;
    }
    if (error == 0) {
        error = fs_.renameat(folder, temp, folder, name);
    }
    if (error != 0) {
        fs_.unlinkat(folder, temp, 0);
    }
    return error;
}

bool FileStore::holds(int fd, std::span<const std::string_view> content, std::size_t size) {
    if (fs_.lseek(fd, 0, SEEK_SET) != 0) {
        return false;
    }
    std::string block(std::min(kReadBlock, size) + 1, '\0');
    std::size_t done = 0;
    std::size_t piece = 0;   // the piece that byte `done` lies in
    std::size_t offset = 0;  // and its position there
    for (;;) {
        const long n = read_some(fs_, fd, block.data(), block.size());
        if (n < 0 || done + static_cast<std::size_t>(n) > size) {
            return false;
        }
        if (n == 0) {
            return done == size;
        }
        for (std::size_t at = 0; at < static_cast<std::size_t>(n);) {
            while (offset == content[piece].size()) {
                ++piece;
                offset = 0;
            }
            const std::size_t length =
                std::min(static_cast<std::size_t>(n) - at, content[piece].size() - offset);
            if (content[piece].compare(offset, length, block.data() + at, length) != 0) {
                return false;
            }
            at += length;
            offset += length;
        }
        done += static_cast<std::size_t>(n);
    }
}

int FileStore::write_new_file(int folder, const ContentWriter& write_content,
                              const struct stat& original, int held, std::string& temp_name,
                              struct stat& made, FileDescriptor& made_fd, std::uint64_t& hash) {
    // Unnamed while it is written: a job killed meanwhile leaves nothing in the folder.
    int fd = fs_.openat(folder, ".", O_TMPFILE | O_WRONLY, S_IRUSR | S_IWUSR);
    bool named = false;
    if (fd == -EOPNOTSUPP || fd == -EISDIR || fd == -EINVAL) {
        fd = -EEXIST;  // a file system without unnamed files: named from the start
        for (int attempt = 0; attempt < kTempAttempts && fd == -EEXIST; ++attempt) {
            temp_name = make_temp_name();
            fd = fs_.openat(folder, temp_name, O_WRONLY | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
        }
        named = fd >= 0;
    }
    if (fd < 0) {
        return -fd;
    }
    FileDescriptor file(fs_, fd);
    // Locked before it has a name, and until it is in place: a file of the temporary form that
    // nobody holds locked is one a killed job left, which the next job removes.
    fs_.lock(fd, F_WRLCK);
    Sink out{fs_, fd, {}};
    int error = write_content(out);
    hash = out.hash.value();
    // Owner first: changing it clears set-user-ID bits that the mode then restores.
    if (error == 0 && fs_.running_as_root()) {
        error = fs_.fchown(fd, original.st_uid, original.st_gid);
    }
    if (error == 0) {
        error = fs_.fchmod(fd, original.st_mode & 07777);
    }
    // Last, so that the ACL's mask sets the group bits and no write or change of owner drops a
    // capability; an attribute that cannot be copied keeps the old file in place, rather than
    // a new one with wider access.
    if (error == 0 && FileAttributes::copy(fs_, held, fd) != 0) {
        error = failure::kAttributesNotKept;
    }
    // With a journal, synced only once the old file is kept (see put_in_place).
    if (error == 0 && journal_ == nullptr) {
        error = fs_.fsync(fd);
    }
    if (error == 0) {
        error = fs_.fstat(fd, &made);
    }
    if (error == 0 && !named) {
        error = name_unnamed(folder, fd, temp_name);
        named = error == 0;
    }
    // The lock stays with a second descriptor; closing this one reports a failed write.
    FileDescriptor lock_holder(fs_, error == 0 ? fs_.dup(fd) : -1);
    const int close_error = file.close();
    if (error == 0) {
        error = lock_holder ? close_error : -lock_holder.get();
    }
    if (error != 0 && named) {
        fs_.unlinkat(folder, temp_name, 0);
    }
    if (error == 0) {
        made_fd = std::move(lock_holder);
    }
    return error;
}

int FileStore::name_unnamed(int folder, int fd, std::string& temp_name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    int error = EEXIST;
    for (int attempt = 0; attempt < kTempAttempts && error == EEXIST; ++attempt) {
        temp_name = make_temp_name();
        error = fs_.linkat(AT_FDCWD, self, folder, temp_name, AT_SYMLINK_FOLLOW);
        if (error == ENOENT) {
            // No /proc: linking the descriptor itself, which only some processes may do.
            error = fs_.linkat(fd, "", folder, temp_name, AT_EMPTY_PATH);
        }
    }
    return error;
}

int FileStore::list_folder(const std::string& folder, std::vector<std::string>& paths) {
    if (folder.empty()) {
        return ENOENT;
    }
    std::vector<std::string> names;
    if (const int error = fs_.list_names(folder, names)) {
        return error;
    }
    std::sort(names.begin(), names.end());
    const std::string prefix = folder.back() == '/' ? folder : folder + '/';
    paths.clear();
    for (const auto& name : names) {
        if (is_temp_name(name)) {
            continue;
        }
        std::string path = prefix + name;
        struct stat info {};
        if (fs_.stat(path, &info) == 0 && S_ISREG(info.st_mode)) {
            paths.push_back(std::move(path));
        }
    }
    return 0;
}

void FileStore::clear_leftovers(const std::vector<std::string>& targets) {
    std::set<std::string> folders;
    for (const auto& target : targets) {
        std::string final_path;
        if (fs_.realpath(target, final_path) == 0) {
            folders.insert(folder_of(final_path));
        }
    }
    for (const auto& folder : folders) {
        std::vector<std::string> names;
        if (fs_.list_names(folder, names) != 0 ||
            std::none_of(names.begin(), names.end(), is_temp_name)) {
            continue;
        }
        const FileDescriptor folder_fd(fs_, fs_.open(folder, O_RDONLY | O_DIRECTORY));
        for (const auto& name : names) {
            if (!folder_fd || !is_temp_name(name)) {
                continue;
            }
            // A live job holds its file locked from before it is named until it is in place
            // or removed: only a file nobody holds is a leftover.
            const FileDescriptor leftover(
                fs_,
                fs_.openat(folder_fd.get(), name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
            struct stat held {};
            struct stat named {};
            if (leftover && fs_.fstat(leftover.get(), &held) == 0 && S_ISREG(held.st_mode) &&
                fs_.lock(leftover.get(), F_WRLCK) == 0 &&
                fs_.fstatat(folder_fd.get(), name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                same_file(named, held)) {
                fs_.unlinkat(folder_fd.get(), name, 0);
            }
        }
    }
}

bool FileStore::is_temp_name(std::string_view name) {
    return name.size() == kTempPrefix.size() + kTempRandomSize && name.starts_with(kTempPrefix) &&
           name.find_first_not_of(kTempDigits, kTempPrefix.size()) == std::string_view::npos;
}

}  // namespace wendrel::core
