#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "file_store.h"
#include "job_observer.h"
#include "journal.h"
#include "messages.h"

namespace wendrel::core {

class FileSystem;

/// Takes a finished job back, one file per tick: each file that still holds exactly what the
/// job wrote gets its old content again, through the same safe write-back as a job; a file
/// changed since is reported and left alone. The undo keeps its own journal, so that it can
/// be taken back in turn.
class UndoJob {
  public:
    using Clock = std::function<std::string()>;

    UndoJob(JobObserver& observer, FileSystem& fs, Clock clock);

    /// Starts taking back the job `id` (empty: the newest not yet taken back) of the journal
    /// kept in `journal_root`. Says so and stays idle when there is no such job.
    void start(const std::string& journal_root, const std::string& id = {});
    /// Restores the next file; ends the undo after the last.
    void tick();
    /// Ends the undo between two files.
    void stop();
    bool running() const { return running_; }
    void run_to_end(const std::function<bool()>& stop_requested = {});

  private:
    void restore(const KeptFile& file);
    void end(std::string_view closing);
    void status(std::string_view message);

    JobObserver& observer_;
    FileSystem& fs_;
    Clock clock_;
    FileStore store_;
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<JournalWriter> writer_;
    int journal_error_ = 0;
    JournalJob job_;
    std::size_t cursor_ = 0;
    messages::Tally tally_;  // changed: restored; skipped: changed since
    bool running_ = false;
};

}  // namespace wendrel::core
