#include "batch_printer.h"

#include <cerrno>
#include <exception>

#include "core/messages.h"
#include "core/unified_diff.h"

namespace wendrel::batch {
namespace {

bool starts_with(const std::string& line, std::string_view prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
}

// Bold file names, cyan hunk headers, removed lines red and added ones green; the colour ends
// before the line's '\n', so that a pager's line stays whole.
std::string coloured(core::UnifiedDiff::Piece piece, std::string_view line) {
    using Piece = core::UnifiedDiff::Piece;
    const char* colour = piece == Piece::file_header   ? "\033[1m"
                         : piece == Piece::hunk_header ? "\033[36m"
                         : piece == Piece::removed     ? "\033[31m"
                         : piece == Piece::added       ? "\033[32m"
                                                       : nullptr;
    if (colour == nullptr) {
        return std::string(line);
    }
    line.remove_suffix(1);
    return colour + std::string(line) + "\033[m\n";
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

void BatchPrinter::write(std::FILE* to, std::string_view text) {
    bool* closed = to == diff_out_ ? &diff_closed_ : to == out_ ? &out_closed_ : nullptr;
    if (closed != nullptr && *closed) {
        return;
    }
    if (drawn_percent_ >= 0) {
        finish_progress();
    }
    std::fwrite(text.data(), 1, text.size(), to);
    if (closed != nullptr && std::ferror(to) && errno == EPIPE) {
        *closed = true;  // a pipe to a reader that has stopped reading, as `head` does
    }
}

void BatchPrinter::print(std::FILE* to, const std::string& line) {
    write(to, line + '\n');
}

void BatchPrinter::print_diffs(std::FILE* to, bool colour) {
    diff_out_ = to;
    diff_colour_ = colour;
}

void BatchPrinter::preview_ready(const std::string& path, std::string_view before,
                                 std::string_view after, std::size_t) {
    if (diff_out_ == nullptr) {
        return;
    }
    pending_diff_.clear();
    // Held until the file's line, which comes after this call. Without memory for it the diff
    // is left out, and the run counts as failed: its output is not the whole change.
    try {
        core::UnifiedDiff(before, after).write(path, [this](auto piece, std::string_view line) {
            pending_diff_ += diff_colour_ ? coloured(piece, line) : std::string(line);
        });
    } catch (const std::exception&) {
        pending_diff_.clear();
        pending_diff_.shrink_to_fit();
        std::fputs("wendrel-batch: out of memory for a diff; it is left out\n", errors_);
        ++failures_;
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
    if (!pending_diff_.empty()) {
        write(diff_out_, pending_diff_);
        pending_diff_.clear();
    }
}

}  // namespace wendrel::batch
