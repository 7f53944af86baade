// What one tick of the replacement job costs beyond the replacing itself: the job is driven
// tick by tick through the core over many small files in which no entry matches, so nothing is
// written back and every tick is mostly bookkeeping, a file load or a pass that finds nothing.
// The window adds its own event-loop cost on top (wendrel_ui_timing measures that).

#include <benchmark/benchmark.h>
#include <stdlib.h>  // mkdtemp

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/replace_job.h"
#include "counting_observer.h"

namespace {

using wendrel::core::ReplaceJob;
using Clock = std::chrono::steady_clock;

constexpr int kFiles = 1000;

// A scratch folder for the whole process, removed at the end of main.
class Scratch {
  public:
    static Scratch& instance() {
        static Scratch scratch;
        return scratch;
    }
    const std::filesystem::path& path() const { return path_; }
    void remove() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
        path_.clear();
    }

  private:
    Scratch() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "wendrel-tick-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    std::filesystem::path path_;
};

bool write_file(const std::filesystem::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
    return static_cast<bool>(out.flush());
}

// kFiles files of `bytes` bytes of lower-case prose, made once per size. No find text below
// begins with a capital, so none of them can occur here.
std::string targets_folder(std::size_t bytes) {
    const std::filesystem::path folder =
        Scratch::instance().path() / ("files-" + std::to_string(bytes));
    if (std::filesystem::exists(folder)) {
        return folder.string();
    }
    std::filesystem::create_directory(folder);
    std::string content;
    while (content.size() < bytes) {
        content += "the file was written before the morning and read again through the window. ";
    }
    content.resize(bytes);
    for (int i = 0; i < kFiles; ++i) {
        std::array<char, 16> name{};
        std::snprintf(name.data(), name.size(), "f%04d.txt", i);
        if (!write_file(folder / name.data(), content)) {
            return {};
        }
    }
    return folder.string();
}

// A content file of `entries` records whose find texts never occur in the targets.
std::string change_file(std::size_t entries) {
    const std::filesystem::path path =
        Scratch::instance().path() / ("changes-" + std::to_string(entries) + ".txt");
    std::string content;
    for (std::size_t i = 0; i < entries; ++i) {
        content += "Zq" + std::to_string(1000 + i) + "|Vw" + std::to_string(1000 + i) + "|\n";
    }
    return write_file(path, content) ? path.string() : std::string();
}

// One iteration is one whole job; the start pass (listing and sizing the folder) is outside
// the timed ticks. Each tick is timed on its own so that loads and passes can be told apart;
// reading the clock costs some tens of nanoseconds per tick, which the figures include.
void run_job_ticks(benchmark::State& state) {
    const auto entries = static_cast<std::size_t>(state.range(0));
    const auto bytes = static_cast<std::size_t>(state.range(1));
    const std::string folder = targets_folder(bytes);
    const std::string changes = change_file(entries);
    if (Scratch::instance().path().empty() || folder.empty() || changes.empty()) {
        state.SkipWithError("cannot write the scratch files");
        return;
    }
    wendrel::core::JobInputs inputs;
    inputs.source = folder + "/*;";
    inputs.change = changes;
    // One load tick and one tick per entry for each file, and the tick that ends the job.
    const std::size_t expected_ticks = kFiles * (entries + 1) + 1;

    std::chrono::nanoseconds load_time{0};
    std::chrono::nanoseconds entry_time{0};
    std::chrono::nanoseconds start_time{0};
    std::size_t load_ticks = 0;
    std::size_t entry_ticks = 0;
    for (auto _ : state) {
        wendrel::bench::CountingObserver observer;
        ReplaceJob job(observer);
        const auto before_start = Clock::now();
        job.start(inputs);
        auto clock = Clock::now();
        start_time += clock - before_start;
        std::chrono::nanoseconds ticks_time{0};
        std::size_t ticks = 0;
        while (job.running()) {
            const bool load = job.timer1_on();
            if (!(load ? job.tick_timer1() : job.tick_timer2())) {
                job.wait_for_write_back();  // the disk's time, counted as the tick's
            }
            const auto after = Clock::now();
            (load ? load_time : entry_time) += after - clock;
            (load ? load_ticks : entry_ticks) += 1;
            ticks_time += after - clock;
            clock = after;
            ++ticks;
        }
        state.SetIterationTime(std::chrono::duration<double>(ticks_time).count());
        if (ticks != expected_ticks || observer.completed != kFiles ||
            observer.not_completed != 0 || observer.replacements != 0 ||
            observer.input_checks != 0) {
            state.SkipWithError("the job did not load and finish every file without a match");
            return;
        }
    }
    const auto per = [](std::chrono::nanoseconds total, std::size_t count) {
        return count == 0 ? 0.0 : static_cast<double>(total.count()) / static_cast<double>(count);
    };
    state.counters["ns_per_tick"] = per(load_time + entry_time, load_ticks + entry_ticks);
    state.counters["ns_per_load_tick"] = per(load_time, load_ticks);
    state.counters["ns_per_entry_tick"] = per(entry_time, entry_ticks);
    state.counters["ticks"] = static_cast<double>(expected_ticks);
    state.counters["start_ms"] = per(start_time, state.iterations()) / 1e6;
}

}  // namespace

BENCHMARK(run_job_ticks)
    ->Name("job_ticks/no_match")
    ->ArgNames({"entries", "bytes"})
    ->ArgsProduct({{1, 10, 100}, {64, 4096}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Scratch::instance().remove();
    return 0;
}
