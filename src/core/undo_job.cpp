#include "undo_job.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <exception>

#include "content_hash.h"
#include "failure_reason.h"
#include "file_system.h"

namespace wendrel::core {
namespace {

bool is_new_version(const struct stat& info, const KeptFile& file) {
    return static_cast<std::uint64_t>(info.st_dev) == file.new_dev &&
           static_cast<std::uint64_t>(info.st_ino) == file.new_ino &&
           static_cast<std::uint64_t>(info.st_size) == file.new_size &&
           info.st_mtim.tv_sec == file.new_mtime_sec && info.st_mtim.tv_nsec == file.new_mtime_nsec;
}

// The hash of what the open file holds now, or nothing when it cannot be read.
std::optional<std::uint64_t> hash_of(FileSystem& fs, int fd) {
    if (fs.lseek(fd, 0, SEEK_SET) != 0) {
        return std::nullopt;
    }
    ContentHash hash;
    std::string block(1 << 20, '\0');
    for (;;) {
        const long n = fs.read(fd, block.data(), block.size());
        if (n == -EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            return hash.value();
        }
        hash.add(std::string_view(block.data(), static_cast<std::size_t>(n)));
    }
}

}  // namespace

UndoJob::UndoJob(JobObserver& observer, FileSystem& fs, Clock clock, std::size_t write_threads)
    : observer_(observer),
      fs_(fs),
      clock_(std::move(clock)),
      store_(fs),
      writer_queue_(WriteBackQueue::make_or_none(store_, write_threads)) {}

UndoJob::~UndoJob() {
    stop();
}

void UndoJob::status(std::string_view message) {
    observer_.add_status_line(std::string(message) + (clock_ ? clock_() : std::string()));
}

void UndoJob::start(const std::string& journal_root, const std::string& id) {
    if (running_) {
        return;
    }
    try {
        tally_ = {};
        cursor_ = 0;
        stopping_ = false;
        reports_.clear();
        journal_ = std::make_unique<Journal>(fs_, journal_root);
        const int error = id.empty() ? journal_->last_undoable(job_) : journal_->read(id, job_);
        if (error == ENOENT && id.empty()) {
            status(messages::kNothingToUndo);
            observer_.preparation_failed();
            return;
        }
        if (error != 0) {
            status(messages::record_unreadable(id));
            observer_.add_status_line(reason_line(error));
            observer_.preparation_failed();
            return;
        }
        // In the order of their paths, as a job's lines are, whatever order they were kept in.
        std::sort(job_.files.begin(), job_.files.end(),
                  [](const KeptFile& a, const KeptFile& b) { return a.path < b.path; });
        status(messages::undo_start(job_.id));
        journal_error_ = journal_->begin(job_.id, writer_);
        store_.set_journal(writer_.get());
        observer_.set_progress_max(static_cast<double>(job_.files.size()));
        observer_.set_progress_value(0);
        observer_.set_inputs_locked(true);
        running_ = true;
    } catch (const std::exception&) {
        status(messages::kPrepareFailed);
        observer_.add_status_line(reason_line(ENOMEM));
        observer_.preparation_failed();
    }
}

bool UndoJob::tick() {
    if (!running_) {
        return true;
    }
    try {
        flush(false);
        if (cursor_ < job_.files.size() && !stopping_) {
            if (!restore(job_.files[cursor_])) {
                return false;  // the writers are full: the same file again on the next tick
            }
            ++cursor_;
            observer_.set_progress_value(static_cast<double>(cursor_));
            flush(false);
            return true;
        }
        if (!reports_.empty()) {
            return false;  // the last write-backs are still under way
        }
        end(stopping_ ? messages::kStopped : messages::kUndoDone);
    } catch (const std::exception&) {
        // Out of memory for a line: the file is counted, and its line tried again next tick.
    }
    return true;
}

bool UndoJob::restore(const KeptFile& file) {
    // Not following links: a link put in the file's place is a change too.
    struct stat now {};
    if (fs_.fstatat(AT_FDCWD, file.path, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        !is_new_version(now, file)) {
        reports_.push_back({file.path, Outcome::changed_since, 0, std::nullopt});
        return true;
    }
    LoadedFile held;
    if (const int error = store_.hold(file.path, held)) {
        reports_.push_back({file.path, Outcome::failed, error, std::nullopt});
        return true;
    }
    // Held and locked now: what is read here is what the write-back replaces.
    if (!is_new_version(held.info, file) || hash_of(fs_, held.held.get()) != file.new_hash) {
        reports_.push_back({file.path, Outcome::changed_since, 0, std::nullopt});
        return true;
    }
    NewContent old_content = FileCopy{journal_->kept_path(job_.id, file.slot)};
    if (!writer_queue_) {
        const int error = store_.write_back(file.path, old_content, held.info, held.held.get());
        reports_.push_back(
            {file.path, error == 0 ? Outcome::restored : Outcome::failed, error, std::nullopt});
        return true;
    }
    const auto ticket = writer_queue_->try_submit(file.path, old_content, held.info, held.held);
    if (!ticket) {
        return false;
    }
    reports_.push_back({file.path, Outcome::restored, 0, ticket});
    return true;
}

void UndoJob::flush(bool wait) {
    while (!reports_.empty()) {
        Report& next = reports_.front();
        if (next.write) {
            const auto result = writer_queue_->result(*next.write, wait);
            if (!result) {
                return;
            }
            next.write.reset();
            if (*result != 0) {
                next.outcome = Outcome::failed;
                next.error = *result;
            }
        }
        switch (next.outcome) {
            case Outcome::restored:
                status(messages::file_restored(next.path));
                ++tally_.changed;
                break;
            case Outcome::changed_since:
                status(messages::file_changed_since(next.path));
                ++tally_.skipped;
                break;
            case Outcome::failed:
                status(messages::file_restore_failed(next.path));
                observer_.add_status_line(reason_line(next.error));
                ++tally_.failed;
                break;
        }
        reports_.pop_front();
    }
}

void UndoJob::request_stop() {
    stopping_ = true;
}

void UndoJob::stop() {
    if (!running_) {
        return;
    }
    stopping_ = true;
    try {
        flush(true);
    } catch (const std::exception&) {
        // No memory for a line: every write-back under way still ends before the undo does.
        for (const Report& left : reports_) {
            if (left.write) {
                writer_queue_->wait(*left.write);
            }
        }
        reports_.clear();
    }
    end(messages::kStopped);
}

void UndoJob::end(std::string_view closing) {
    running_ = false;
    store_.set_journal(nullptr);
    // Taken back even when stopped part way, once any file is restored: the rest of the
    // job's files are then as it left them, and this undo can itself be taken back.
    if (tally_.changed != 0 || cursor_ >= job_.files.size()) {
        journal_->mark_undone(job_.id, writer_ ? writer_->id() : std::string("-"));
    }
    status(closing);
    status(messages::undo_summary(tally_));
    observer_.summary_added(tally_);
    const auto lines = JournalWriter::close(writer_, journal_error_, tally_.changed);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        i == 0 ? status(lines[i]) : observer_.add_status_line(lines[i]);  // then its reason
    }
    observer_.set_inputs_locked(false);
}

void UndoJob::run_to_end(const std::function<bool()>& stop_requested) {
    while (running_) {
        if (stop_requested && stop_requested()) {
            stop();
            return;
        }
        if (!tick() && writer_queue_) {
            writer_queue_->wait_for_progress();
        }
    }
}

}  // namespace wendrel::core
