#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "entry.h"
#include "match_options.h"

namespace wendrel::core {

/// Tells, from one scan of a file, which entries of a job can make a replacement in it when
/// they are applied in order, so that a file none can touch is decided unchanged there and then.
/// Occurrences follow Scanner's rule exactly; the find texts are looked for all at once.
/// Built once per job from its entries; shared read-only by any number of threads.
class EntryPrefilter {
  public:
    /// Vectorscan where the CPU and the library take the find texts, our own matcher otherwise.
    enum class Matcher { vectorscan, own };

    EntryPrefilter(const std::vector<Entry>& entries, MatchOptions options);
    /// `wanted` is a wish: Matcher::vectorscan falls back to the own matcher when refused.
    EntryPrefilter(const std::vector<Entry>& entries, MatchOptions options, Matcher wanted);
    ~EntryPrefilter();
    EntryPrefilter(const EntryPrefilter&) = delete;
    EntryPrefilter& operator=(const EntryPrefilter&) = delete;

    /// The matcher this filter runs with.
    Matcher matcher() const;

    /// One text's look, fed in consecutive pieces of any size; one Scan per thread.
    class Scan {
      public:
        explicit Scan(const EntryPrefilter& filter);
        ~Scan();
        Scan(const Scan&) = delete;
        Scan& operator=(const Scan&) = delete;

        void feed(std::string_view piece);  // the next bytes of the text
        void finish();                      // the text has ended
        /// After finish(), one flag per entry: whether its find text occurs in the text by the
        /// exact rule (case folding and whole words included). Exact, never a guess.
        const std::vector<bool>& occurs() const;
        /// After finish(): whether entry k may make a replacement when the entries are applied
        /// in order: it occurs, or its find text could appear through an earlier entry that may
        /// apply (its replacement shares a byte, folded when case does not matter, with the find
        /// text, or is empty and so joins the bytes around it; or, with whole words, it occurs
        /// but for the word rule and an earlier entry may apply). False is certain; true may be
        /// a false alarm.
        const std::vector<bool>& may_apply() const;
        bool any_may_apply() const;

      private:
        class VectorscanLook;
        class OwnLook;

        void found(std::size_t pattern, bool whole_word_holds);
        void decide();

        const EntryPrefilter& filter_;
        // Per distinct find text: seen ignoring the word rule, and seen by the full rule.
        std::vector<bool> raw_;
        std::vector<bool> hit_;
        std::size_t hits_left_ = 0;  // distinct find texts not yet seen by the full rule
        std::unique_ptr<VectorscanLook> vectorscan_;  // exactly one of the two looks is set
        std::unique_ptr<OwnLook> own_;
        std::vector<bool> occurs_;
        std::vector<bool> may_apply_;
        bool any_may_apply_ = false;
    };

  private:
    class VectorscanDatabase;
    class OwnTable;
    using ByteSet = std::bitset<256>;

    // A find text that one or more entries share (folded when case does not matter).
    struct Pattern {
        std::string text;
    };

    std::vector<Pattern> patterns_;
    std::vector<std::size_t> pattern_of_;  // per entry; npos for an empty find text
    std::vector<ByteSet> find_bytes_;      // per entry, folded when case does not matter
    std::vector<ByteSet> replace_bytes_;   // likewise
    std::vector<bool> deletes_;            // per entry: the replacement is empty
    std::size_t longest_ = 0;              // longest find text
    MatchOptions options_;
    std::unique_ptr<VectorscanDatabase> vectorscan_;  // exactly one of the two is set
    std::unique_ptr<OwnTable> own_;
};

}  // namespace wendrel::core
