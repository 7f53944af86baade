#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "encoded_rules.h"
#include "entry.h"
#include "entry_pass.h"
#include "file_store.h"
#include "job_observer.h"
#include "journal_writer.h"
#include "match_options.h"
#include "messages.h"
#include "scan_ahead.h"
#include "target_set.h"
#include "walk_options.h"
#include "write_back_queue.h"

namespace wendrel::core {

class FileSystem;

/// What the window holds when the start button is clicked.
struct JobInputs {
    std::string source;  // txt_source
    std::string except;  // txt_except
    std::string change;  // txt_change: path of the replacement-content file
    MatchOptions options;
    /// Runs the whole job in memory and writes no file (the batch program's --dry-run).
    bool dry_run = false;
    /// In a dry run: each loaded target's content before and after the entries goes to the
    /// observer's preview_ready().
    bool want_preview = false;
    /// How far folder items reach: by default, to the folder's direct files.
    WalkOptions walk = {};
    /// How targets are read: each in the encoding its content shows ("auto"), all as bytes
    /// ("bytes"), or all in the encoding of this iconv name.
    std::string encoding = "auto";
    /// The replacement-content file's encoding (an iconv name); empty: found from its content.
    std::string rules_encoding = {};
    /// Entries given directly (the batch program's FIND REPLACE): when set, they are the job's
    /// entries and `change` is not read. Kept after the fields the window fills, so that
    /// those keep their places.
    std::optional<std::vector<Entry>> entries = {};
};

/// The replacement job. The owner calls start() for a click of the start button, then
/// tick_timer1() while timer1_on() and tick_timer2() while timer2_on(), one call per timer
/// tick, until neither is on. Nothing here throws, blocks on a special file or shows anything
/// itself: all output goes to the observer. With writer threads, no tick waits for them: a tick
/// that would have to returns false, having changed nothing, and is simply made again.
class ReplaceJob {
  public:
    using Clock = std::function<std::string()>;

    /// Files are synced to disk on this many threads while the next file is worked on.
    static constexpr std::size_t kWriteThreads = WriteBackQueue::kDefaultThreads;
    /// The next targets are opened and read on this many threads while the ticks go on.
    static constexpr std::size_t kScanThreads = 2;

    explicit ReplaceJob(JobObserver& observer);
    /// With `write_threads` 0 every file is written back inside the tick that finishes it;
    /// with `scan_threads` 0 every file is read inside the tick that loads it.
    ReplaceJob(JobObserver& observer, FileSystem& fs, Clock clock,
               std::size_t write_threads = kWriteThreads, std::size_t scan_threads = kScanThreads);
    /// Lets every queued write-back end, and closes the journal, before anything goes.
    ~ReplaceJob();
    ReplaceJob(const ReplaceJob&) = delete;
    ReplaceJob& operator=(const ReplaceJob&) = delete;

    /// Later jobs keep each changed file's old content in the journal at `root` (usually
    /// Journal::default_root()), so that they can be taken back; empty: they cannot.
    void keep_undo_in(std::string root) { journal_root_ = std::move(root); }

    /// The start pass: resets the job, checks and reads the inputs, and starts timer1.
    void start(const JobInputs& inputs);
    /// Ends the job when every target is dealt with and every write-back has ended; otherwise
    /// skips excluded targets and loads the next one. False: waiting for a write-back.
    bool tick_timer1();
    /// Applies the next entry to the loaded file; after the last entry writes the file back.
    /// False: waiting for room among the write-backs.
    bool tick_timer2();
    /// Ends a running job early, between two ticks: the file in hand is left as it is on disk
    /// (unless its write-back was already handed to the writer threads), the write-backs
    /// already queued end and report as usual, and no further target is loaded. The job then
    /// ends with kStopped and its summary. Does nothing on an idle job. Waits for the queued
    /// write-backs.
    void stop();
    /// stop() for a thread that must not wait: the job ends at once, or on the first tick of
    /// timer1 at which every queued write-back has ended; until then it stays running.
    void request_stop();
    /// After a tick that returned false: blocks until what it waited for (a write-back, or the
    /// look at the next target) has moved on, for a front end with nothing else to do.
    void wait_for_write_back();
    /// Drives the ticks back to back until the job is idle, or stops it between two ticks once
    /// `stop_requested` says so.
    void run_to_end(const std::function<bool()>& stop_requested = {});

    bool timer1_on() const { return timer1_on_; }
    bool timer2_on() const { return timer2_on_; }
    bool running() const { return timer1_on_ || timer2_on_; }

    const std::vector<Entry>& replace_list() const { return replace_list_; }
    const std::vector<std::string>& except_list() const { return except_list_; }
    const std::vector<std::string>& targets() const { return targets_.paths(); }
    /// Content of the file being worked on, as the entries so far made it (its text in UTF-8
    /// when the file is in another encoding): only a preview holds it. Every other job streams each
    /// file through its entries and holds none.
    const std::string& file_text() const { return loaded_.content; }
    double progress_value() const { return progress_value_; }
    double progress_max() const { return progress_max_; }

