#include "scan_ahead.h"

#include <cerrno>
#include <exception>
#include <utility>

namespace wendrel::core {

std::unique_ptr<ScanAhead> ScanAhead::make_or_none(FileStore& store,
                                                   std::shared_ptr<const EncodedRules> rules,
                                                   bool count,
                                                   const std::vector<std::string>& paths,
                                                   std::vector<bool> wanted, std::size_t threads,
                                                   std::size_t depth) {
    if (threads == 0) {
        return nullptr;
    }
    try {
        return std::make_unique<ScanAhead>(store, std::move(rules), count, paths, std::move(wanted),
                                           threads, depth);
    } catch (const std::exception&) {
        return nullptr;
    }
}

ScanAhead::ScanAhead(FileStore& store, std::shared_ptr<const EncodedRules> rules, bool count,
                     const std::vector<std::string>& paths, std::vector<bool> wanted,
                     std::size_t threads, std::size_t depth)
    : store_(store),
      rules_(std::move(rules)),
      count_(count),
      paths_(paths),
      wanted_(std::move(wanted)),
      depth_(depth) {
    workers_.start(
        threads, [this] { run_worker(); }, [this] { tell_workers_to_stop(); });
}

ScanAhead::~ScanAhead() {
    stop_workers();
}

void ScanAhead::tell_workers_to_stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cancel_ = true;
    changed_.notify_all();
}

void ScanAhead::stop_workers() {
    tell_workers_to_stop();
    workers_.join();
}

void ScanAhead::run_worker() {
    std::unique_lock lock(mutex_);
    for (;;) {
        while (next_ < paths_.size() && !wanted_[next_]) {
            ++next_;
        }
        changed_.wait(lock, [this] {
            return stopping_ || next_ >= paths_.size() || next_ < taken_ + depth_;
        });
        if (stopping_ || next_ >= paths_.size()) {
            return;
        }
        if (!wanted_[next_]) {
            continue;  // another worker moved next_ on meanwhile
        }
        const std::size_t index = next_++;
        lock.unlock();
        Look look;
        try {
            look.error =
                store_.scan(paths_[index], *rules_, count_, look.found, look.file, &cancel_);
        } catch (const std::exception&) {
            look = Look{};
            look.error = ENOMEM;
        }
        lock.lock();
        done_.emplace(index, std::move(look));
        changed_.notify_all();
    }
}

bool ScanAhead::ready(std::size_t index) {
    std::lock_guard lock(mutex_);
    return done_.contains(index);
}

std::optional<ScanAhead::Look> ScanAhead::take(std::size_t index) {
    std::optional<Look> look;
    {
        std::lock_guard lock(mutex_);
        const auto found = done_.find(index);
        if (found == done_.end()) {
            return std::nullopt;
        }
        look = std::move(found->second);
        done_.erase(found);
        taken_ = index + 1;
    }
    changed_.notify_all();
    return look;
}

void ScanAhead::wait_for(std::size_t index) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return done_.contains(index) || workers_.empty(); });
}

}  // namespace wendrel::core
