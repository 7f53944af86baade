#include "entry_prefilter.h"

#include <hs.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace wendrel::core {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

unsigned char lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

// Scanner's word rule: only the ASCII letters count.
bool is_word(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
}

std::string folded(std::string_view text, bool fold) {
    std::string out(text);
    if (fold) {
        for (char& c : out) {
            c = static_cast<char>(lower(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

std::bitset<256> bytes_of(std::string_view text, bool fold) {
    std::bitset<256> set;
    for (const char c : folded(text, fold)) {
        set.set(static_cast<unsigned char>(c));
    }
    return set;
}

}  // namespace

// The compiled find texts and a scratch that each Scan clones, so no two threads share one.
class EntryPrefilter::VectorscanDatabase {
  public:
    /// Null when the CPU or the library refuses.
    static std::unique_ptr<VectorscanDatabase> build(const std::vector<Pattern>& patterns,
                                                     MatchOptions options) {
        if (patterns.empty() || hs_valid_platform() != HS_SUCCESS) {
            return nullptr;
        }
        std::vector<const char*> texts;
        std::vector<std::size_t> sizes;
        std::vector<unsigned> ids;
        // A Scan needs only the first occurrence of each text, unless the word rule may turn
        // raw hits down.
        const unsigned flags = (options.match_case ? 0u : unsigned{HS_FLAG_CASELESS}) |
                               (options.whole_word ? 0u : unsigned{HS_FLAG_SINGLEMATCH});
        for (std::size_t p = 0; p < patterns.size(); ++p) {
            texts.push_back(patterns[p].text.data());
            sizes.push_back(patterns[p].text.size());
            ids.push_back(static_cast<unsigned>(p));
        }
        const std::vector<unsigned> all_flags(patterns.size(), flags);
        auto built = std::unique_ptr<VectorscanDatabase>(new VectorscanDatabase);
        hs_compile_error_t* error = nullptr;
        if (hs_compile_lit_multi(texts.data(), all_flags.data(), ids.data(), sizes.data(),
                                 static_cast<unsigned>(patterns.size()), HS_MODE_STREAM, nullptr,
                                 &built->database_, &error) != HS_SUCCESS) {
            hs_free_compile_error(error);
            return nullptr;
        }
        if (hs_alloc_scratch(built->database_, &built->scratch_) != HS_SUCCESS) {
            return nullptr;
        }
        return built;
    }

    ~VectorscanDatabase() {
        hs_free_scratch(scratch_);
        hs_free_database(database_);
    }

    const hs_database_t* database() const { return database_; }
    const hs_scratch_t* scratch() const { return scratch_; }

  private:
    VectorscanDatabase() = default;

    hs_database_t* database_ = nullptr;
    hs_scratch_t* scratch_ = nullptr;
};

// Our own matcher. A block (2 or 3 bytes) is read every `stride` bytes; a find text that starts
// in the `stride` bytes before a block's window holds that block among its first `span` bytes,
// so a block that no find text holds there rules out all those starts at once. The reads do not
// depend on each other (a Wu-Manber skip would chain them), so the CPU overlaps them. Where a
// block does not rule the starts out, a bitmap of hashed key prefixes (the first bytes of each
// find text, at most 4) picks the candidates, which an exact comparison verifies.
class EntryPrefilter::OwnTable {
  public:
    OwnTable(const std::vector<Pattern>& patterns, bool fold) : fold_(fold) {
        std::size_t shortest = patterns.empty() ? 1 : kMaxSpan;
        for (const Pattern& pattern : patterns) {
            shortest = std::min(shortest, pattern.text.size());
        }
        key_ = Hash(std::min<std::size_t>(shortest, 4), fold);
        span_ = shortest;
        block_ = Hash(span_ >= 6 ? 3 : 2, fold);
        for (std::size_t p = 0; p < patterns.size(); ++p) {
            // Padded, since keys and blocks are read four bytes at a time.
            const std::string padded = patterns[p].text + std::string(4, '\0');
            const std::uint32_t hash = key_(padded.data());
            set(keys_, hash);
            candidates_.emplace_back(hash, p);
            for (std::size_t at = 0; skips() && at + block_.size() <= span_; ++at) {
                set(blocks_, block_(padded.data() + at));
            }
        }
        std::sort(candidates_.begin(), candidates_.end());
    }

    /// Whether blocks can rule out more than one start: the shortest find text is long enough.
    bool skips() const { return span_ >= 3; }
    std::size_t span() const { return span_; }
    std::size_t stride() const { return span_ - block_.size() + 1; }
    /// Whether a find text may start in the `stride` bytes from `at`; four bytes must be
    /// readable from the block at the end of their window.
    bool may_start_within(const char* at) const {
        return test(blocks_, block_(at + span_ - block_.size()));
    }
    /// Hash of the key prefix at `at`; four bytes must be readable there.
    std::uint32_t key(const char* at) const { return key_(at); }
    bool maybe(std::uint32_t hash) const { return test(keys_, hash); }
    /// The find texts whose key hashes to `hash`, as (hash, pattern) pairs.
    auto candidates(std::uint32_t hash) const {
        return std::equal_range(candidates_.begin(), candidates_.end(),
                                std::pair<std::uint32_t, std::size_t>{hash, 0},
                                [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    bool fold() const { return fold_; }

  private:
    // Longer strides would gain little.
    static constexpr std::size_t kMaxSpan = 64;
    using Bits = std::vector<std::uint64_t>;  // one bit per 16-bit hash

    static void set(Bits& bits, std::uint32_t hash) {
        bits[hash / 64] |= std::uint64_t{1} << (hash % 64);
    }
    static bool test(const Bits& bits, std::uint32_t hash) {
        return (bits[hash / 64] >> (hash % 64)) & 1;
    }

    // A hash into 16 bits of the first 1 to 4 bytes at a place.
    class Hash {
      public:
        Hash() = default;
        Hash(std::size_t size, bool fold)
            : size_(size),
              mask_(size >= 4 ? 0xFFFFFFFFu : (1u << (8 * size)) - 1),
              // Setting bit 5 folds the two cases of a letter; other bytes it merges are told
              // apart by the exact comparison.
              fold_(fold ? 0x20202020u & mask_ : 0) {}
        std::uint32_t operator()(const char* at) const {
            std::uint32_t bytes;
            std::memcpy(&bytes, at, 4);
            return (((bytes & mask_) | fold_) * 0x9E3779B1u) >> 16;
        }
        std::size_t size() const { return size_; }

      private:
        std::size_t size_ = 4;
        std::uint32_t mask_ = 0;
        std::uint32_t fold_ = 0;
    };

    bool fold_;
    std::size_t span_ = 0;
    Hash key_;
    Hash block_;
    Bits blocks_ = Bits(65536 / 64);
    Bits keys_ = Bits(65536 / 64);
    std::vector<std::pair<std::uint32_t, std::size_t>> candidates_;
};

// A Vectorscan stream over the text. The word rule needs the byte before a hit, which may lie
// in an earlier piece (kept in `history_`), and the byte after it, which may come with the
// next piece (the hit waits in `pending_`).
class EntryPrefilter::Scan::VectorscanLook {
  public:
    VectorscanLook(Scan& scan, const VectorscanDatabase& database) : scan_(scan) {
        // Both fail only for want of memory.
        if (hs_clone_scratch(database.scratch(), &scratch_) != HS_SUCCESS ||
            hs_open_stream(database.database(), 0, &stream_) != HS_SUCCESS) {
            hs_free_scratch(scratch_);
            throw std::bad_alloc();
        }
    }

    ~VectorscanLook() {
        if (stream_ != nullptr) {
            hs_close_stream(stream_, scratch_, nullptr, nullptr);
        }
        hs_free_scratch(scratch_);
    }

    void feed(std::string_view piece) {
        // Vectorscan takes a length of at most 4 GiB in one call.
        constexpr std::size_t kMost = std::size_t{1} << 30;
        for (; piece.size() > kMost; piece.remove_prefix(kMost)) {
            feed_part(piece.substr(0, kMost));
        }
        feed_part(piece);
    }

    void finish() {
        hs_close_stream(stream_, scratch_, stopped_ ? nullptr : &VectorscanLook::on_match, this);
        stream_ = nullptr;
        settle_pending(true);  // the text's end counts as a non-letter
    }

  private:
    void feed_part(std::string_view piece) {
        if (!pending_.empty()) {
            settle_pending(!is_word(piece.front()));
        }
        piece_ = piece;
        if (!stopped_) {
            const hs_error_t status =
                hs_scan_stream(stream_, piece.data(), static_cast<unsigned>(piece.size()), 0,
                               scratch_, &VectorscanLook::on_match, this);
            // Any other failure would leave occurrences unseen: no answer rather than a wrong one.
            if (status != HS_SUCCESS && status != HS_SCAN_TERMINATED) {
                throw std::runtime_error("Vectorscan failed to scan a piece");
            }
            stopped_ = status == HS_SCAN_TERMINATED;  // every find text has been seen
        }
        if (scan_.filter_.options_.whole_word) {
            keep_history(piece);
        }
        begin_ += piece.size();
        piece_ = {};
    }

    static int on_match(unsigned id, unsigned long long /*from*/, unsigned long long to,
                        unsigned /*flags*/, void* context) {
        auto& look = *static_cast<VectorscanLook*>(context);
        look.match(id, static_cast<std::size_t>(to));
        return look.scan_.hits_left_ == 0 ? 1 : 0;  // nothing left to look for: stop
    }

    void match(std::size_t pattern, std::size_t end) {
        if (scan_.hit_[pattern]) {
            return;
        }
        if (!scan_.filter_.options_.whole_word) {
            scan_.found(pattern, true);
            return;
        }
        const std::size_t start = end - scan_.filter_.patterns_[pattern].text.size();
        if (start > 0 && is_word(byte_at(start - 1))) {
            scan_.found(pattern, false);
        } else if (end == begin_ + piece_.size()) {
            scan_.found(pattern, false);  // raw for now; the next byte decides
            pending_.push_back(pattern);
        } else {
            scan_.found(pattern, !is_word(byte_at(end)));
        }
    }

    char byte_at(std::size_t at) const {
        return at >= begin_ ? piece_[at - begin_] : history_[history_.size() - (begin_ - at)];
    }

    void settle_pending(bool next_is_boundary) {
        for (const std::size_t pattern : pending_) {
            scan_.found(pattern, next_is_boundary);
        }
        pending_.clear();
    }

    // Keeps the last bytes before the next piece: one more than the longest find text, so that
    // the byte before any hit that ends in the next piece (or right at the end) is here.
    void keep_history(std::string_view piece) {
        const std::size_t keep = scan_.filter_.longest_ + 1;
        if (piece.size() >= keep) {
            history_.assign(piece.substr(piece.size() - keep));
        } else {
            history_.append(piece);
            if (history_.size() > keep) {
                history_.erase(0, history_.size() - keep);
            }
        }
    }

    Scan& scan_;
    hs_scratch_t* scratch_ = nullptr;
    hs_stream_t* stream_ = nullptr;
    bool stopped_ = false;
    std::string_view piece_;            // the piece being scanned
    std::size_t begin_ = 0;             // text position of its first byte
    std::string history_;               // the bytes just before it
    std::vector<std::size_t> pending_;  // hits that end where the piece ends
};

// The own matcher reads the text through a window that moves on, Scanner's way: a start is
// examined once the window holds the byte after the longest find text from there (or the text
// has ended), and the byte before the next start is always kept. Reading large pieces where they
// lie instead was measured slower: the copy streams the bytes in, the scan then finds them in
// cache.
class EntryPrefilter::Scan::OwnLook {
  public:
    OwnLook(Scan& scan, const OwnTable& table)
        : scan_(scan), table_(table), longest_(scan.filter_.longest_) {
        // Slack for reads past the last byte: keys and blocks are read four bytes at a time.
        window_.resize(kBlock + longest_ + 1 + kSlack);
    }

    void feed(std::string_view piece) {
        const std::size_t capacity = window_.size() - kSlack;
        while (!piece.empty() && scan_.hits_left_ > 0) {
            const std::size_t n = std::min(piece.size(), capacity - size_);
            std::memcpy(window_.data() + size_, piece.data(), n);
            size_ += n;
            piece.remove_prefix(n);
            if (size_ == capacity) {
                look_window(false);
                move_on();
            }
        }
    }

    void finish() { look_window(true); }

  private:
    static constexpr std::size_t kBlock = std::size_t{64} << 10;
    static constexpr std::size_t kSlack = 8;

    void look_window(bool ends_text) {
        const std::size_t end = begin_ + size_;
        std::size_t limit = 0;  // first start not examined now
        if (ends_text) {
            limit = end >= table_.span() ? end - table_.span() + 1 : 0;
        } else {
            limit = end > longest_ ? end - longest_ : 0;
        }
        look(window_.data(), begin_, end, limit);
        next_ = std::max(next_, limit);
    }

    // Examines the starts from next_ to `limit` in the bytes [begin, end) held at `data`,
    // which hold the byte before next_ too.
    void look(const char* data, std::size_t begin, std::size_t end, std::size_t limit) {
        const std::size_t stride = table_.skips() ? table_.stride() : 1;
        for (std::size_t from = next_; from < limit && scan_.hits_left_ > 0; from += stride) {
            if (stride > 1 && !table_.may_start_within(data + (from - begin))) {
                continue;
            }
            for (std::size_t at = from; at < std::min(from + stride, limit); ++at) {
                const std::uint32_t hash = table_.key(data + (at - begin));
                if (table_.maybe(hash)) {
                    verify(data + (at - begin), at, end, hash);
                }
            }
        }
    }

    void verify(const char* here, std::size_t at, std::size_t end, std::uint32_t hash) {
        const auto [first, last] = table_.candidates(hash);
        for (auto candidate = first; candidate != last; ++candidate) {
            const std::size_t pattern = candidate->second;
            const std::string& text = scan_.filter_.patterns_[pattern].text;
            const std::size_t n = text.size();
            if (scan_.hit_[pattern] || at + n > end || !equal(here, text)) {
                continue;
            }
            const bool word_holds =
                !scan_.filter_.options_.whole_word ||
                ((at == 0 || !is_word(here[-1])) && (at + n == end || !is_word(here[n])));
            scan_.found(pattern, word_holds);
        }
    }

    bool equal(const char* at, const std::string& text) const {
        if (!table_.fold()) {
            return std::memcmp(at, text.data(), text.size()) == 0;
        }
        for (std::size_t k = 0; k < text.size(); ++k) {
            if (lower(static_cast<unsigned char>(at[k])) != static_cast<unsigned char>(text[k])) {
                return false;
            }
        }
        return true;
    }

    // Drops the bytes no later start needs, keeping the one before the next start.
    void move_on() {
        const std::size_t keep_from = next_ > 0 ? next_ - 1 : 0;
        const std::size_t drop = keep_from - begin_;
        std::memmove(window_.data(), window_.data() + drop, size_ - drop);
        size_ -= drop;
        begin_ = keep_from;
    }

    Scan& scan_;
    const OwnTable& table_;
    std::size_t longest_;
    std::vector<char> window_;
    std::size_t begin_ = 0;  // text position of window_[0]
    std::size_t size_ = 0;   // bytes held
    std::size_t next_ = 0;   // first start not yet examined
};

EntryPrefilter::EntryPrefilter(const std::vector<Entry>& entries, MatchOptions options)
    : EntryPrefilter(entries, options, Matcher::vectorscan) {}

EntryPrefilter::EntryPrefilter(const std::vector<Entry>& entries, MatchOptions options,
                               Matcher wanted)
    : options_(options) {
    const bool fold = !options.match_case;
    std::unordered_map<std::string, std::size_t> known;
    for (const Entry& entry : entries) {
        find_bytes_.push_back(bytes_of(entry.find, fold));
        replace_bytes_.push_back(bytes_of(entry.replace, fold));
        deletes_.push_back(entry.replace.empty());
        if (entry.find.empty()) {
            pattern_of_.push_back(kNone);
            continue;
        }
        std::string text = folded(entry.find, fold);
        const auto [slot, added] = known.try_emplace(text, patterns_.size());
        if (added) {
            longest_ = std::max(longest_, text.size());
            patterns_.push_back(Pattern{std::move(text)});
        }
        pattern_of_.push_back(slot->second);
    }
    if (wanted == Matcher::vectorscan) {
        vectorscan_ = VectorscanDatabase::build(patterns_, options);
    }
    if (!vectorscan_) {
        own_ = std::make_unique<OwnTable>(patterns_, fold);
    }
}

EntryPrefilter::~EntryPrefilter() = default;

EntryPrefilter::Matcher EntryPrefilter::matcher() const {
    return vectorscan_ ? Matcher::vectorscan : Matcher::own;
}

EntryPrefilter::Scan::Scan(const EntryPrefilter& filter)
    : filter_(filter),
      raw_(filter.patterns_.size()),
      hit_(filter.patterns_.size()),
      hits_left_(filter.patterns_.size()) {
    if (filter.vectorscan_) {
        vectorscan_ = std::make_unique<VectorscanLook>(*this, *filter.vectorscan_);
    } else {
        own_ = std::make_unique<OwnLook>(*this, *filter.own_);
    }
}

EntryPrefilter::Scan::~Scan() = default;

void EntryPrefilter::Scan::feed(std::string_view piece) {
    if (piece.empty()) {
        return;
    }
    if (vectorscan_) {
        vectorscan_->feed(piece);
    } else {
        own_->feed(piece);
    }
}

void EntryPrefilter::Scan::finish() {
    if (vectorscan_) {
        vectorscan_->finish();
    } else {
        own_->finish();
    }
    decide();
}

const std::vector<bool>& EntryPrefilter::Scan::occurs() const {
    return occurs_;
}

const std::vector<bool>& EntryPrefilter::Scan::may_apply() const {
    return may_apply_;
}

bool EntryPrefilter::Scan::any_may_apply() const {
    return any_may_apply_;
}

void EntryPrefilter::Scan::found(std::size_t pattern, bool whole_word_holds) {
    raw_[pattern] = true;
    if (whole_word_holds && !hit_[pattern]) {
        hit_[pattern] = true;
        --hits_left_;
    }
}

void EntryPrefilter::Scan::decide() {
    const std::size_t count = filter_.pattern_of_.size();
    occurs_.assign(count, false);
    may_apply_.assign(count, false);
    any_may_apply_ = false;
    // What the entries before k that may apply can bring into the text.
    ByteSet brought;
    bool joins = false;  // an empty replacement can join the bytes on either side of it
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t pattern = filter_.pattern_of_[k];
        if (pattern == kNone) {
            continue;
        }
        occurs_[k] = hit_[pattern];
        const bool made = any_may_apply_ && (joins || (brought & filter_.find_bytes_[k]).any() ||
                                             (filter_.options_.whole_word && raw_[pattern]));
        if (occurs_[k] || made) {
            may_apply_[k] = true;
            any_may_apply_ = true;
            brought |= filter_.replace_bytes_[k];
            joins = joins || filter_.deletes_[k];
        }
    }
}

}  // namespace wendrel::core
