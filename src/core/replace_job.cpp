#include "replace_job.h"

#include <cmath>
#include <exception>
#include <stdexcept>
#include <utility>

#include "encoding_sniffer.h"
#include "encoding_writer.h"
#include "failure_reason.h"
#include "field_parser.h"
#include "journal.h"
#include "memory_limit.h"
#include "messages.h"
#include "posix_file_system.h"
#include "replace_list_reader.h"
#include "time_text.h"
#include "transcoder.h"

namespace wendrel::core {

ReplaceJob::ReplaceJob(JobObserver& observer)
    : ReplaceJob(observer, PosixFileSystem::instance(), local_time_text) {}

namespace {

// What an exception out of a tick means for the file: a result too long to hold, or no memory.
int cause_of(const std::exception& e) {
    return dynamic_cast<const std::length_error*>(&e) != nullptr ? EFBIG : ENOMEM;
}

}  // namespace

ReplaceJob::ReplaceJob(JobObserver& observer, FileSystem& fs, Clock clock,
                       std::size_t write_threads, std::size_t scan_threads)
    : observer_(observer),
      fs_(fs),
      store_(fs),
      writer_(WriteBackQueue::make_or_none(store_, write_threads)),
      scan_threads_(scan_threads),
      clock_(std::move(clock)) {}

ReplaceJob::~ReplaceJob() {
    ahead_.reset();
    writer_.reset();
    if (journal_) {
        journal_->finish();
    }
}

std::string ReplaceJob::clock_text() const {
    return clock_ ? clock_() : std::string();
}

void ReplaceJob::status(std::string_view message) {
    observer_.add_status_line(std::string(message) + clock_text());
}

// The bar refuses a value above its maximum and keeps the old one (a file that grew after the
// start pass counted it can push the sum past the maximum).
void ReplaceJob::set_progress_value(double value) {
    if (value > progress_max_) {
        return;
    }
    progress_value_ = value;
    observer_.set_progress_value(value);
}

void ReplaceJob::reset() {
    ahead_.reset();
    waiting_on_scan_.reset();
    rescan_.reset();
    targets_ = TargetSet{};
    except_list_.clear();
    replace_list_.clear();
    file_cursor_ = 0;
    entry_cursor_ = 0;
    replacements_ = 0;
    preview_before_ = std::string();
    tally_ = {};
    timer1_on_ = false;
    timer2_on_ = false;
    stopping_ = false;
    journal_.reset();
    journal_error_ = 0;
    store_.set_journal(nullptr);
    set_progress_value(0);
    observer_.clear_status_log();
    observer_.clear_file_info();
}

void ReplaceJob::start(const JobInputs& inputs) {
    if (running()) {
        return;  // the inputs are locked while a job runs; a stray call changes nothing
    }
    try {
        reset();
        if (inputs.source.empty() || (inputs.change.empty() && !inputs.entries)) {
            observer_.show_input_check(std::string(messages::kInputCheck));
            return;
        }
        options_ = inputs.options;
        dry_run_ = inputs.dry_run;
        preview_ = inputs.dry_run && inputs.want_preview;
        status(messages::kPreparing);
        observer_.refresh();
        std::vector<RulesWarning> warnings;
        RulesText rules;
        int error = 0;
        if (inputs.entries) {
            // Typed, so in the user's own encoding: UTF-8 wherever it can be read as such.
            rules.entries = *inputs.entries;
            std::string typed;
            for (const Entry& entry : rules.entries) {
                typed += entry.find + entry.replace;
            }
            rules.encoding = EncodingSniffer::of(typed);
            if (rules.encoding.kind == TextEncoding::Kind::utf8) {
                rules.text = rules.entries;
            } else {
                rules.encoding = {};
            }
        } else {
            error = ReplaceListReader::read(fs_, inputs.change, inputs.rules_encoding, rules,
                                            &warnings);
        }
        const std::string& encoding = inputs.encoding;
        if (error == 0 && encoding != EncodedRules::kAuto && encoding != EncodedRules::kBytes &&
            !Transcoder(encoding, "UTF-8").ok()) {
            error = failure::kUnknownEncoding;
        }
        if (error != 0) {
            status(messages::kSourceUnreadable);
            observer_.add_status_line(reason_line(error));
            observer_.preparation_failed();
            return;
        }
        rules_ = std::make_shared<const EncodedRules>(std::move(rules), options_, encoding);
        replace_list_ = rules_->entries();
        status(messages::kSourceRead);
        // Before any target, so that a job whose rules were not meant can still be stopped.
        for (const auto& warning : warnings) {
            observer_.add_warning_line(messages::rules_warning(warning) + clock_text());
        }
        tally_.warnings = warnings.size();
        observer_.refresh();

        except_list_ = FieldParser::except_names(inputs.except);
        status(messages::kExceptRead);
        observer_.refresh();

        build_targets(inputs.source, inputs.change, inputs.walk);
        if (!dry_run_) {
            store_.clear_leftovers(targets_.paths());
            if (!journal_root_.empty()) {
                journal_error_ = Journal(fs_, journal_root_).begin({}, journal_);
                store_.set_journal(journal_.get());
            }
        }
        // Only the targets that will be processed move the bar, so only they count.
        std::uint64_t total = 0;
        for (std::size_t i = 0; i < targets_.size(); ++i) {
            if (targets_.skip(i) == TargetSet::Skip::none) {
                total += store_.loadable_size(targets_[i]).value_or(0);
            }
        }
        add_file_info(total);
        progress_max_ =
            static_cast<double>(total) * static_cast<double>(replace_list_.size()) + 100;
        observer_.set_progress_max(progress_max_);
        if (!preview_ && scan_threads_ > 0 && targets_.size() > 1) {
            std::vector<bool> wanted(targets_.size());
            for (std::size_t i = 0; i < targets_.size(); ++i) {
                wanted[i] = targets_.skip(i) == TargetSet::Skip::none;
            }
            ahead_ = ScanAhead::make_or_none(store_, rules_, dry_run_, targets_.paths(),
                                             std::move(wanted), scan_threads_);
        }
        observer_.set_inputs_locked(true);
        status(messages::kReady);
        set_progress_value(100);
        timer1_on_ = true;
    } catch (const std::exception&) {
        // Out of memory while preparing: leave the window usable and the files untouched, and
        // say so, or the job would seem to have ended without a word.
        targets_ = TargetSet{};
        timer1_on_ = false;
        store_.set_journal(nullptr);
        if (journal_) {
            journal_->finish();  // nothing was kept: it leaves nothing behind
            journal_.reset();
        }
        try {
            status(messages::kPrepareFailed);
            observer_.add_status_line(reason_line(ENOMEM));
        } catch (const std::exception&) {
            // No memory even for the line: the failure is still reported below.
        }
        observer_.preparation_failed();
        observer_.set_inputs_locked(false);
    }
}

void ReplaceJob::build_targets(const std::string& source, const std::string& content_file,
                               const WalkOptions& walk) {
    targets_ = TargetSet::build(fs_, store_, FieldParser::source_items(source), except_list_,
                                content_file, walk);
    for (const auto& [folder, error] : targets_.unreadable_folders()) {
        status(messages::folder_unreadable(folder));
        observer_.add_status_line(reason_line(error));
        observer_.preparation_failed();
    }
}

void ReplaceJob::add_file_info(std::uint64_t total) {
    if (targets_.size() > 1) {
        observer_.add_file_info_line(std::string(messages::kInfoTypeMany));
        observer_.add_file_info_line(std::string(messages::kInfoCount) +
                                     std::to_string(targets_.size()));
        observer_.add_file_info_line(std::string(messages::kInfoExcept) +
                                     std::to_string(except_list_.size()));
    } else {
        observer_.add_file_info_line(std::string(messages::kInfoTypeOne));
    }
    const auto kilobytes =
        static_cast<std::uint64_t>(std::floor(static_cast<double>(total) / 1024)) + 1;
    observer_.add_file_info_line(std::string(messages::kInfoSize) + std::to_string(kilobytes) +
                                 "kb");
}

bool ReplaceJob::being_written(const std::string& path) {
    struct stat info {};
    return writer_ && !writer_->idle() && fs_.stat(path, &info) == 0 && writer_->writing_file(info);
}

bool ReplaceJob::tick_timer1() {
    if (!timer1_on_) {
        return true;
    }
    std::optional<std::size_t> loading;  // the target this tick works on, once chosen
    try {
        flush_ready_reports();
        if (stopping_) {
            return end_when_written(messages::kStopped);
        }
        std::size_t next = file_cursor_;
        while (next < targets_.size() && targets_.skip(next) != TargetSet::Skip::none) {
            ++next;
        }
        if (next < targets_.size() && being_written(targets_[next])) {
            rescan_ = next;  // a look already made may be of the file before this write
            return false;    // the same file named again: it is loaded once its new content is in
        }
        if (ahead_ && next < targets_.size() && !ahead_->ready(next)) {
            waiting_on_scan_ = next;
            return false;
        }
        while (file_cursor_ < next) {
            report(targets_[file_cursor_++], JobObserver::Outcome::skipped);
        }
        if (file_cursor_ >= targets_.size()) {
            return end_when_written(messages::kAllDone);
        }
        loading = file_cursor_;
        const std::string& path = targets_[file_cursor_++];
        loaded_ = LoadedFile{};
        replacements_ = 0;
        entry_cursor_ = 0;
        if (!preview_) {
            // One look tells which entries can apply; the file flows through them when it is
            // written back (a dry run counts them now), and is never held whole.
            Streamed streamed;
            std::optional<ScanAhead::Look> look;
            if (ahead_) {
                look = ahead_->take(*loading);
                if (rescan_ == loading) {
                    look.reset();  // let go of the file, and look at it again
                }
            }
            const int error =
                look ? look->error : store_.scan(path, *rules_, dry_run_, streamed.found, loaded_);
            if (look) {
                streamed.found = std::move(look->found);
                loaded_ = std::move(look->file);
            }
            if (error != 0) {
                report(path, JobObserver::Outcome::failed, error);  // timer1 stays on
                return true;
            }
            form_ = std::move(streamed);
        } else {
            Held held;
            int error = store_.load(path, loaded_, FileStore::Purpose::read);
            if (error == 0) {
                error = rules_->read_held(loaded_.content, held.encoding, held.rules);
            }
            if (error != 0) {
                report(path, JobObserver::Outcome::failed, error);  // timer1 stays on
                return true;
            }
            form_ = std::move(held);
            preview_before_ = loaded_.content;
        }
        if (replace_list_.empty()) {
            finish_file();  // nothing to apply: the file is left as it is
            return true;
        }
        timer1_on_ = false;
        timer2_on_ = true;
    } catch (const std::exception& e) {
        // Out of memory. Only the target being loaded fails: a line that could not be added
        // before it is still queued, and the job's end is tried again on the next tick.
        loaded_.held.close();
        if (loading) {
            report_failure(targets_[*loading], cause_of(e));
        }
    }
    return true;
}

bool ReplaceJob::tick_timer2() {
    if (!timer2_on_) {
        return true;
    }
    try {
        flush_ready_reports();
        if (std::holds_alternative<Finished>(form_)) {
            return submit_finished();
        }
        const auto* streamed = std::get_if<Streamed>(&form_);
        if (writer_ && !dry_run_ && streamed && streamed->found.any() &&
            entry_cursor_ + 1 == replace_list_.size() &&
            !writer_->would_take(FileRewrite{streamed->found.rules, streamed->found.skip, nullptr},
                                 static_cast<bool>(loaded_.held))) {
            return false;  // the last entry's tick hands the file over: it waits for room
        }
        std::size_t made = 0;
        if (streamed) {
            made = streamed->found.counted.counts[entry_cursor_];
        } else {
            made = pass_.apply(loaded_.content, std::get<Held>(form_).rules->entries[entry_cursor_],
                               options_, MemoryLimit::largest_held());
        }
        replacements_ += made;
        if (dry_run_) {
            observer_.entry_applied(targets_[file_cursor_ - 1], entry_cursor_, made);
        }
        set_progress_value(progress_value_ + static_cast<double>(loaded_.info.st_size));
        ++entry_cursor_;
        if (entry_cursor_ >= replace_list_.size()) {
            finish_file();
        }
    } catch (const std::exception& e) {
        // Out of memory in a pass, or a result too long to hold: the file on disk is still
        // the old one.
        hand_to_timer1();
        form_ = Held{};
        loaded_.held.close();
        report_failure(targets_[file_cursor_ - 1], cause_of(e));
    }
    return true;
}

void ReplaceJob::hand_to_timer1() {
    timer2_on_ = false;
    entry_cursor_ = 0;
    timer1_on_ = true;
}

// Writes the file back, unless nothing was replaced, and hands over to timer1.
void ReplaceJob::finish_file() {
    const std::string& path = targets_[file_cursor_ - 1];
    auto form = std::exchange(form_, Held{});
    const auto* streamed = std::get_if<Streamed>(&form);
    const TextEncoding& encoding =
        streamed ? streamed->found.encoding : std::get<Held>(form).encoding;
    const std::string group =
        encoding.kind == TextEncoding::Kind::decoded ? encoding.name : std::string();
    if (dry_run_) {
        hand_to_timer1();
        if (preview_) {
            const std::string before = std::exchange(preview_before_, std::string());
            observer_.preview_ready(path, before, loaded_.content, replacements_);
        }
        // A file the real run could not write is told as the failure it would be.
        int error = replacements_ == 0 ? 0 : store_.check_writable(path);
        if (error == 0 && replacements_ != 0 && !streamed && !group.empty()) {
            EncodingWriter encode(group, {});
            error = encode.put(loaded_.content);
            error = error != 0 ? error : encode.finish();
        }
        report(path,
               replacements_ == 0 ? JobObserver::Outcome::unchanged
               : error != 0       ? JobObserver::Outcome::failed
                                  : JobObserver::Outcome::changed,
               error, replacements_, group);
        return;
    }
    if (!streamed->found.any()) {
        hand_to_timer1();
        loaded_.held.close();  // found unchanged: another job may have it now
        report(path, JobObserver::Outcome::unchanged, 0, 0, group);
        return;
    }
    FileRewrite rewrite{streamed->found.rules, streamed->found.skip};
    rewrite.encoding = encoding;
    rewrite.text_size = streamed->found.text_size;
    auto made = rewrite.made;
    if (writer_) {
        // timer2 stays on until the writer threads have room for the file.
        form_ = Finished{std::move(rewrite), std::move(made), group};
        submit_finished();
        return;
    }
    hand_to_timer1();
    const int error = store_.write_back(path, rewrite, loaded_.info, loaded_.held.get());
    loaded_.held.close();
    Report done{path, JobObserver::Outcome::changed, error, 0, std::nullopt, std::move(made),
                group};
    settle(done);
    reports_.push_back(std::move(done));
    flush_ready_reports();
}

bool ReplaceJob::submit_finished() {
    const std::string& path = targets_[file_cursor_ - 1];
    auto& finished = std::get<Finished>(form_);
    const auto ticket = writer_->try_submit(path, finished.text, loaded_.info, loaded_.held);
    if (!ticket) {
        return false;
    }
    Report done{path,
                JobObserver::Outcome::changed,
                0,
                0,
                ticket,
                std::move(finished.made),
                std::move(finished.encoding)};
    form_ = Held{};
    hand_to_timer1();
    reports_.push_back(std::move(done));
    return true;
}

void ReplaceJob::report(const std::string& path, JobObserver::Outcome outcome, int error,
                        std::size_t replacements, std::string encoding) {
    reports_.push_back(
        Report{path, outcome, error, replacements, std::nullopt, nullptr, std::move(encoding)});
    flush_ready_reports();
}

void ReplaceJob::report_failure(const std::string& path, int error) {
    try {
        report(path, JobObserver::Outcome::failed, error);
    } catch (const std::exception&) {
        // No memory even to queue the line: the job goes on rather than end the program.
    }
}

void ReplaceJob::flush_ready_reports() {
    try {
        flush_reports(false);
    } catch (const std::exception&) {
        // Out of memory for a line: it stays queued and a later flush adds it.
    }
}

void ReplaceJob::flush_reports(bool wait) {
    while (!reports_.empty()) {
        Report& next = reports_.front();
        if (next.write) {
            const auto result = writer_->result(*next.write, wait);
            if (!result) {
                return;
            }
            // Kept with the report before its line is made, so that a flush that fails
            // there can be made again: the queue hands each result out only once.
            next.write.reset();
            next.error = *result;
            settle(next);
        }
        add_report_line(next);
        reports_.pop_front();
    }
}

// A rewrite's outcome once its write-back has ended with `report.error`: what the write-back
// thread wrote in `made` is read only after the queue handed the result over.
void ReplaceJob::settle(Report& report) {
    if (report.error != 0) {
        report.outcome = JobObserver::Outcome::failed;
    } else if (report.made && !report.made->written) {
        report.outcome = JobObserver::Outcome::unchanged;
    } else if (report.made) {
        report.replacements = report.made->chain.total();
    }
    report.made.reset();
}

void ReplaceJob::add_report_line(const Report& report) {
    const std::string& path = report.path;
    // A failure's reason speaks for itself; the groups count the files completed.
    if (!report.encoding.empty() && report.outcome != JobObserver::Outcome::failed) {
        ++tally_.encodings[report.encoding];
    }
    switch (report.outcome) {
        case JobObserver::Outcome::changed:
            status(dry_run_ ? messages::file_would_change(path) : messages::file_done(path));
            ++tally_.changed;
            tally_.replacements += report.replacements;
            break;
        case JobObserver::Outcome::unchanged:
            status(dry_run_ ? messages::file_would_stay(path) : messages::file_done(path));
            ++tally_.unchanged;
            break;
        case JobObserver::Outcome::skipped:
            status(messages::file_skipped(path));
            ++tally_.skipped;
            break;
        case JobObserver::Outcome::failed:
            status(messages::file_failed(path));
            observer_.add_status_line(reason_line(report.error));
            ++tally_.failed;
            break;
    }
    observer_.target_finished(path, report.outcome);
}

// Its write-back was not submitted, so the file on disk is still the old one. Its lock goes
// now, so that another job may take it, and with it those of the files looked at ahead.
void ReplaceJob::drop_file_in_hand() {
    ahead_.reset();
    timer2_on_ = false;
    loaded_ = LoadedFile{};
    form_ = Held{};
    preview_before_ = std::string();
    entry_cursor_ = 0;
    replacements_ = 0;
}

void ReplaceJob::request_stop() {
    if (!running() || stopping_) {
        return;
    }
    drop_file_in_hand();
    stopping_ = true;
    timer1_on_ = true;
    try {
        end_when_written(messages::kStopped);
    } catch (const std::exception&) {
        // Out of memory for a closing line: timer1 tries the end again.
    }
}

void ReplaceJob::wait_for_write_back() {
    if (const auto index = std::exchange(waiting_on_scan_, std::nullopt); index && ahead_) {
        ahead_->wait_for(*index);
    } else if (writer_) {
        writer_->wait_for_progress();
    }
}

bool ReplaceJob::end_when_written(std::string_view closing) {
    flush_ready_reports();
    if (reports_.empty()) {
        end_job(closing);
        return true;
    }
    // A line still waiting for its write-back is worth waiting for; one that found no memory
    // is simply tried again.
    return !reports_.front().write;
}

void ReplaceJob::stop() {
    if (!running()) {
        return;
    }
    drop_file_in_hand();
    timer1_on_ = false;
    try {
        // The write-backs already queued are in flight and end whole; their lines come first,
        // so that the summary counts them.
        flush_reports(true);
    } catch (const std::exception&) {
        // Out of memory for a line: the job still ends, but not before every queued file is
        // in place.
        for (const Report& left : reports_) {
            if (left.write) {
                writer_->wait(*left.write);
            }
        }
    }
    reports_.clear();
    end_job(messages::kStopped);
}

void ReplaceJob::end_job(std::string_view closing) {
    ahead_.reset();  // a stop leaves looks untaken: their files are let go
    file_cursor_ = 0;
    timer1_on_ = false;
    stopping_ = false;
    observer_.set_inputs_locked(false);
    status(closing);
    status(messages::summary(tally_, dry_run_));
    observer_.summary_added(tally_);
    for (const auto& [encoding, count] : tally_.encodings) {
        status(messages::encoding_group(encoding, count));
    }
    close_journal();
    observer_.clear_except_field();
    observer_.focus_source_field();
}

void ReplaceJob::close_journal() {
    // Every write-back has ended by now: nothing else uses the journal.
    store_.set_journal(nullptr);
    const auto lines = JournalWriter::close(journal_, journal_error_, tally_.changed);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        i == 0 ? status(lines[i]) : observer_.add_status_line(lines[i]);  // then its reason
    }
}

void ReplaceJob::run_to_end(const std::function<bool()>& stop_requested) {
    while (running()) {
        if (stop_requested && stop_requested()) {
            stop();
            return;
        }
        if (!(timer1_on_ ? tick_timer1() : tick_timer2())) {
            wait_for_write_back();
        }
    }
}

}  // namespace wendrel::core
