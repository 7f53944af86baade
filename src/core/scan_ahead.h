#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "encoded_rules.h"
#include "file_store.h"
#include "worker_threads.h"

namespace wendrel::core {

/// Looks at a job's next targets (FileStore::scan) on worker threads while the ticks work on
/// the current one, in target order and at most `depth` targets ahead, so that opening,
/// locking and reading files overlaps with everything else. Each target is taken once, in
/// order; a look holds its file open and locked as a scan does, and destruction lets go of
/// every file not taken.
class ScanAhead {
  public:
    struct Look {
        int error = 0;
        FileStore::Found found;
        LoadedFile file;
    };

    /// Looks at the `paths` whose `wanted` flag is set, in order. Throws, with no thread left
    /// running, when a worker cannot be started.
    ScanAhead(FileStore& store, std::shared_ptr<const EncodedRules> rules, bool count,
              const std::vector<std::string>& paths, std::vector<bool> wanted, std::size_t threads,
              std::size_t depth);
    /// Workers, or none when `threads` is 0 or they cannot be started: the caller then scans
    /// in its own thread.
    static std::unique_ptr<ScanAhead> make_or_none(FileStore& store,
                                                   std::shared_ptr<const EncodedRules> rules,
                                                   bool count,
                                                   const std::vector<std::string>& paths,
                                                   std::vector<bool> wanted, std::size_t threads,
                                                   std::size_t depth = kDefaultDepth);
    ~ScanAhead();
    ScanAhead(const ScanAhead&) = delete;
    ScanAhead& operator=(const ScanAhead&) = delete;

    static constexpr std::size_t kDefaultDepth = 64;

    /// Whether the look at target `index` is made.
    bool ready(std::size_t index);
    /// The look at target `index` once it is made (nothing while it is not), every earlier
    /// target being taken or not wanted.
    std::optional<Look> take(std::size_t index);
    /// Blocks until the look at target `index` is made.
    void wait_for(std::size_t index);

  private:
    void run_worker();
    void tell_workers_to_stop();
    void stop_workers();

    FileStore& store_;
    const std::shared_ptr<const EncodedRules> rules_;
    const bool count_;
    const std::vector<std::string>& paths_;
    const std::vector<bool> wanted_;
    const std::size_t depth_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;              // guarded by mutex_: the next target a worker takes
    std::size_t taken_ = 0;             // guarded by mutex_: every target before it is taken
    std::map<std::size_t, Look> done_;  // guarded by mutex_
    bool stopping_ = false;             // guarded by mutex_
    std::atomic<bool> cancel_ = false;  // a look under way gives up at its next read
    WorkerThreads workers_;
};

}  // namespace wendrel::core
