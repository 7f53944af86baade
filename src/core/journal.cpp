#include "journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <ctime>

#include "file_system.h"

namespace wendrel::core {
namespace manifest {
namespace {

std::string escape(std::string_view path) {
    std::string out;
    for (const char c : path) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    for (;;) {
        const auto tab = line.find('\t');
        out.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) {
            return out;
        }
        line.remove_prefix(tab + 1);
    }
}

template <typename T>
bool number(std::string_view word, T& value, int base = 10) {
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, base);
    return error == std::errc() && end == word.data() + word.size();
}

}  // namespace

bool parse_number(std::string_view word, std::size_t& value) {
    return number(word, value);
}
bool parse_number(std::string_view word, std::int64_t& value) {
    return number(word, value);
}

std::string kept_line(const KeptFile& f) {
    char hash[17];
    std::to_chars_result r = std::to_chars(hash, hash + 16, f.new_hash, 16);
    *r.ptr = '\0';
    std::string line = "kept";
    for (const std::uint64_t n : {static_cast<std::uint64_t>(f.slot), f.old_dev, f.old_ino,
                                  f.old_size, f.new_dev, f.new_ino, f.new_size}) {
        line += '\t' + std::to_string(n);
    }
    line += '\t' + std::to_string(f.new_mtime_sec) + '\t' + std::to_string(f.new_mtime_nsec);
    return line + '\t' + hash + '\t' + escape(f.path);
}

bool parse_kept(std::string_view line, KeptFile& f) {
    const auto w = words(line);
    return w.size() == 12 && w[0] == "kept" && number(w[1], f.slot) && number(w[2], f.old_dev) &&
           number(w[3], f.old_ino) && number(w[4], f.old_size) && number(w[5], f.new_dev) &&
           number(w[6], f.new_ino) && number(w[7], f.new_size) && number(w[8], f.new_mtime_sec) &&
           number(w[9], f.new_mtime_nsec) && number(w[10], f.new_hash, 16) &&
           !(f.path = unescape(w[11])).empty();
}

}  // namespace manifest

namespace {

constexpr std::string_view kManifest = "manifest";
constexpr std::string_view kLimitFile = "size-limit";

int read_all(FileSystem& fs, const std::string& path, std::string& text) {
    const int fd = fs.open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return -fd;
    }
    FileDescriptor file(fs, fd);
    char block[1 << 16];
    text.clear();
    for (;;) {
        const long n = fs.read(fd, block, sizeof block);
        if (n == -EINTR) {
            continue;
        }
        if (n <= 0) {
            return static_cast<int>(-n);
        }
        text.append(block, static_cast<std::size_t>(n));
    }
}

int write_file(FileSystem& fs, const std::string& path, std::string_view text, int flags) {
    const int fd = fs.open(path, flags | O_WRONLY | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        return -fd;
    }
    FileDescriptor file(fs, fd);
    while (!text.empty()) {
        const long n = fs.write(fd, text.data(), text.size());
        if (n <= 0 && n != -EINTR) {
            return n == 0 ? EIO : static_cast<int>(-n);
        }
        text.remove_prefix(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    const int error = fs.fsync(fd);
    return error != 0 ? error : file.close();
}

// Job folders are named after the local time they started, so that names sort as jobs ran.
std::string time_id(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

}  // namespace

Journal::Journal(FileSystem& fs, std::string root) : fs_(fs), root_(std::move(root)) {}

std::string Journal::default_root() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/wendrel";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/state/wendrel";
    }
    return {};
}

int Journal::make_root() {
    if (root_.empty() || root_[0] != '/') {
        return ENOENT;
    }
    // Like mkdir -p; the last folder private, since it keeps copies of the user's files.
    for (std::size_t slash = root_.find('/', 1);; slash = root_.find('/', slash + 1)) {
        const std::string part = root_.substr(0, slash);
        const bool last = slash == std::string::npos;
        const int error = fs_.mkdirat(AT_FDCWD, part, last ? S_IRWXU : 0755);
        if (error != 0 && error != EEXIST) {
            return error;
        }
        if (last) {
            return 0;
        }
    }
}

