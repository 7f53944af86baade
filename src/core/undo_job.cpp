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

UndoJob::UndoJob(JobObserver& observer, FileSystem& fs, Clock clock)
    : observer_(observer), fs_(fs), clock_(std::move(clock)), store_(fs) {}

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

void UndoJob::tick() {
    if (!running_) {
        return;
    }
    if (cursor_ >= job_.files.size()) {
        end(messages::kUndoDone);
        return;
    }
    try {
        restore(job_.files[cursor_]);
    } catch (const std::exception&) {
        status(messages::file_restore_failed(job_.files[cursor_].path));
        observer_.add_status_line(reason_line(ENOMEM));
        ++tally_.failed;
    }
    ++cursor_;
    observer_.set_progress_value(static_cast<double>(cursor_));
}

void UndoJob::restore(const KeptFile& file) {
    const auto changed_since = [&] {
        status(messages::file_changed_since(file.path));
        ++tally_.skipped;
    };
    const auto failed = [&](int error) {
        status(messages::file_restore_failed(file.path));
        observer_.add_status_line(reason_line(error));
        ++tally_.failed;
    };
    // Not following links: a link put in the file's place is a change too.
    struct stat now {};
    if (fs_.fstatat(AT_FDCWD, file.path, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        !is_new_version(now, file)) {
        changed_since();
        return;
    }
    LoadedFile held;
    if (const int error = store_.hold(file.path, held)) {
        failed(error);
        return;
    }
    // Held and locked now: what is read here is what the write-back replaces.
    if (!is_new_version(held.info, file) || hash_of(fs_, held.held.get()) != file.new_hash) {
        changed_since();
        return;
    }
    const NewContent old_content = FileCopy{journal_->kept_path(job_.id, file.slot)};
    if (const int error = store_.write_back(file.path, old_content, held.info, held.held.get())) {
        failed(error);
        return;
    }
    status(messages::file_restored(file.path));
    ++tally_.changed;
}

void UndoJob::stop() {
    if (running_) {
        end(messages::kStopped);
    }
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
    if (writer_) {
        writer_->finish();
        if (writer_->lost() != 0) {
            status(messages::not_undoable(writer_->lost()));
            observer_.add_status_line(reason_line(writer_->first_error()));
        } else if (writer_->kept() != 0) {
            status(messages::undo_available(writer_->id()));
        }
        writer_.reset();
    } else if (tally_.changed != 0) {
        status(messages::not_undoable(tally_.changed));
        observer_.add_status_line(reason_line(journal_error_));
    }
    observer_.set_inputs_locked(false);
}

void UndoJob::run_to_end(const std::function<bool()>& stop_requested) {
    while (running_) {
        if (stop_requested && stop_requested()) {
            stop();
            return;
        }
        tick();
    }
}

}  // namespace wendrel::core
