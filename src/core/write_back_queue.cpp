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

std::unique_ptr<WriteBackQueue> WriteBackQueue::make_or_none(FileStore& store, std::size_t threads,
                                                             std::size_t byte_budget) {
    if (threads == 0) {
        return nullptr;
    }
    try {
        return std::make_unique<WriteBackQueue>(store, threads, byte_budget);
    } catch (const std::exception&) {
        return nullptr;
    }
}

WriteBackQueue::WriteBackQueue(FileStore& store, std::size_t threads, std::size_t byte_budget)
    : store_(store), byte_budget_(byte_budget) {
    running_.reserve(threads);  // so that a worker never allocates to take a write
    workers_.start(
        threads, [this] { run_worker(); }, [this] { tell_workers_to_stop(); });
}

WriteBackQueue::~WriteBackQueue() {
    stop_workers();
}

void WriteBackQueue::tell_workers_to_stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
}

void WriteBackQueue::stop_workers() {
    tell_workers_to_stop();
    workers_.join();
}

bool WriteBackQueue::has_room(std::size_t size) const {
    return bytes_in_flight_ == 0 || bytes_in_flight_ + size <= byte_budget_;
}

WriteBackQueue::Ticket WriteBackQueue::enqueue(Work work) {
    const Ticket ticket = next_ticket_;
    const std::size_t size = work.size;
    work.ticket = ticket;
    // The result's place is made here, where a failed allocation fails only this file; a
    // worker then reports without allocating.
    results_.emplace(ticket, std::nullopt);
    try {
        waiting_.push_back(std::move(work));
    } catch (...) {
        results_.erase(ticket);
        throw;
    }
    ++next_ticket_;
    bytes_in_flight_ += size;
    return ticket;
}

WriteBackQueue::Ticket WriteBackQueue::submit(std::string path, NewContent content,
                                              const struct stat& loaded, FileDescriptor held) {
    std::unique_lock lock(mutex_);
    const std::size_t size = footprint(content) + (held ? kHeldFileBytes : 0);
    changed_.wait(lock, [&] { return has_room(size); });
    const Ticket ticket =
        enqueue(Work{0, std::move(path), std::move(content), loaded, std::move(held), size});
    lock.unlock();
    changed_.notify_all();
    return ticket;
}

std::optional<WriteBackQueue::Ticket> WriteBackQueue::try_submit(const std::string& path,
                                                                 NewContent& content,
                                                                 const struct stat& loaded,
                                                                 FileDescriptor& held) {
    std::unique_lock lock(mutex_);
    const std::size_t size = footprint(content) + (held ? kHeldFileBytes : 0);
    if (!has_room(size)) {
        note_refusal();
        return std::nullopt;
    }
    const Ticket ticket = enqueue(Work{0, path, std::move(content), loaded, std::move(held), size});
    lock.unlock();
    changed_.notify_all();
    return ticket;
}

bool WriteBackQueue::would_take(const NewContent& content, bool held) {
    std::lock_guard lock(mutex_);
    if (has_room(footprint(content) + (held ? kHeldFileBytes : 0))) {
        return true;
    }
    note_refusal();
    return false;
}

void WriteBackQueue::note_refusal() {
    refused_at_ = writes_ended_;
}

std::optional<int> WriteBackQueue::take_result(Ticket ticket) {
    std::lock_guard lock(mutex_);
    const auto it = results_.find(ticket);
    if (it == results_.end()) {
        return std::nullopt;
    }
    if (!it->second) {
        note_refusal();
        return std::nullopt;
    }
    const int result = *it->second;
    results_.erase(it);
    return result;
}

int WriteBackQueue::wait(Ticket ticket) {
    std::unique_lock lock(mutex_);
    // A reference, not an iterator: submits made meanwhile may rehash the map.
    const std::optional<int>& slot = results_.find(ticket)->second;
    changed_.wait(lock, [&] { return slot.has_value(); });
    const int result = *slot;
    results_.erase(ticket);
    return result;
}

bool WriteBackQueue::writes_about(const struct stat& info) const {
    return std::any_of(waiting_.begin(), waiting_.end(),
                       [&](const Work& work) { return same_file(work.loaded, info); }) ||
           std::any_of(running_.begin(), running_.end(),
                       [&](const struct stat& file) { return same_file(file, info); });
}

bool WriteBackQueue::writing_file(const struct stat& info) {
    std::lock_guard lock(mutex_);
    if (!writes_about(info)) {
        return false;
    }
    note_refusal();
    return true;
}

void WriteBackQueue::wait_for_progress() {
    std::unique_lock lock(mutex_);
    // Idle, nothing could end: returning keeps a caller that was refused for another reason
    // from waiting for ever.
    changed_.wait(lock, [&] {
        return writes_ended_ != refused_at_ || (waiting_.empty() && running_.empty());
    });
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
        } catch (...) {
            // Out of memory before the file was replaced: it keeps its old content. Nothing
            // may leave a worker, or the program ends.
        }
        work.content = NewContent();  // give the memory back before taking the lock
        // Unlocked before the write counts as done: the job may load the file again next.
        work.held.close();
        lock.lock();
        running_.erase(std::find_if(running_.begin(), running_.end(), [&](const struct stat& f) {
            return same_file(f, work.loaded);
        }));
        bytes_in_flight_ -= work.size;
        ++writes_ended_;
        results_.find(work.ticket)->second = result;
        changed_.notify_all();
    }
}

}  // namespace wendrel::core