int Journal::begin(std::string_view undoes, std::unique_ptr<JournalWriter>& writer) {
    if (const int error = make_root()) {
        return error;
    }
    prune();
    const std::string base = time_id(std::time(nullptr));
    // Ids only ever grow, even within one second and after older jobs were dropped: the
    // newest job is the one whose id sorts last.
    int n = 1;
    std::vector<std::string> names;
    fs_.list_names(root_, names);
    for (const auto& name : names) {
        if (name == base) {
            n = std::max(n, 2);
        } else if (name.size() == base.size() + 4 && name.starts_with(base + "-")) {
            std::size_t number = 0;
            if (manifest::parse_number(std::string_view(name).substr(base.size() + 1), number)) {
                n = std::max(n, static_cast<int>(number) + 1);
            }
        }
    }
    std::string id;
    int error = EEXIST;
    for (; n < 1000 && error == EEXIST; ++n) {
        // Padded, so that ids of one second sort as they were made.
        id = n == 1 ? base
                    : base + "-" +
                          std::string(n < 10    ? "00"
                                      : n < 100 ? "0"
                                                : "") +
                          std::to_string(n);
        error = fs_.mkdirat(AT_FDCWD, root_ + "/" + id, S_IRWXU);
    }
    if (error != 0) {
        return error;
    }
    const std::string folder = root_ + "/" + id;
    const int folder_fd = fs_.open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd < 0) {
        fs_.unlinkat(AT_FDCWD, folder, AT_REMOVEDIR);
        return -folder_fd;
    }
    FileDescriptor folder_handle(fs_, folder_fd);
    std::string header =
        std::string(manifest::kFirstLine) + "\nstarted\t" + std::to_string(std::time(nullptr));
    if (!undoes.empty()) {
        header += "\t" + std::string(undoes);
    }
    header += "\n";
    const int fd =
        fs_.openat(folder_fd, std::string(kManifest),
                   O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        fs_.unlinkat(AT_FDCWD, folder, AT_REMOVEDIR);
        return -fd;
    }
    FileDescriptor manifest(fs_, fd);
    long written = fs_.write(fd, header.data(), header.size());
    error = written == static_cast<long>(header.size()) ? fs_.fsync(fd)
            : written < 0                               ? static_cast<int>(-written)
                                                        : ENOSPC;
    if (error != 0) {
        manifest.close();
        fs_.unlinkat(folder_fd, std::string(kManifest), 0);
        fs_.unlinkat(AT_FDCWD, folder, AT_REMOVEDIR);
        return error;
    }
    writer = std::make_unique<JournalWriter>(fs_, id, folder, std::move(folder_handle),
                                             std::move(manifest));
    return 0;
}

int Journal::read(const std::string& id, JournalJob& job) {
    if (id.empty() || id.find('/') != std::string::npos || id[0] == '.') {
        return ENOENT;
    }
    std::string text;
    if (const int error = read_all(fs_, root_ + "/" + id + "/" + std::string(kManifest), text)) {
        return error;
    }
    if (!text.starts_with(manifest::kFirstLine)) {
        return EINVAL;
    }
    job = JournalJob{};
    job.id = id;
    std::size_t at = 0;
    while (at < text.size()) {
        auto end = text.find('\n', at);
        if (end == std::string::npos) {
            break;  // a line the job was killed while writing
        }
        const std::string_view line(text.data() + at, end - at);
        at = end + 1;
        const auto tab = line.find('\t');
        const std::string_view word = line.substr(0, tab);
        const std::string_view rest = tab == std::string_view::npos ? "" : line.substr(tab + 1);
        KeptFile kept;
        if (word == "kept" && manifest::parse_kept(line, kept)) {
            job.files.push_back(std::move(kept));
        } else if (word == "dropped") {
            std::size_t slot = 0;
            manifest::parse_number(rest, slot);
            std::erase_if(job.files, [&](const KeptFile& f) { return f.slot == slot; });
        } else if (word == "started") {
            const auto second = rest.find('\t');
            manifest::parse_number(rest.substr(0, second), job.started);
            if (second != std::string_view::npos) {
                job.undoes = rest.substr(second + 1);
            }
        } else if (word == "ended") {
            job.ended = true;
        } else if (word == "undone") {
            job.undone_by = rest;
        }
    }
    return 0;
}

