#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "batch/batch_printer.h"
#include "batch/command_line.h"
#include "core/file_size_signal.h"
#include "core/journal.h"
#include "core/messages.h"
#include "core/posix_file_system.h"
#include "core/replace_job.h"
#include "core/time_text.h"
#include "core/undo_job.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStopped = 130;  // as a shell reports a program ended by SIGINT
constexpr const char* kUsageHint = "Try 'wendrel-batch --help'.\n";

// Whether two descriptors reach the same file (a terminal, a log), where one copy of a line
// is enough.
bool same_file(int a, int b) {
    struct stat first {
    }, second{};
    return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

// Set by a stop signal; the run loop stops the job between two ticks, so that no file is left
// half-written and no temporary file stays behind.
volatile std::sig_atomic_t stop_requested = 0;

extern "C" void request_stop(int) {
    stop_requested = 1;
}

void catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = request_stop;
    action.sa_flags = SA_RESTART;  // the printing and the write-backs go on undisturbed
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
}

// The kept jobs, newest first: id, start time, files changed, and whether taken back.
int list_jobs(const std::string& root) {
    using namespace wendrel;
    std::vector<core::JournalJob> jobs;
    if (const int error = core::Journal(core::PosixFileSystem::instance(), root).list(jobs)) {
        std::fprintf(stderr, "wendrel-batch: cannot read %s: %s\n", root.c_str(),
                     std::strerror(error));
        return kExitFailure;
    }
    for (auto job = jobs.rbegin(); job != jobs.rend(); ++job) {
        char when[32] = "";
        const std::time_t started = job->started;
        std::tm local{};
        localtime_r(&started, &local);
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
        std::string state = !job->undone_by.empty() ? "已撤销（" + job->undone_by + "）"
                            : !job->ended           ? "未完成"
                                                    : "可以撤销";
        if (!job->undoes.empty()) {
            state += "，撤销了" + job->undoes;
        }
        std::printf("%s\t%s\t改动%zu个文件\t%s\n", job->id.c_str(), when, job->files.size(),
                    state.c_str());
    }
    return std::fflush(stdout) == 0 ? 0 : kExitFailure;
}

}  // namespace

int main(int argc, char** argv) try {
    using namespace wendrel;
    // First of all: a stop that comes while the job is being prepared still ends it with its
    // closing lines, rather than killing the program before it has said anything.
    catch_stop_signals();
    core::FileSizeSignal::ignore();
    core::FileSystem& fs = core::PosixFileSystem::instance();
    std::setlocale(LC_ALL, "");  // the time in each status line follows the user's locale

    batch::BatchRequest request;
    std::string error;
    if (!batch::CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc), request,
                                   error)) {
        std::fprintf(stderr, "wendrel-batch: %s\n%s", error.c_str(), kUsageHint);
        return kExitUsage;
    }
    if (request.help) {
        std::fputs(batch::CommandLine::help_text(), stdout);
        return 0;
    }
    if (request.version) {
        std::puts("wendrel-batch " WENDREL_VERSION);
        return 0;
    }

    // Each finished line reaches the reader at once: a run that is killed loses none. A reader
    // that goes away (`| head`) stops the printing, not the job, whose status is the exit's.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);
    // Under --diff standard output holds only the diff, so that it can go to `patch` as it is.
    std::FILE* lines = request.diff ? stderr : stdout;
    batch::BatchPrinter printer(
        lines, stderr, !request.diff && !same_file(STDOUT_FILENO, STDERR_FILENO),
        isatty(STDERR_FILENO) ? stderr : nullptr, request.quiet, request.inputs.dry_run);
    if (request.diff) {
        using Colour = batch::BatchRequest::Colour;
        printer.print_diffs(stdout,
                            request.colour == Colour::always ||
                                (request.colour == Colour::automatic && isatty(STDOUT_FILENO)));
    }
    const std::string journal_root = core::Journal::default_root();
    if (request.undo_limit_mib) {
        if (const int error =
                core::Journal(fs, journal_root).set_limit_mib(*request.undo_limit_mib)) {
            std::fprintf(stderr, "wendrel-batch: cannot set the undo limit in %s: %s\n",
                         journal_root.c_str(), std::strerror(error));
            return kExitFailure;
        }
        if (request.action == batch::BatchRequest::Action::replace &&
            request.inputs.change.empty() && request.inputs.source.empty()) {
            return 0;  // only the limit was asked for
        }
    }
    if (request.action == batch::BatchRequest::Action::list_jobs) {
        return list_jobs(journal_root);
    }
    if (request.action == batch::BatchRequest::Action::undo) {
        core::UndoJob undo(printer, fs, core::local_time_text);
        undo.start(journal_root, request.undo_id);
        bool stopped = false;
        undo.run_to_end([&stopped] { return stopped = stop_requested != 0; });
        printer.finish_progress();
        std::fflush(stdout);
        return stopped ? kExitStopped : printer.any_failure() ? kExitFailure : 0;
    }
    core::ReplaceJob job(printer);
    if (request.keep_undo) {
        job.keep_undo_in(journal_root);
    }
    job.start(request.inputs);
    if (printer.input_check_shown()) {
        std::fprintf(stderr, "%s\n%s", std::string(core::messages::kInputCheck).c_str(),
                     kUsageHint);
        return kExitUsage;
    }
    if (request.strict && printer.warnings() != 0) {
        std::fputs(
            "wendrel-batch: the replacement-content file has warnings (see above); "
            "nothing was changed (--strict)\n",
            stderr);
        return kExitUsage;
    }
    bool stopped = false;
    job.run_to_end([&stopped] { return stopped = stop_requested != 0; });
    printer.finish_progress();
    if (std::fflush(stdout) != 0 && errno != EPIPE) {
        return kExitFailure;  // the log could not be written (a full disk, say)
    }
    if (stopped) {
        return kExitStopped;
    }
    return printer.any_failure() ? kExitFailure : 0;
} catch (const std::exception& error) {
    // Out of memory outside any file's work (the job itself catches within it): say so and
    // fail, rather than abort.
    std::fprintf(stderr, "wendrel-batch: %s\n", error.what());
    return kExitFailure;
} catch (...) {
    std::fputs("wendrel-batch: unexpected failure\n", stderr);
    return kExitFailure;
}
