#include "entry_pass.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

#include "large_buffer.h"
#include "scanner.h"

namespace wendrel::core {
namespace {

// Calls `on_match(at)` for each occurrence in a text held whole, first to last, while it
// gives true.
template <typename OnMatch>
void each_occurrence(const std::string& text, const Entry& entry, MatchOptions options,
                     OnMatch on_match) {
    Scanner scanner(entry.find, options);
    const TextWindow whole{text.data(), 0, text.size(), true};
    for (std::size_t from = 0, at; (at = scanner.next(whole, from)) != Scanner::npos;
         from = at + entry.find.size()) {
        if (!on_match(at)) {
            return;
        }
    }
}

// Hands the result of a streamed pass on: large pieces as they are, runs of small ones (a text
// dense with replacements) gathered first, so that a piece does not cost a write of its own.
class ResultSink {
  public:
    explicit ResultSink(const EntryPass::Writer* write) : write_(write) {}

    int put(std::string_view piece) {
        if (write_ == nullptr || piece.empty()) {
            return 0;
        }
        if (gathered_.size() + piece.size() > kGather) {
            if (const int error = flush()) {
                return error;
            }
        }
        if (piece.size() >= kGather) {
            return (*write_)(piece);
        }
        if (gathered_.capacity() < kGather) {
            gathered_.reserve(kGather);
        }
        gathered_.append(piece);
        return 0;
    }

    int flush() {
        const int error = write_ == nullptr || gathered_.empty() ? 0 : (*write_)(gathered_);
        gathered_.clear();
        return error;
    }

  private:
    static constexpr std::size_t kGather = 256 * 1024;
    const EntryPass::Writer* write_;
    std::string gathered_;
};

}  // namespace

std::size_t EntryPass::apply(std::string& text, const Entry& entry, MatchOptions options,
                             std::size_t most) {
    const std::size_t n = entry.find.size();
    std::size_t done = 0;  // bytes of `text` dealt with
    std::size_t count = 0;
    // A short find text replaced by a long one can multiply the text's size: the result is
    // checked as it grows, before it takes the memory it would need.
    const auto check_room = [&](std::size_t more) {
        if (more > most || out_.size() > most - more) {
            out_.clear();
            throw std::length_error("the result of the pass is too long");
        }
    };
    each_occurrence(text, entry, options, [&](std::size_t at) {
        if (count++ == 0) {
            out_.clear();
            reserve_large(out_,
                          std::min(most, text.size() + (entry.replace.size() > n ? 4096 : 0)));
        }
        check_room(at - done + entry.replace.size());
        out_.append(text, done, at - done);
        out_.append(entry.replace);
        done = at + n;
        return true;
    });
    if (count > 0) {
        check_room(text.size() - done);
        out_.append(text, done, std::string::npos);
        text.swap(out_);
    }
    return count;
}

std::optional<std::size_t> EntryPass::plan(const std::string& text, const Entry& entry,
                                           MatchOptions options, std::vector<Splice>& runs) {
    runs.clear();
    // Where matches lie a few bytes apart, the runs would take more memory than a copy of the
    // text, and writing them would copy each one anyway.
    const std::size_t most_runs = text.size() / 256 + 64;
    std::size_t done = 0;
    std::size_t count = 0;
    bool dense = false;
    each_occurrence(text, entry, options, [&](std::size_t at) {
        if (runs.size() >= most_runs) {
            dense = true;
            return false;
        }
        if (at > done) {
            runs.push_back(Splice{done, at - done, false});
        }
        if (!entry.replace.empty()) {
            runs.push_back(Splice{0, entry.replace.size(), true});
        }
        done = at + entry.find.size();
        ++count;
        return true;
    });
    if (dense) {
        return std::nullopt;
    }
    if (text.size() > done) {
        runs.push_back(Splice{done, text.size() - done, false});
    }
    return count;
}

StreamResult EntryPass::stream(std::uint64_t size, const Reader& read, const Entry& entry,
                               MatchOptions options, const Writer* write, std::size_t window) {
    const std::size_t n = entry.find.size();
    const std::string& repl = entry.replace;
    Scanner scanner(entry.find, options);
    // Room for a candidate with a byte on either side, and for more to be read beside it; no
    // larger than the source needs.
    const std::size_t capacity = std::max<std::size_t>(
        2 * (n + 2) + 64, static_cast<std::size_t>(std::min<std::uint64_t>(window, size + 1)));
    const std::unique_ptr<char[]> buffer(new char[capacity]);
    ResultSink sink(write);
    StreamResult result;
    std::size_t base = 0;     // source position of buffer[0]
    std::size_t filled = 0;   // bytes of the buffer holding source bytes
    std::uint64_t taken = 0;  // bytes read from the source so far
    std::size_t from = 0;     // first start not yet ruled out
    std::size_t emitted = 0;  // source bytes dealt with in the result
    const auto emit_to = [&](std::size_t to) {
        const std::size_t from_emitted = std::exchange(emitted, std::max(emitted, to));
        return to > from_emitted ? sink.put(std::string_view(buffer.get() + (from_emitted - base),
                                                             to - from_emitted))
                                 : 0;
    };
    const auto fill = [&]() {
        while (taken < size && filled < capacity) {
            const long got = read(
                buffer.get() + filled,
                static_cast<std::size_t>(std::min<std::uint64_t>(capacity - filled, size - taken)));
            if (got <= 0) {
                return got < 0 ? static_cast<int>(-got) : EAGAIN;  // shrank while being read
            }
            filled += static_cast<std::size_t>(got);
            taken += static_cast<std::uint64_t>(got);
        }
        return 0;
    };
    for (;;) {
        if ((result.error = fill()) != 0) {
            return result;
        }
        const TextWindow view{buffer.get(), base, filled, taken == size};
        for (std::size_t at; (at = scanner.next(view, from)) != Scanner::npos; from = at + n) {
            ++result.count;
            result.changes = result.changes || repl.size() != n ||
                             std::memcmp(buffer.get() + (at - base), repl.data(), n) != 0;
            if ((result.error = emit_to(at)) != 0 || (result.error = sink.put(repl)) != 0) {
                return result;
            }
            emitted = at + n;
        }
        if (view.ends_text) {
            break;
        }
        // Everything before the first undecided start is done with, but for the byte just
        // before it, which the whole-word test of that start reads.
        from = std::max(from, scanner.undecided(view));
        const std::size_t keep = from > 0 ? from - 1 : 0;
        if ((result.error = emit_to(keep)) != 0) {
            return result;
        }
        const std::size_t drop = keep > base ? keep - base : 0;
        std::memmove(buffer.get(), buffer.get() + drop, filled - drop);
        base += drop;
        filled -= drop;
    }
    char probe;
    if (const long more = read(&probe, 1); more != 0) {
        result.error = more < 0 ? static_cast<int>(-more) : EAGAIN;  // grew while being read
        return result;
    }
    if ((result.error = emit_to(static_cast<std::size_t>(size))) == 0) {
        result.error = sink.flush();
    }
    return result;
}

}  // namespace wendrel::core