int Journal::list(std::vector<JournalJob>& jobs) {
    jobs.clear();
    std::vector<std::string> names;
    if (const int error = fs_.list_names(root_, names)) {
        return error == ENOENT ? 0 : error;
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        JournalJob job;
        if (name.size() >= 15 && std::isdigit(static_cast<unsigned char>(name[0])) &&
            read(name, job) == 0) {
            jobs.push_back(std::move(job));
        }
    }
    return 0;
}

int Journal::last_undoable(JournalJob& job) {
    std::vector<JournalJob> jobs;
    if (const int error = list(jobs)) {
        return error;
    }
    for (auto it = jobs.rbegin(); it != jobs.rend(); ++it) {
        if (it->undone_by.empty() && it->ended && !it->files.empty()) {
            job = std::move(*it);
            return 0;
        }
    }
    return ENOENT;
}

int Journal::mark_undone(const std::string& id, const std::string& by) {
    return write_file(fs_, root_ + "/" + id + "/" + std::string(kManifest), "undone\t" + by + "\n",
                      O_APPEND);
}

std::string Journal::kept_path(const std::string& id, std::size_t slot) const {
    return root_ + "/" + id + "/" + std::to_string(slot);
}

std::uint64_t Journal::limit_mib() {
    std::string text;
    std::uint64_t mib = kDefaultLimitMiB;
    if (read_all(fs_, root_ + "/" + std::string(kLimitFile), text) == 0) {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
            text.pop_back();
        }
        manifest::parse_number(text, mib);
    }
    return mib;
}

int Journal::set_limit_mib(std::uint64_t mib) {
    if (const int error = make_root()) {
        return error;
    }
    return write_file(fs_, root_ + "/" + std::string(kLimitFile), std::to_string(mib) + "\n",
                      O_CREAT | O_TRUNC);
}

std::uint64_t Journal::job_bytes(const std::string& id) {
    std::vector<std::string> names;
    std::uint64_t bytes = 0;
    if (fs_.list_names(root_ + "/" + id, names) == 0) {
        for (const auto& name : names) {
            struct stat info {};
            if (fs_.stat(root_ + "/" + id + "/" + name, &info) == 0) {
                bytes += static_cast<std::uint64_t>(info.st_blocks) * 512;
            }
        }
    }
    return bytes;
}

void Journal::remove_job(const std::string& id) {
    const std::string folder = root_ + "/" + id;
    std::vector<std::string> names;
    if (fs_.list_names(folder, names) == 0) {
        // The manifest last: a folder left half-removed still reads as a job.
        std::stable_partition(names.begin(), names.end(),
                              [](const std::string& name) { return name != kManifest; });
        for (const auto& name : names) {
            fs_.unlinkat(AT_FDCWD, folder + "/" + name, 0);
        }
    }
    fs_.unlinkat(AT_FDCWD, folder, AT_REMOVEDIR);
}

void Journal::prune() {
    std::vector<JournalJob> jobs;
    if (list(jobs) != 0) {
        return;
    }
    // A job still being written (or killed) is left alone for a day: it may be another
    // window's, running now.
    const std::int64_t now = std::time(nullptr);
    std::erase_if(jobs, [&](const JournalJob& job) {
        return !job.ended && now - job.started < 24 * 60 * 60;
    });
    std::vector<std::uint64_t> sizes;
    std::uint64_t total = 0;
    for (const auto& job : jobs) {
        sizes.push_back(job_bytes(job.id));
        total += sizes.back();
    }
    const std::uint64_t limit = limit_mib() << 20;
    // Room for the job about to start: at most kMaxJobs - 1 stay.
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (jobs.size() - i < kMaxJobs && total <= limit) {
            break;
        }
        remove_job(jobs[i].id);
        total -= sizes[i];
    }
}

}  // namespace wendrel::core
