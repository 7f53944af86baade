#pragma once

#include <sys/stat.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "file_descriptor.h"
#include "new_content.h"
#include "worker_threads.h"

namespace wendrel::core {

class FileStore;

/// Runs write-backs on a few worker threads, so that syncing one file to disk overlaps with
/// loading and rewriting the next. Each write-back is the same atomic FileStore::write_back;
/// only its waiting moves off the caller's thread. Destruction finishes every queued write.
class WriteBackQueue {
  public:
    using Ticket = std::uint64_t;

    /// Throws, with no thread left running, when a worker cannot be started.
    /// At most `byte_budget` bytes of content wait or are written at once (one larger
    /// write is let through alone), so memory stays bounded; each held descriptor counts as
    /// kHeldFileBytes, so open descriptors stay bounded too.
    WriteBackQueue(FileStore& store, std::size_t threads, std::size_t byte_budget);
    ~WriteBackQueue();
    WriteBackQueue(const WriteBackQueue&) = delete;
    WriteBackQueue& operator=(const WriteBackQueue&) = delete;

    static constexpr std::size_t kHeldFileBytes = 64 * 1024;
    static constexpr std::size_t kDefaultThreads = 32;
    static constexpr std::size_t kDefaultBudget = 8 << 20;

    /// A queue of `threads` workers, or none when `threads` is 0 or they cannot be started (a
    /// tight address-space or thread limit): the caller then writes inside its own thread.
    static std::unique_ptr<WriteBackQueue> make_or_none(FileStore& store, std::size_t threads,
                                                        std::size_t byte_budget = kDefaultBudget);

    /// Queues the write of `content` over `path`, loaded as `loaded` and held open (and locked)
    /// through `held` until the write has ended; blocks while the budget is used up.
    Ticket submit(std::string path, NewContent content, const struct stat& loaded,
                  FileDescriptor held = {});
    /// submit() for a thread that must not wait: refuses while the budget is used up, and then
    /// leaves `content` and `held` with the caller.
    /// Whether try_submit() would take `content` (with a held file, or not) now; when it would
    /// not, wait_for_progress() waits as after a refusal.
    bool would_take(const NewContent& content, bool held);
    std::optional<Ticket> try_submit(const std::string& path, NewContent& content,
                                     const struct stat& loaded, FileDescriptor& held);
    /// The write's result (0 or an errno) once it has finished; the result is handed out once.
    std::optional<int> take_result(Ticket ticket);
    /// Waits for the write to finish and hands out its result.
    int wait(Ticket ticket);
    /// wait() when `wait`, else take_result().
    std::optional<int> result(Ticket ticket, bool wait) {
        return wait ? std::optional<int>(this->wait(ticket)) : take_result(ticket);
    }
    /// Whether a queued or running write is about the file `info` describes: a file named twice
    /// is loaded again only after its first rewrite is in place.
    bool writing_file(const struct stat& info);
    /// Blocks until a write has ended since the last refusal (of try_submit, writing_file, or
    /// take_result without a result), or returns at once if one has: a caller with nothing else
    /// to do waits here instead of asking again and again.
    void wait_for_progress();
    bool idle();

  private:
    struct Work {
        Ticket ticket;
        std::string path;
        NewContent content;
        struct stat loaded;
        FileDescriptor held;
        std::size_t size;  // counted against the budget
    };

    void run_worker();
    void tell_workers_to_stop();
    void stop_workers();
    bool has_room(std::size_t size) const;             // caller holds mutex_
    Ticket enqueue(Work work);                         // caller holds mutex_
    bool writes_about(const struct stat& info) const;  // caller holds mutex_
    void note_refusal();                               // caller holds mutex_

    FileStore& store_;
    const std::size_t byte_budget_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Work> waiting_;          // guarded by mutex_
    std::vector<struct stat> running_;  // guarded by mutex_: files being written now
    // guarded by mutex_: every ticket handed out and not yet taken back, with its result once
    // the write has finished
    std::unordered_map<Ticket, std::optional<int>> results_;
    std::size_t bytes_in_flight_ = 0;  // guarded by mutex_
    std::uint64_t writes_ended_ = 0;   // guarded by mutex_
    std::uint64_t refused_at_ = 0;     // guarded by mutex_: writes_ended_ at the last refusal
    Ticket next_ticket_ = 1;           // guarded by mutex_
    bool stopping_ = false;            // guarded by mutex_
    WorkerThreads workers_;
};

}  // namespace wendrel::core
