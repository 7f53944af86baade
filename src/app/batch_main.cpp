#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "batch/batch_printer.h"
#include "batch/command_line.h"
#include "core/file_size_signal.h"
#include "core/messages.h"
#include "core/replace_job.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr const char* kUsageHint =
    "usage: wendrel-batch --change FILE (--source TEXT | --file PATH | --dir PATH)... "
    "[OPTION]...\nTry 'wendrel-batch --help' for more information.\n";

}  // namespace

int main(int argc, char** argv) try {
    using namespace wendrel;
    core::FileSizeSignal::ignore();
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

    batch::BatchPrinter printer(stdout, isatty(STDERR_FILENO) ? stderr : nullptr, request.quiet,
                                request.inputs.dry_run);
    core::ReplaceJob job(printer);
    job.start(request.inputs);
    if (printer.input_check_shown()) {
        std::fprintf(stderr, "%s\n%s", std::string(core::messages::kInputCheck).c_str(),
                     kUsageHint);
        return kExitUsage;
    }
    job.run_to_end();
    printer.finish_progress();
    if (std::fflush(stdout) != 0) {
        return kExitFailure;
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
