// Targets in encodings other than UTF-8: matched as characters, written back in their own bytes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/failure_reason.h"
#include "iconv_reference.h"
#include "job_harness.h"
#include "reference_model.h"

namespace wendrel::test {
namespace {

using Outcome = core::JobObserver::Outcome;

// Enough ordinary text for a detector to be sure of its encoding, with '乤' (GB18030 81 61) and
// '丂' (81 40), whose second bytes are an 'a' and an '@'.
std::string chinese_text() {
    std::string text;
    for (int i = 0; i < 12; ++i) {
        text += "这是一段用来检查文件编码的中文文字，我们希望替换以后其他的字都保持原样。乤丂a@\n";
    }
    return text;
}

std::string encode(const std::string& encoding, const std::string& utf8) {
    return encoding.empty() ? utf8 : iconv_whole("UTF-8", encoding.c_str(), utf8);
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
        text.replace(at, from.size(), to);
    }
    return text;
}

struct Case {
    const char* name;
    std::string encoding;  // of the target (iconv name); empty: UTF-8
    std::string bom;       // bytes before the text
    std::string text;      // UTF-8
    std::string rules_encoding;
    std::vector<core::Entry> entries;  // UTF-8
    std::string mode = "auto";         // how the job reads targets
    int error = 0;                     // the target fails, and keeps its bytes
    std::string group = {};            // named after the summary for the completed target
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class EncodedJobTest : public ::testing::TestWithParam<Case> {};

// Each target comes out in its own encoding with its mark, exactly the expected characters
// changed, or, where its encoding cannot hold a replacement, as it was with the reason.
TEST_P(EncodedJobTest, ChangesCharactersAndKeepsTheEncoding) {
    const Case& c = GetParam();
    JobHarness h;
    const std::string before = c.bom + encode(c.encoding, c.text);
    const std::string path = h.dir.write("target.txt", before);
    std::string records;
    for (const auto& entry : c.entries) {
        records += entry.find + "|" + entry.replace + "|\r\n";
    }
    core::JobInputs inputs;
    inputs.source = path;
    inputs.change = h.lists.write("rules.txt", encode(c.rules_encoding, records));
    inputs.encoding = c.mode;
    for (const bool dry_run : {true, false}) {
        inputs.dry_run = dry_run;
        h.obs = RecordingObserver();
        h.job.start(inputs);
        run_ticks(h.job);
        ASSERT_EQ(h.obs.tally.failed, c.error != 0 ? 1u : 0u) << h.obs.summary;
        if (c.error != 0) {
            EXPECT_EQ(h.obs.reasons, Lines{core::reason_line(c.error)});
        }
        const Lines groups =
            c.group.empty() ? Lines{}
                            : Lines{"按" + c.group + "编码处理了1个文件--" + JobHarness::kTime};
        EXPECT_EQ(Lines(h.obs.status.end() - static_cast<long>(groups.size()), h.obs.status.end()),
                  groups);
    }
    // Bytes are replaced as bytes; text as characters.
    const bool bytes = c.mode == "bytes";
    std::string expected = bytes ? before : c.text;
    for (const auto& entry : c.entries) {
        expected = replace_all(expected, entry.find, entry.replace);
    }
    if (c.error != 0) {
        expected = before;
    } else if (!bytes) {
        expected = c.bom + encode(c.encoding, expected);
    }
    EXPECT_EQ(h.content(path), expected);
}

const std::string kGb = "GB18030";

INSTANTIATE_TEST_SUITE_P(
    Rows, EncodedJobTest,
    ::testing::Values(Case{"Gb18030WithUtf8Rules",
                           kGb,
                           "",
                           chinese_text(),
                           "",
                           {{"中文", "汉语"}},
                           "auto",
                           0,
                           kGb},
                      Case{"Gb18030WithItsOwnRules",
                           kGb,
                           "",
                           chinese_text(),
                           kGb,
                           {{"文字", "字"}},
                           "auto",
                           0,
                           kGb},
                      Case{"TrailBytesAreNotLetters",
                           kGb,
                           "",
                           chinese_text(),
                           "",
                           {{"a", "b"}, {"@", "#"}},
                           "auto",
                           0,
                           kGb},
                      Case{"Utf16LeOtherLengths",
                           "UTF-16LE",
                           "\xFF\xFE",
                           "中文abc\r\n文",
                           "",
                           {{"abc", "abcdef"}, {"中", ""}},
                           "auto",
                           0,
                           "UTF-16LE"},
                      Case{"Utf16BeOtherLengths",
                           "UTF-16BE",
                           "\xFE\xFF",
                           "中文abc\r\n文",
                           "",
                           {{"abc", "x"}, {"文", "文字"}},
                           "auto",
                           0,
                           "UTF-16BE"},
                      Case{"Utf8MarkKept", "", "\xEF\xBB\xBF", "中文abc", "", {{"abc", "字"}}},
                      Case{"NotRepresentable",
                           "BIG5",
                           "",
                           "中文abc",
                           "",
                           {{"abc", "汉"}},
                           "BIG5",
                           core::failure::kNotRepresentable},
                      Case{"NotInTheNamedEncoding",
                           "",
                           "",
                           "中文abc",
                           "",
                           {{"abc", "x"}},
                           "BIG5",
                           core::failure::kNotInEncoding},
                      Case{"BytesModeMatchesBytes", kGb, "", "乤", "", {{"a", "b"}}, "bytes"}),
    [](const auto& info) { return std::string(info.param.name); });

// Random text in each encoding and random entries: the job's result is the text decoded,
// replaced as characters by the reference model, and encoded back.
TEST(EncodedJob, EqualsDecodeReplaceEncodeOnRandomInput) {
    std::mt19937 rng(20261207);
    for (const std::string encoding :
         {"GB18030", "UTF-16LE", "UTF-16BE", "BIG5", "SHIFT_JIS", "EUC-KR"}) {
        SCOPED_TRACE(encoding);
        std::vector<std::string> alphabet;
        for (const char* c :
             {"a", "A", "b", " ", "\n", "@", "中", "文", "乤", "丂", "們", "の", "語", "한"}) {
            try {
                if (iconv_whole(encoding.c_str(), "UTF-8", encode(encoding, c)) == c) {
                    alphabet.emplace_back(c);
                }
            } catch (const std::exception&) {
                // not a character of this encoding
            }
        }
        const auto random_text = [&](std::size_t most) {
            std::string text;
            for (std::size_t n = rng() % (most + 1); n > 0; --n) {
                text += alphabet[rng() % alphabet.size()];
            }
            return text;
        };
        JobHarness h;
        for (int round = 0; round < 25; ++round) {
            const std::string text = random_text(60);
            std::vector<core::Entry> entries(1 + rng() % 3);
            std::string records;
            for (auto& entry : entries) {
                entry = {random_text(2) + alphabet[rng() % alphabet.size()], random_text(3)};
                if (entry.find.find_first_of("|\r\n") != std::string::npos ||
                    entry.replace.find_first_of("|\r\n") != std::string::npos) {
                    entry = {"a", "b"};
                }
                records += entry.find + "|" + entry.replace + "|\n";
            }
            const core::MatchOptions options{rng() % 2 == 0, rng() % 2 == 0};
            std::string expected = text;
            for (const auto& entry : entries) {
                expected = model_entry_pass(expected, entry, options).content;
            }
            const std::string path = h.dir.write("target", encode(encoding, text));
            core::JobInputs inputs;
            inputs.source = path;
            inputs.change = h.lists.write("rules", records);
            inputs.options = options;
            inputs.encoding = encoding;
            h.obs = RecordingObserver();
            h.job.start(inputs);
            run_ticks(h.job);
            ASSERT_EQ(h.content(path), encode(encoding, expected))
                << ::testing::PrintToString(text) << " " << records;
        }
    }
}

}  // namespace
}  // namespace wendrel::test
