// Throughput of one entry pass over large texts, next to memchr/memmem as the ceiling a
// byte scan can reach on this machine. Every text is built once per process from a fixed
// seed, so runs are comparable between machines and commits.

#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <string.h>  // memmem, a GNU extension that <cstring> does not declare

#include "core/encoded_rules.h"
#include "core/encoding_sniffer.h"
#include "core/entry.h"
#include "core/entry_chain.h"
#include "core/entry_pass.h"
#include "core/entry_prefilter.h"
#include "core/file_store.h"
#include "core/match_options.h"
#include "core/posix_file_system.h"
#include "core/text_encoding.h"
#include "core/transcoder.h"

namespace {

using wendrel::core::Entry;
using wendrel::core::EntryPass;
using wendrel::core::EntryPrefilter;
using wendrel::core::MatchOptions;

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kTextSize = 64 * kMiB;
constexpr std::size_t kMarkSpacing = 64 * 1024;
constexpr std::uint64_t kSeed = 20240611;

// The find text of the sparse cases. No word of the vocabulary contains it, in any case,
// so the only matches are the ones planted by the generator.
constexpr std::string_view kMark = "Wendrel";
// Longer than the mark, so that the text grows and the pass cannot work in place.
constexpr std::string_view kMarkReplacement = "Quillback";

// A byte that the sparse text never holds: the memchr reference scans the whole buffer.
constexpr char kAbsentByte = '#';

struct SparseText {
    std::string text;
    std::size_t standalone_marks = 0;  // "Wendrel" between non-letters
    std::size_t embedded_marks = 0;    // "Wendrels": found, but not as a whole word
};

// Raw engine output only: the distributions of <random> differ between standard libraries,
// the engine's sequence does not.
class Generator {
  public:
    std::size_t below(std::size_t bound) { return static_cast<std::size_t>(engine_() % bound); }

