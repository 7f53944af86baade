#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "journal_job.h"
#include "journal_writer.h"

namespace wendrel::core {

class FileSystem;

/// The folder where jobs keep what they replaced, one sub-folder per job, so that a job can be
/// taken back. It keeps the last kMaxJobs jobs and, beyond a size the user may set, drops the
/// oldest first.
class Journal {
  public:
    static constexpr std::size_t kMaxJobs = 10;
    static constexpr std::uint64_t kDefaultLimitMiB = 1024;

    Journal(FileSystem& fs, std::string root);

    /// `$XDG_STATE_HOME/wendrel`, else `~/.local/state/wendrel`; empty when neither is known.
    static std::string default_root();
    const std::string& root() const { return root_; }

    /// Starts the journal of a new job (of an undo: `undoes` names the job it takes back),
    /// after dropping the oldest jobs beyond the limits. 0, or the errno that prevents it.
    int begin(std::string_view undoes, std::unique_ptr<JournalWriter>& writer);
    /// Every job kept, oldest first.
    int list(std::vector<JournalJob>& jobs);
    int read(const std::string& id, JournalJob& job);
    /// The newest job not yet taken back; ENOENT when there is none.
    int last_undoable(JournalJob& job);
    /// Records that the undo `by` took the job `id` back.
    int mark_undone(const std::string& id, const std::string& by);
    std::string kept_path(const std::string& id, std::size_t slot) const;

    /// The most space the kept files may take, in MiB (a file `size-limit` in the folder).
    std::uint64_t limit_mib();
    int set_limit_mib(std::uint64_t mib);

  private:
    int make_root();
    void prune();
    void remove_job(const std::string& id);
    std::uint64_t job_bytes(const std::string& id);

    FileSystem& fs_;
    std::string root_;
};

}  // namespace wendrel::core
