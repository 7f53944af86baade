#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "entry.h"
#include "match_options.h"

namespace wendrel::core {

/// Built once per job from its entries; shared read-only by any number of threads.
class EntryPrefilter {
  public:
    EntryPrefilter(const std::vector<Entry>& entries, MatchOptions options);
    ~EntryPrefilter();
    /// One text's look, fed in consecutive pieces of any size; one Scan per thread.
    class Scan {
      public:
        explicit Scan(const EntryPrefilter& filter);
        ~Scan();
        void feed(std::string_view piece);  // the next bytes of the text
        void finish();                      // the text has ended
        const std::vector<bool>& occurs() const { return may_; }
        const std::vector<bool>& may_apply() const { return may_; }
        bool any_may_apply() const;

      private:
        const EntryPrefilter& filter_;
        std::string text_;
        std::vector<bool> may_;
    };

  private:
    const std::vector<Entry> entries_;
    const MatchOptions options_;
};

}  // namespace wendrel::core
