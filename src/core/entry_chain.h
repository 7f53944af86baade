#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "entry.h"
#include "match_options.h"

namespace wendrel::core {

/// What a text's flow through a chain did.
struct ChainResult {
    int error = 0;  // of a read or a write; EAGAIN when the source was not of its stated size
    std::vector<std::size_t> counts;  // replacements made by each entry, skipped ones 0
    std::uint64_t size = 0;           // of the result
    /// Stages whose replacements differ from what they replaced. None: the result is the
    /// source. One: it is not. Two or more may undo each other, and only a comparison tells.
    std::size_t changing_stages = 0;

    std::size_t total() const;
};

/// The entries of a job applied one after another to a text that flows through once: stage k
/// applies entry k (Scanner's rule, as EntryPass does) to the output of stage k-1, each stage
/// holding a bounded window of its input, so the whole run holds a few MiB whatever the size
/// of the text, the density of its matches or the number of entries. The result is byte for
/// byte that of the entries applied in turn to the whole text.
///
/// The stages hand bytes on only as far as the next one has room, and a stage with no room
/// downstream waits: the run is a loop over the stages, never a recursion, so a rules file of
/// any length runs on any thread's stack.
class EntryChain {
  public:
    /// Like read(2): bytes placed, 0 at the end, or a negative errno.
    using Reader = std::function<long(char* buffer, std::size_t size)>;
    /// Takes the next piece of the result; gives 0 or an errno.
    using Writer = std::function<int(std::string_view piece)>;

    /// The entries are not copied and must outlive the chain. `skip` (empty, or one flag per
    /// entry) names the entries known to make no replacement: they take no stage.
    /// `budget` is the bytes all stages' windows may hold together.
    EntryChain(const std::vector<Entry>& entries, MatchOptions options,
               const std::vector<bool>& skip = {}, std::size_t budget = kDefaultBudget);
    ~EntryChain();
    EntryChain(const EntryChain&) = delete;
    EntryChain& operator=(const EntryChain&) = delete;

    static constexpr std::size_t kDefaultBudget = 512 << 10;

    /// The entries that take a stage: only two or more can undo each other's changes.
    std::size_t stages() const { return entry_of_.size(); }

    /// The flow of a source of `size` bytes pulled from `read`; with `write`, the result goes
    /// there (small pieces gathered first), else it is only counted. Stops at the first failed
    /// read or write.
    ChainResult run(std::uint64_t size, const Reader& read, const Writer* write = nullptr);

  private:
    class Stage;

    const std::vector<Entry>& entries_;
    const MatchOptions options_;
    const std::size_t budget_;
    std::vector<std::unique_ptr<Stage>> stages_;
    std::vector<std::size_t> entry_of_;  // the entry each stage applies
};

}  // namespace wendrel::core
