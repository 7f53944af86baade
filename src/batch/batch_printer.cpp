#include "batch_printer.h"

#include <cerrno>

#include "core/messages.h"

namespace wendrel::batch {
namespace {

bool starts_with(const std::string& line, std::string_view prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

BatchPrinter::BatchPrinter(std::FILE* out, std::FILE* errors, bool echo_failures,
                           std::FILE* progress, bool quiet, bool dry_run)
    : out_(out),
      errors_(errors),
      echo_failures_(echo_failures),
      progress_(progress),
      quiet_(quiet),
      dry_run_(dry_run) {}

void BatchPrinter::print(std::FILE* to, const std::string& line) {
    if (to == out_ && out_closed_) {
        return;
    }
    if (drawn_percent_ >= 0) {
        finish_progress();
    }
    std::fwrite(line.data(), 1, line.size(), to);
    std::fputc('\n', to);
    if (to == out_ && std::ferror(out_) && errno == EPIPE) {
        out_closed_ = true;  // a pipe to a reader that has stopped reading, as `head` does
    }
}

void BatchPrinter::add_status_line(const std::string& line) {
    const bool failure = starts_with(line, core::messages::kFailurePrefix) ||
                         starts_with(line, core::messages::kReasonPrefix);
    if (!quiet_ || failure) {
        print(out_, line);
    }
    if (failure && echo_failures_) {
        print(errors_, line);
    }
}

void BatchPrinter::add_warning_line(const std::string& line) {
    ++warnings_;
    print(errors_, line);
}

void BatchPrinter::add_file_info_line(const std::string& line) {
    if (!quiet_) {
        print(out_, line);
    }
}

void BatchPrinter::show_input_check(const std::string&) {
    input_check_shown_ = true;
}

void BatchPrinter::set_progress_value(double value) {
    if (progress_ == nullptr || progress_max_ <= 0) {
        return;
    }
    const int percent = static_cast<int>(value * 100 / progress_max_);
    if (percent == drawn_percent_) {
        return;
    }
    std::fflush(out_);
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(progress_, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, ' ').c_str(), percent);
    std::fflush(progress_);
    drawn_percent_ = percent;
}

void BatchPrinter::finish_progress() {
    if (progress_ != nullptr && drawn_percent_ >= 0) {
        std::fprintf(progress_, "\r%*s\r", 47, "");
        std::fflush(progress_);
    }
    drawn_percent_ = -1;
}

void BatchPrinter::entry_applied(const std::string&, std::size_t entry, std::size_t replacements) {
    if (counts_.size() <= entry) {
        counts_.resize(entry + 1, 0);
    }
    counts_[entry] = replacements;
}

void BatchPrinter::target_finished(const std::string& path, Outcome outcome) {
    if (outcome == Outcome::failed) {
        ++failures_;
    }
    if (dry_run_ && outcome == Outcome::changed && !quiet_) {
        std::string line =
            "dry run: " + core::messages::escaped(path) + ": replacements per entry:";
        std::size_t total = 0;
        for (const std::size_t count : counts_) {
            line += ' ' + std::to_string(count);
            total += count;
        }
        line += ", total " + std::to_string(total);
        print(out_, line);
    }
    counts_.clear();
}

}  // namespace wendrel::batch
