#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "file_store.h"
#include "job_observer.h"
#include "journal.h"
#include "messages.h"
#include "write_back_queue.h"

namespace wendrel::core {

class FileSystem;

/// Takes a finished job back, one file per tick: each file that still holds exactly what the
/// job wrote gets its old content again, through the same safe write-back as a job (on writer
/// threads, so that a tick never waits on the disk); a file changed since is reported and left
/// alone. Lines come in the order of the files' paths. The undo keeps its own journal, so that
/// it can be taken back in turn.
class UndoJob {
  public:
    using Clock = std::function<std::string()>;

    /// With `write_threads` 0 every file is written back inside its tick.
    UndoJob(JobObserver& observer, FileSystem& fs, Clock clock,
            std::size_t write_threads = WriteBackQueue::kDefaultThreads);
    ~UndoJob();
    UndoJob(const UndoJob&) = delete;
    UndoJob& operator=(const UndoJob&) = delete;

    /// Starts taking back the job `id` (empty: the newest not yet taken back) of the journal
    /// kept in `journal_root`. Says so and stays idle when there is no such job.
    void start(const std::string& journal_root, const std::string& id = {});
    /// Restores the next file; ends the undo once the last one's write-back has ended. False
    /// when the tick only waited for a write-back: it is simply made again.
    bool tick();
    /// No further file is restored; the undo ends once the write-backs under way have.
    void request_stop();
    /// request_stop(), then waits for them.
    void stop();
    bool running() const { return running_; }
    void run_to_end(const std::function<bool()>& stop_requested = {});

  private:
    enum class Outcome { restored, changed_since, failed };
    struct Report {
        std::string path;
        Outcome outcome;
        int error = 0;
        std::optional<WriteBackQueue::Ticket> write;
    };
    /// Checks the next file and hands its write-back over; false when the writers are full.
    bool restore(const KeptFile& file);
    /// Adds the lines of the files dealt with, in order; with `wait`, waits for every write.
    void flush(bool wait);
    void end(std::string_view closing);
    void status(std::string_view message);

    JobObserver& observer_;
    FileSystem& fs_;
    Clock clock_;
    FileStore store_;
    std::unique_ptr<WriteBackQueue> writer_queue_;  // null: write-backs run inside the tick
    std::deque<Report> reports_;
    bool stopping_ = false;
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<JournalWriter> writer_;
    int journal_error_ = 0;
    JournalJob job_;
    std::size_t cursor_ = 0;
    messages::Tally tally_;  // changed: restored; skipped: changed since
    bool running_ = false;
};

}  // namespace wendrel::core
