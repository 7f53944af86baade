#include "worker_threads.h"

namespace wendrel::core {

void WorkerThreads::start(std::size_t count, const std::function<void()>& work,
                          const std::function<void()>& stop) {
    try {
        threads_.reserve(threads_.size() + count);
        for (std::size_t i = 0; i < count; ++i) {
            threads_.emplace_back(work);
        }
    } catch (...) {
        stop();
        join();
        throw;
    }
}

void WorkerThreads::join() {
    for (std::thread& thread : threads_) {
        thread.join();
    }
    threads_.clear();
}

}  // namespace wendrel::core
