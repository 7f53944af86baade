#include "write_back_queue.h"

#include <algorithm>
#include <cerrno>
#include <exception>

#include "file_store.h"

namespace wendrel::core {
namespace {

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

WriteBackQueue::WriteBackQueue(FileStore& store, std::size_t threads, std::size_t byte_budget)
    : store_(store), byte_budget_(byte_budget) {
    workers_.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i) {
        workers_.emplace_back([this] { run_worker(); });
    }
}

WriteBackQueue::~WriteBackQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (auto& worker : workers_) {
        worker.join();
    }
}

WriteBackQueue::Ticket WriteBackQueue::submit(std::string path, NewContent content,
                                              const struct stat& loaded, FileDescriptor held) {
    std::unique_lock lock(mutex_);
    const std::size_t size = footprint(content) + (held ? kHeldFileBytes : 0);
    changed_.wait(lock,
                  [&] { return bytes_in_flight_ == 0 || bytes_in_flight_ + size <= byte_budget_; });
    const Ticket ticket = next_ticket_++;
    bytes_in_flight_ += size;
    waiting_.push_back(
        Work{ticket, std::move(path), std::move(content), loaded, std::move(held), size});
    lock.unlock();
    changed_.notify_all();
    return ticket;
}

std::optional<int> WriteBackQueue::take_result(Ticket ticket) {
    std::lock_guard lock(mutex_);
    const auto it = finished_.find(ticket);
    if (it == finished_.end()) {
        return std::nullopt;
    }
    const int result = it->second;
    finished_.erase(it);
    return result;
}

int WriteBackQueue::wait(Ticket ticket) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return finished_.count(ticket) != 0; });
    const int result = finished_[ticket];
    finished_.erase(ticket);
    return result;
}

bool WriteBackQueue::writing_file(const struct stat& info) const {
    return std::any_of(waiting_.begin(), waiting_.end(),
                       [&](const Work& work) { return same_file(work.loaded, info); }) ||
           std::any_of(running_.begin(), running_.end(),
                       [&](const struct stat& file) { return same_file(file, info); });
}

void WriteBackQueue::wait_for_file(const struct stat& info) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !writing_file(info); });
}

bool WriteBackQueue::idle() {
    std::lock_guard lock(mutex_);
    return waiting_.empty() && running_.empty();
}

void WriteBackQueue::run_worker() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
        if (waiting_.empty()) {
            return;  // stopping, and every queued write is done
        }
        Work work = std::move(waiting_.front());
        waiting_.pop_front();
        running_.push_back(work.loaded);
        lock.unlock();
        int result = ENOMEM;
        try {
            result = store_.write_back(work.path, work.content, work.loaded, work.held.get());
        } catch (const std::exception&) {
            // Out of memory before the file was replaced: it keeps its old content.
        }
        work.content = NewContent();  // give the memory back before taking the lock
        // Unlocked before the write counts as done: the job may load the file again next.
        work.held.close();
        lock.lock();
        running_.erase(std::find_if(running_.begin(), running_.end(), [&](const struct stat& f) {
            return same_file(f, work.loaded);
        }));
        bytes_in_flight_ -= work.size;
        finished_[work.ticket] = result;
        changed_.notify_all();
    }
}

}  // namespace wendrel::core