  private:
    std::mt19937_64 engine_{kSeed};
};

constexpr std::array<std::string_view, 64> kWords = {
    "the",    "of",     "and",     "to",      "in",     "is",     "that",    "for",
    "it",     "as",     "with",    "was",     "on",     "be",     "at",      "by",
    "this",   "had",    "not",     "are",     "but",    "from",   "or",      "have",
    "an",     "they",   "which",   "one",     "you",    "were",   "her",     "all",
    "she",    "there",  "would",   "their",   "we",     "him",    "been",    "has",
    "when",   "who",    "will",    "more",    "no",     "if",     "out",     "so",
    "file",   "folder", "replace", "text",    "window", "button", "list",    "status",
    "record", "number", "between", "through", "little", "before", "morning", "question",
};

void append_word(std::string& text, Generator& gen, bool capital) {
    const std::string_view word = kWords[gen.below(kWords.size())];
    const std::size_t first = text.size();
    text.append(word);
    if (capital) {
        text[first] = static_cast<char>(text[first] - 'a' + 'A');
    }
}

// English-like prose: sentences of 4 to 19 words, a comma now and then, a line break after
// some sentences; the mark every ~64 KiB, alternately standalone and with a letter after it.
SparseText build_sparse_text() {
    SparseText result;
    std::string& text = result.text;
    text.reserve(kTextSize);
    Generator gen;
    std::size_t next_mark = kMarkSpacing / 2;
    // The marks stop well before the end, so that the bytes a longer replacement pushes past
    // the pass's last start position cannot hold one.
    const std::size_t marks_end = kTextSize - 2 * kMarkSpacing;
    constexpr std::size_t kLongestWord = 16;

    while (text.size() + kLongestWord + 2 < kTextSize) {
        const std::size_t words = 4 + gen.below(16);
        for (std::size_t w = 0; w < words && text.size() + kLongestWord + 2 < kTextSize; ++w) {
            if (text.size() >= next_mark && text.size() < marks_end) {
                text.append(kMark);
                if ((result.standalone_marks + result.embedded_marks) % 2 == 0) {
                    ++result.standalone_marks;
                } else {
                    text.push_back('s');
                    ++result.embedded_marks;
                }
                next_mark += kMarkSpacing - kMarkSpacing / 8 + gen.below(kMarkSpacing / 4);
            } else {
                append_word(text, gen, w == 0);
            }
            const bool last = w + 1 == words;
            if (last) {
                text.append(gen.below(4) == 0 ? ".\n" : ". ");
            } else {
                text.append(gen.below(12) == 0 ? ", " : " ");
            }
        }
    }
    text.resize(kTextSize, ' ');
    return result;
}

// "ab" followed by two letters from c to z: every 4th byte begins a match and no other.
std::string build_dense_text() {
    std::string text;
    text.reserve(kTextSize);
    Generator gen;
    while (text.size() < kTextSize) {
        text.append("ab");
        text.push_back(static_cast<char>('c' + gen.below(24)));
        text.push_back(static_cast<char>('c' + gen.below(24)));
    }
    return text;
}

const SparseText& sparse_text() {
    static const SparseText text = build_sparse_text();
    return text;
}

const std::string& dense_text() {
    static const std::string text = build_dense_text();
    return text;
}

const std::string& all_a_text(std::size_t size) {
    static const std::string text_32(32 * kMiB, 'a');
    static const std::string text_64(64 * kMiB, 'a');
    return size == text_32.size() ? text_32 : text_64;
}

struct PassCase {
    std::function<const std::string&()> source;
    Entry entry;
    MatchOptions options;
    // Counted by the generator, not by a pass; a function so that texts are built on first use.
    std::function<std::size_t()> expected_replacements;
};

// Each iteration rewrites a fresh copy of the source; the copy is outside the timed region
// (its cost is the "copy" reference below). One EntryPass serves every iteration, as one
// serves a whole job, so its buffer is allocated once and not on every pass.
void run_pass(benchmark::State& state, const PassCase& pass_case) {
    const std::string& source = pass_case.source();
    const std::size_t expected_replacements = pass_case.expected_replacements();
    const std::ptrdiff_t growth = static_cast<std::ptrdiff_t>(pass_case.entry.replace.size()) -
                                  static_cast<std::ptrdiff_t>(pass_case.entry.find.size());
    const std::size_t expected_size =
        static_cast<std::size_t>(static_cast<std::ptrdiff_t>(source.size()) +
                                 growth * static_cast<std::ptrdiff_t>(expected_replacements));
    EntryPass pass;
    std::string work;
    work.reserve(expected_size);
    std::size_t replacements = 0;
    for (auto _ : state) {
        state.PauseTiming();
        work.assign(source);
        state.ResumeTiming();
        replacements = pass.apply(work, pass_case.entry, pass_case.options);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
        // A fast wrong answer is worth nothing: stop as soon as the result is off.
        if (replacements != expected_replacements || work.size() != expected_size) {
            state.SkipWithError("pass gave an unexpected replacement count or text length");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(source.size()));
    state.counters["replacements"] = static_cast<double>(replacements);
}

// The pass made while reading the text through a chain of one stage, as a dry run counts each
// file; the reads here are copies from the text in memory.
void run_stream(benchmark::State& state, const PassCase& pass_case) {
    const std::string& source = pass_case.source();
    const std::size_t expected_replacements = pass_case.expected_replacements();
    const std::vector<Entry> entries{pass_case.entry};
    wendrel::core::ChainResult found;
    for (auto _ : state) {
        std::size_t at = 0;
        const auto read = [&](char* buffer, std::size_t size) -> long {
            const std::size_t n = std::min(size, source.size() - at);
            std::memcpy(buffer, source.data() + at, n);
            at += n;
            return static_cast<long>(n);
        };
        wendrel::core::EntryChain chain(entries, pass_case.options);
        found = chain.run(source.size(), read);
        benchmark::DoNotOptimize(found);
        if (found.error != 0 || found.total() != expected_replacements) {
            state.SkipWithError("streamed pass failed or miscounted");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(source.size()));
    state.counters["replacements"] = static_cast<double>(found.total());
}

void run_memchr(benchmark::State& state) {
    const std::string& text = sparse_text().text;
    for (auto _ : state) {
        const void* hit = std::memchr(text.data(), kAbsentByte, text.size());
        benchmark::DoNotOptimize(hit);
        if (hit != nullptr) {
            state.SkipWithError("the absent byte occurs in the text");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

// Finds every occurrence of the mark, so that the whole buffer is scanned as the pass does.
void run_memmem(benchmark::State& state) {
    const SparseText& sparse = sparse_text();
    const char* const begin = sparse.text.data();
    const char* const end = begin + sparse.text.size();
    std::size_t found = 0;
    for (auto _ : state) {
        found = 0;
        const char* at = begin;
        while (const void* hit =
                   memmem(at, static_cast<std::size_t>(end - at), kMark.data(), kMark.size())) {
            ++found;
            at = static_cast<const char*>(hit) + kMark.size();
        }
        benchmark::DoNotOptimize(found);
        if (found != sparse.standalone_marks + sparse.embedded_marks) {
            state.SkipWithError("memmem found an unexpected number of marks");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(sparse.text.size()));
    state.counters["replacements"] = static_cast<double>(found);
}

// What each pass iteration spends untimed on refreshing its input.
void run_copy(benchmark::State& state) {
    const std::string& source = sparse_text().text;
    std::string work;
    work.reserve(source.size());
    for (auto _ : state) {
        work.assign(source);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(source.size()));
}

// Find texts that the sparse text never holds, in any case: 6 to 9 letters drawn at random
// (with a seed of their own), every other letter upper case when case does not matter.
std::vector<Entry> absent_entries(std::size_t count, bool mixed_case) {
    std::mt19937_64 engine{kSeed + count};
    std::vector<Entry> entries;
    for (std::size_t k = 0; k < count; ++k) {
        std::string find(6 + engine() % 4, ' ');
        for (std::size_t i = 0; i < find.size(); ++i) {
            const char base = mixed_case && i % 2 == 1 ? 'A' : 'a';
            find[i] = static_cast<char>(base + engine() % 26);
        }
        entries.push_back({find, "x"});
    }
    return entries;
}

// The prefilter's look over the sparse text fed in pieces of 1 MiB, as a job reads a file,
// with find texts it never holds: the whole text is scanned and nothing may apply.
void run_prefilter(benchmark::State& state, std::size_t count, MatchOptions options) {
    const std::string& text = sparse_text().text;
    const EntryPrefilter filter(absent_entries(count, !options.match_case), options);
    if (filter.matcher() != EntryPrefilter::Matcher::vectorscan) {
        state.SkipWithError("the prefilter fell back to its own matcher");
        return;
    }
    for (auto _ : state) {
        EntryPrefilter::Scan scan(filter);
        for (std::size_t at = 0; at < text.size(); at += kMiB) {
            scan.feed(std::string_view(text).substr(at, kMiB));
        }
        scan.finish();
        if (scan.any_may_apply()) {
            state.SkipWithError("an absent find text was taken to occur");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

const std::string& sparse_source() {
    return sparse_text().text;
}

std::size_t all_marks() {
    return sparse_text().standalone_marks + sparse_text().embedded_marks;
}

std::size_t standalone_marks() {
    return sparse_text().standalone_marks;
}

// Enough timed work that even the slowest case averages over more than one pass, while the
// whole binary stays well under a few minutes on a shared machine.
constexpr double kMinSeconds = 2.0;

void register_pass(const char* name, PassCase pass_case) {
    benchmark::RegisterBenchmark(
        name, [pass_case](benchmark::State& state) { run_pass(state, pass_case); })
        ->Unit(benchmark::kMillisecond)
        ->MinTime(kMinSeconds);
}

// Chinese prose for the encoding cases: words of one to four characters, a comma or a full stop
// between runs of them, a line break after some sentences. UTF-8, about 64 MiB.
const std::string& chinese_text() {
    static const std::string text = [] {
        constexpr std::array<std::string_view, 24> kChineseWords = {
            "我们", "文件", "替换", "文本", "窗口", "按钮", "列表", "状态",
            "记录", "数字", "之间", "通过", "早晨", "问题", "春天", "河边",
            "小路", "山脚", "天气", "计划", "收获", "的",   "在",   "乤丂",
        };
        std::string out;
        out.reserve(kTextSize + 64);
        Generator gen;
        while (out.size() < kTextSize) {
            for (std::size_t w = 4 + gen.below(12); w > 0; --w) {
                out.append(kChineseWords[gen.below(kChineseWords.size())]);
            }
            out.append(gen.below(3) == 0 ? "。\n" : "，");
        }
        return out;
    }();
    return text;
}

const std::string& chinese_in(const char* encoding) {
    static std::vector<std::pair<std::string, std::string>> cache;
    for (const auto& [name, text] : cache) {
        if (name == encoding) {
            return text;
        }
    }
    wendrel::core::Transcoder to(std::string("UTF-8"), encoding);
    std::string text;
    to.convert(chinese_text(), text, true);
    return cache.emplace_back(encoding, std::move(text)).second;
}

// The one look a job takes at a file, fed in the 1 MiB pieces a job reads.
void run_sniff(benchmark::State& state, const std::string& text,
               wendrel::core::TextEncoding::Kind expected) {
    for (auto _ : state) {
        wendrel::core::EncodingSniffer sniffer;
        for (std::size_t at = 0; at < text.size(); at += kMiB) {
            sniffer.feed(std::string_view(text).substr(at, kMiB));
        }
        sniffer.finish();
        if (sniffer.result().kind != expected) {
            state.SkipWithError("the sniffer took the text for something else");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

void run_transcode(benchmark::State& state, const char* from, const char* to) {
    const std::string& text = std::string_view(from) == "UTF-8" ? chinese_text() : chinese_in(from);
    wendrel::core::Transcoder transcoder(from, to);
    std::string out;
    out.reserve(3 * kMiB);
    for (auto _ : state) {
        transcoder.reset();
        for (std::size_t at = 0; at < text.size(); at += kMiB) {
            out.clear();
            const bool last = at + kMiB >= text.size();
            if (transcoder.convert(std::string_view(text).substr(at, kMiB), out, last) != 0) {
                state.SkipWithError("the text did not convert");
                return;
            }
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

// One file's whole trip through a job, as its write threads make it: the look (FileStore::scan:
// its encoding, and the entries that may apply), then the write-back, which runs the entries
// over the file's text and writes it in its own encoding. On /dev/shm, so that the figure is
// the work's and not the disk's; the file is put back, untimed, before each run.
void run_rewrite(benchmark::State& state, const char* encoding, std::string_view mark) {
    using namespace wendrel::core;
    const bool utf8 = std::string_view(encoding) == "UTF-8";
    const std::string text = std::string(mark) + (utf8 ? chinese_text() : chinese_in(encoding));
    const std::string path = "/dev/shm/wendrel-rewrite-bench";
    RulesText rules;
    rules.entries = {{"替换", "更换"}, {"河边", "江边"}};
    rules.text = rules.entries;
    rules.encoding = {TextEncoding::Kind::utf8, {}, 0};
    const EncodedRules encoded(rules, MatchOptions{}, "auto");
    FileStore store(PosixFileSystem::instance());
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        state.ResumeTiming();
        FileStore::Found found;
        LoadedFile file;
        if (store.scan(path, encoded, false, found, file) != 0) {
            state.SkipWithError("the look failed");
            break;
        }
        FileRewrite rewrite{found.rules, found.skip};
        rewrite.encoding = found.encoding;
        rewrite.text_size = found.text_size;
        if (store.write_back(path, rewrite, file.info, file.held.get()) != 0 ||
            !rewrite.made->written ||
            (found.encoding.kind == TextEncoding::Kind::decoded) == utf8) {
            state.SkipWithError("the file was not rewritten as its text");
            break;
        }
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

void register_encoding_benchmarks() {
    for (const auto& [name, encoding, mark] : std::array<std::array<const char*, 3>, 3>{
             {{"encoding/rewrite/utf8", "UTF-8", ""},
              {"encoding/rewrite/gb18030", "GB18030", ""},
              {"encoding/rewrite/utf16le", "UTF-16LE", "\xFF\xFE"}}}) {
        benchmark::RegisterBenchmark(name,
                                     [encoding = encoding, mark = mark](benchmark::State& state) {
                                         run_rewrite(state, encoding, mark);
                                     })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond)
            ->MinTime(kMinSeconds);
    }
    using Kind = wendrel::core::TextEncoding::Kind;
    benchmark::RegisterBenchmark(
        "encoding/sniff/ascii_prose",
        [](benchmark::State& state) { run_sniff(state, sparse_text().text, Kind::utf8); })
        ->Unit(benchmark::kMillisecond)
        ->MinTime(kMinSeconds);
    benchmark::RegisterBenchmark(
        "encoding/sniff/utf8_chinese",
        [](benchmark::State& state) { run_sniff(state, chinese_text(), Kind::utf8); })
        ->Unit(benchmark::kMillisecond)
        ->MinTime(kMinSeconds);
    benchmark::RegisterBenchmark(
        "encoding/sniff/gb18030_chinese",
        [](benchmark::State& state) { run_sniff(state, chinese_in("GB18030"), Kind::decoded); })
        ->Unit(benchmark::kMillisecond)
        ->MinTime(kMinSeconds);
    for (const auto& [from, to] : std::array<std::pair<const char*, const char*>, 3>{
             {{"GB18030", "UTF-8"}, {"UTF-8", "GB18030"}, {"UTF-16LE", "UTF-8"}}}) {
        const std::string name = std::string("encoding/transcode/") + from + "_to_" + to;
        benchmark::RegisterBenchmark(
            name.c_str(),
            [from = from, to = to](benchmark::State& state) { run_transcode(state, from, to); })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(kMinSeconds);
    }
}

void register_benchmarks() {
    constexpr MatchOptions kMatchCase{.whole_word = false, .match_case = true};
    constexpr MatchOptions kIgnoreCase{.whole_word = false, .match_case = false};
    constexpr MatchOptions kWholeWord{.whole_word = true, .match_case = true};
    const Entry mark_entry{std::string(kMark), std::string(kMarkReplacement)};
    const Entry mark_entry_other_case{"wENDREL", std::string(kMarkReplacement)};

    register_pass("entry_pass/sparse/match_case",
                  {sparse_source, mark_entry, kMatchCase, all_marks});
    benchmark::RegisterBenchmark(
        "entry_pass/sparse/match_case_streamed",
        [=](benchmark::State& state) {
            run_stream(state, {sparse_source, mark_entry, kMatchCase, all_marks});
        })
        ->Unit(benchmark::kMillisecond)
        ->MinTime(kMinSeconds);
    register_pass("entry_pass/sparse/ignore_case",
                  {sparse_source, mark_entry_other_case, kIgnoreCase, all_marks});
    register_pass("entry_pass/sparse/whole_word",
                  {sparse_source, mark_entry, kWholeWord, standalone_marks});
    register_pass("entry_pass/dense/ab_to_xy",
                  {dense_text, Entry{"ab", "xy"}, kMatchCase, [] { return kTextSize / 4; }});
    // Every byte matches and every replacement is matched again one byte further on: the
    // worst case for a pass that shifts the tail or rescans from the start.
    for (const std::size_t mib : {32, 64}) {
        const std::size_t size = mib * kMiB;
        const std::string name = "entry_pass/all_a/a_to_aa/" + std::to_string(mib) + "MiB";
        const auto source = [size]() -> const std::string& { return all_a_text(size); };
        register_pass(name.c_str(),
                      {source, Entry{"a", "aa"}, kMatchCase, [size] { return size; }});
    }
    for (const std::size_t count : {1, 10, 100}) {
        for (const MatchOptions options : {kMatchCase, kIgnoreCase}) {
            const std::string name = "prefilter/no_match/finds:" + std::to_string(count) +
                                     (options.match_case ? "/match_case" : "/ignore_case");
            benchmark::RegisterBenchmark(
                name.c_str(),
                [=](benchmark::State& state) { run_prefilter(state, count, options); })
                ->Unit(benchmark::kMillisecond)
                ->MinTime(kMinSeconds);
        }
    }
    benchmark::RegisterBenchmark("reference/memchr_absent_byte", run_memchr)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(kMinSeconds);
    benchmark::RegisterBenchmark("reference/memmem_sparse_mark", run_memmem)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(kMinSeconds);
    benchmark::RegisterBenchmark("reference/copy_64MiB", run_copy)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(kMinSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    register_benchmarks();
    register_encoding_benchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
