#pragma once

#include <cstddef>
#include <functional>
#include <thread>
#include <vector>

namespace wendrel::core {

/// Threads that run one function, started together and joined together. A thread that cannot
/// be started leaves none running: destroying a std::thread that still runs ends the program.
class WorkerThreads {
  public:
    WorkerThreads() = default;
    ~WorkerThreads() { join(); }
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    /// Starts `count` threads running `work`. When one cannot be started, calls `stop` (which
    /// must make every `work` return), joins those that were, and throws.
    void start(std::size_t count, const std::function<void()>& work,
               const std::function<void()>& stop);
    /// Waits for every thread to return (after the owner has told them to).
    void join();
    bool empty() const { return threads_.empty(); }

  private:
    std::vector<std::thread> threads_;
};

}  // namespace wendrel::core
