#include "entry_chain.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>
#include <utility>

#include "scanner.h"

namespace wendrel::core {

std::size_t ChainResult::total() const {
    return std::accumulate(counts.begin(), counts.end(), std::size_t{0});
}

namespace {

constexpr std::size_t kLargestWindow = 1 << 20;

// The end of the chain: counts the result and hands it to the writer, large pieces as they
// are and runs of small ones (a text dense with replacements) gathered first, so that a piece
// does not cost a write of its own. A stage's outlet (this, or the next stage) takes what
// room() says it has room for through put(), and end() once all has come.
class ResultSink {
  public:
    explicit ResultSink(const EntryChain::Writer* write) : write_(write) {}

    std::size_t room() { return std::numeric_limits<std::size_t>::max(); }

    int put(std::string_view piece) {
        size_ += piece.size();
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

    int end() { return flush(); }

    std::uint64_t size() const { return size_; }

  private:
    int flush() {
        const int error = write_ == nullptr || gathered_.empty() ? 0 : (*write_)(gathered_);
        gathered_.clear();
        return error;
    }

    static constexpr std::size_t kGather = 256 * 1024;
    const EntryChain::Writer* write_;
    std::string gathered_;
    std::uint64_t size_ = 0;
};

// The most bytes a pass of `entry` can make of `size` bytes: every find text replaced.
std::uint64_t grown(std::uint64_t size, const Entry& entry) {
    const std::uint64_t n = entry.find.size(), r = entry.replace.size();
    if (n == 0 || r <= n) {
        return size;
    }
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    const std::uint64_t matches = size / n, more = r - n;
    return matches != 0 && more > (most - size) / matches ? most : size + matches * more;
}

}  // namespace

// One entry's pass over the bytes the stage before hands on. Its window holds input from the
// byte before the first start not yet ruled out (the whole-word test reads it) up to what has
// come in so far; what is decided goes on as far as the next stage has room.
class EntryChain::Stage {
  public:
    Stage(const Entry& entry, MatchOptions options, std::size_t capacity)
        : n_(entry.find.size()),
          replace_(entry.replace),
          scanner_(entry.find, options),
          // Room for a candidate with a byte on either side, and for more to come in beside it.
          capacity_(std::max<std::size_t>(2 * (n_ + 2) + 64, capacity)),
          buffer_(new char[capacity_]) {}

    std::size_t room() {
        compact();
        return capacity_ - filled_;
    }

    int put(std::string_view bytes) {
        std::memcpy(buffer_.get() + filled_, bytes.data(), bytes.size());
        filled_ += bytes.size();
        return 0;
    }

    /// Where up to room() bytes can be read straight in; commit() says how many were.
    char* space() {
        compact();
        return buffer_.get() + filled_;
    }
    void commit(std::size_t size) { filled_ += size; }

    int end() {
        ended_ = true;
        return 0;
    }

    bool finished() const { return finished_; }
    std::size_t count() const { return count_; }
    bool changing() const { return changing_; }

    /// Works through the input as far as `out` takes the result; sets `moved` when anything
    /// went on. Gives 0 or the errno of a write. Made for each kind of outlet, so that the
    /// calls made per match are direct ones a dense text can afford.
    template <typename Out>
    int process(Out& out, bool& moved) {
        while (!finished_) {
            if (in_match_) {
                bool all = false;
                if (const int error = emit_to(match_at_, out, moved, all); error != 0 || !all) {
                    return error;
                }
                while (replaced_ < replace_.size()) {
                    const std::size_t room = out.room();
                    if (room == 0) {
                        return 0;
                    }
                    const auto piece = replace_.substr(replaced_, room);
                    if (const int error = out.put(piece)) {
                        return error;
                    }
                    replaced_ += piece.size();
                    moved = true;
                }
                in_match_ = false;
                emitted_ = from_ = match_at_ + n_;
            }
            const TextWindow view{buffer_.get(), base_, filled_, ended_};
            if (const std::size_t at = scanner_.next(view, from_); at != Scanner::npos) {
                ++count_;
                changing_ = changing_ || replace_.size() != n_ ||
                            std::memcmp(buffer_.get() + (at - base_), replace_.data(), n_) != 0;
                in_match_ = true;
                match_at_ = at;
                replaced_ = 0;
                continue;
            }
            bool all = false;
            if (ended_) {
                if (const int error = emit_to(base_ + filled_, out, moved, all);
                    error != 0 || !all) {
                    return error;
                }
                finished_ = moved = true;
                return out.end();
            }
            // Every start before the first undecided one is ruled out; all but the byte just
            // before it, which the whole-word test of that start reads, can go on.
            from_ = std::max(from_, scanner_.undecided(view));
            return emit_to(from_ > 0 ? from_ - 1 : 0, out, moved, all);
        }
        return 0;
    }