  private:
    void reset();
    /// Fills the target set and reports the folder items that could not be listed.
    void build_targets(const std::string& source, const std::string& content_file,
                       const WalkOptions& walk);
    void add_file_info(std::uint64_t total);
    /// Whether the file at `path` is still being rewritten by an earlier write-back.
    bool being_written(const std::string& path);
    void finish_file();
    /// Hands the finished file to the writer threads; false, changing nothing, while they have
    /// no room for it.
    bool submit_finished();
    void hand_to_timer1();
    /// The file in hand is let go, as it is on disk, and its lock with it; so are the files
    /// looked at ahead.
    void drop_file_in_hand();
    /// Adds a target's line, after the lines of every earlier target.
    void report(const std::string& path, JobObserver::Outcome outcome, int error = 0,
                std::size_t replacements = 0, std::string encoding = {});
    /// The failure line of a target, as far as memory allows; never throws.
    void report_failure(const std::string& path, int error);
    /// Adds the lines whose write-backs have finished, in target order; with `wait`, all.
    void flush_reports(bool wait);
    /// flush_reports(false) that leaves a line it cannot make for a later flush; never throws.
    void flush_ready_reports();
    struct Report;
    /// Takes a finished write-back's outcome into its report.
    void settle(Report& report);
    /// The target's line (and a failure's reason line), counted for the closing summary.
    void add_report_line(const Report& report);
    /// Ends the job once every target's line is added; false while a write-back is in flight.
    bool end_when_written(std::string_view closing);
    /// `closing` is the line before the summary: kAllDone, or kStopped.
    void end_job(std::string_view closing = messages::kAllDone);
    /// Closes the job's journal, and says whether and how the job can be taken back.
    void close_journal();
    void status(std::string_view message);
    /// The time text every status line ends with.
    std::string clock_text() const;
    void set_progress_value(double value);

    // A target's line waits here until its write-back (if any) has finished, so lines keep
    // target order and a completion line is only added once the file is in place.
    struct Report {
        std::string path;
        JobObserver::Outcome outcome;
        int error = 0;  // a failure's cause: an errno, or one of failure::k…
        std::size_t replacements = 0;
        std::optional<WriteBackQueue::Ticket> write;
        /// A rewrite's own account, once its write-back has ended: what it replaced, and
        /// whether the file changed at all.
        std::shared_ptr<FileRewrite::Made> made;
        std::string encoding;  // the file was read in, when it is not UTF-8 or bytes
    };

    JobObserver& observer_;
    FileSystem& fs_;
    FileStore store_;
    std::unique_ptr<WriteBackQueue> writer_;  // null: write-backs run inside the tick
    const std::size_t scan_threads_;
    Clock clock_;
    EntryPass pass_;
    std::deque<Report> reports_;

    MatchOptions options_;
    bool dry_run_ = false;
    bool preview_ = false;        // a dry run whose targets go to preview_ready()
    std::string preview_before_;  // the loaded target as read, while `preview_`
    std::vector<Entry> replace_list_;
    std::vector<std::string> except_list_;
    TargetSet targets_;
    // Looks at the next targets while the ticks go on (null: each is read in its load tick).
    // Declared after what it reads, so that it goes first.
    std::unique_ptr<ScanAhead> ahead_;
    std::optional<std::size_t> waiting_on_scan_;  // a tick returned false for this target
    std::optional<std::size_t> rescan_;  // its look may predate an earlier write of its file
    std::size_t file_cursor_ = 0;        // next target to load; the loaded one is at cursor - 1
    std::size_t entry_cursor_ = 0;       // next entry to apply to the loaded file
    LoadedFile loaded_;
    std::size_t replacements_ = 0;  // made in the loaded file so far
    // The form the loaded file is in. Held: a preview's loaded_.content is the text and each
    // pass rewrites it. Streamed: the file was looked at once (and, in a dry run, counted
    // through the entries) and is not held; its write-back runs the entries while copying it.
    // Finished: every entry's tick is made and the new content waits for room among the
    // write-backs.
    struct Held {
        std::shared_ptr<const JobRules> rules;
        TextEncoding encoding;
    };
    struct Streamed {
        FileStore::Found found;
    };
    struct Finished {
        NewContent text;
        std::shared_ptr<FileRewrite::Made> made;
        std::string encoding;  // as Report::encoding
    };
    std::variant<Held, Streamed, Finished> form_;
    // replace_list_ and options_, in the forms the files need, as they share them
    std::shared_ptr<const EncodedRules> rules_;

    // Keeps what the job replaces; null when it cannot be undone (journal_error_ says why,
    // or 0 when none was asked for).
    std::string journal_root_;
    std::unique_ptr<JournalWriter> journal_;
    int journal_error_ = 0;
    messages::Tally tally_;  // of the job so far, for its closing summary
    double progress_max_ = 100;
    double progress_value_ = 0;
    bool timer1_on_ = false;
    bool timer2_on_ = false;
    bool stopping_ = false;  // request_stop() came: no further load, the end awaits the writes
};

}  // namespace wendrel::core