  private:
    // Hands input bytes [emitted_, to) on as far as `out` has room; `all` when every one went.
    template <typename Out>
    int emit_to(std::size_t to, Out& out, bool& moved, bool& all) {
        while (emitted_ < to) {
            const std::size_t room = out.room();
            if (room == 0) {
                all = false;
                return 0;
            }
            const std::size_t size = std::min(room, to - emitted_);
            if (const int error = out.put({buffer_.get() + (emitted_ - base_), size})) {
                return error;
            }
            emitted_ += size;
            moved = true;
        }
        all = true;
        return 0;
    }

    // Drops what is handed on and no longer read.
    void compact() {
        const std::size_t keep = std::min(emitted_, from_ > 0 ? from_ - 1 : 0);
        if (keep <= base_) {
            return;
        }
        const std::size_t drop = keep - base_;
        std::memmove(buffer_.get(), buffer_.get() + drop, filled_ - drop);
        base_ += drop;
        filled_ -= drop;
    }

    const std::size_t n_;
    const std::string_view replace_;
    Scanner scanner_;
    const std::size_t capacity_;
    const std::unique_ptr<char[]> buffer_;
    std::size_t base_ = 0;     // input position of buffer_[0]
    std::size_t filled_ = 0;   // bytes of the buffer holding input
    std::size_t from_ = 0;     // first start not yet ruled out
    std::size_t emitted_ = 0;  // input bytes dealt with in the result
    bool ended_ = false;       // the input has all come in
    bool finished_ = false;    // and all of the result has gone on
    bool in_match_ = false;    // a match at match_at_ is being handed on
    std::size_t match_at_ = 0;
    std::size_t replaced_ = 0;  // bytes of its replacement handed on so far
    std::size_t count_ = 0;
    bool changing_ = false;
};

EntryChain::EntryChain(const std::vector<Entry>& entries, MatchOptions options,
                       const std::vector<bool>& skip, std::size_t budget)
    : entries_(entries), options_(options), budget_(budget) {
    for (std::size_t k = 0; k < entries.size(); ++k) {
        // An empty find text never occurs: its stage would only copy.
        if (!entries[k].find.empty() && (skip.empty() || !skip[k])) {
            entry_of_.push_back(k);
        }
    }
}

EntryChain::~EntryChain() = default;

ChainResult EntryChain::run(std::uint64_t size, const Reader& read, const Writer* write) {
    ChainResult result;
    result.counts.assign(entries_.size(), 0);
    // Each run starts afresh, with windows no larger than the text can grow to.
    stages_.clear();
    const std::size_t window =
        std::min(budget_ / std::max<std::size_t>(entry_of_.size(), 1), kLargestWindow);
    std::uint64_t most_in = size;
    for (const std::size_t k : entry_of_) {
        const auto capacity =
            static_cast<std::size_t>(std::min<std::uint64_t>(window, most_in + 1));
        stages_.push_back(std::make_unique<Stage>(entries_[k], options_, capacity));
        most_in = grown(most_in, entries_[k]);
    }
    ResultSink sink(write);
    // Works every stage, first to last, until no byte moves.
    const auto pump = [&]() {
        for (bool moved = true; moved;) {
            moved = false;
            for (std::size_t s = 0; s < stages_.size(); ++s) {
                const int error = s + 1 < stages_.size()
                                      ? stages_[s]->process(*stages_[s + 1], moved)
                                      : stages_[s]->process(sink, moved);
                if (error != 0) {
                    return error;
                }
            }
        }
        return 0;
    };
    std::unique_ptr<char[]> copy;  // with no stage, the text only passes through
    if (stages_.empty()) {
        copy.reset(new char[static_cast<std::size_t>(
            std::min<std::uint64_t>(kLargestWindow, std::max<std::uint64_t>(size, 1)))]);
    }
    for (std::uint64_t taken = 0; taken < size;) {
        const std::size_t room =
            stages_.empty()
                ? static_cast<std::size_t>(std::min<std::uint64_t>(kLargestWindow, size))
                : stages_.front()->room();
        char* into = stages_.empty() ? copy.get() : stages_.front()->space();
        const long got =
            read(into, static_cast<std::size_t>(std::min<std::uint64_t>(room, size - taken)));
        if (got <= 0) {
            result.error = got < 0 ? static_cast<int>(-got) : EAGAIN;  // shrank while being read
            return result;
        }
        taken += static_cast<std::uint64_t>(got);
        if (stages_.empty()) {
            result.error = sink.put({copy.get(), static_cast<std::size_t>(got)});
        } else {
            stages_.front()->commit(static_cast<std::size_t>(got));
            result.error = pump();
        }
        if (result.error != 0) {
            return result;
        }
    }
    char probe;
    if (const long more = read(&probe, 1); more != 0) {
        result.error = more < 0 ? static_cast<int>(-more) : EAGAIN;  // grew while being read
        return result;
    }
    if (stages_.empty()) {
        result.error = sink.end();
    } else {
        stages_.front()->end();
        result.error = pump();
    }
    for (std::size_t s = 0; s < stages_.size(); ++s) {
        result.counts[entry_of_[s]] = stages_[s]->count();
        result.changing_stages += stages_[s]->changing() ? 1 : 0;
    }
    result.size = sink.size();
    stages_.clear();
    return result;
}

}  // namespace wendrel::core
