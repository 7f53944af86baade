#include "core/unified_diff.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "temp_dir.h"

namespace wendrel::test {
namespace {

using core::UnifiedDiff;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
        lines.push_back(text.substr(at, end - at));
        at = end;
    }
    return lines;
}

// The fewest removed and added lines that turn `a` into `b`, by the longest common subsequence.
std::size_t edit_distance(const std::string& before, const std::string& after) {
    const auto a = lines_of(before), b = lines_of(after);
    std::vector<std::vector<std::size_t>> common(a.size() + 1,
                                                 std::vector<std::size_t>(b.size() + 1, 0));
    for (std::size_t i = a.size(); i-- > 0;) {
        for (std::size_t j = b.size(); j-- > 0;) {
            common[i][j] = a[i] == b[j] ? common[i + 1][j + 1] + 1
                                        : std::max(common[i + 1][j], common[i][j + 1]);
        }
    }
    return a.size() + b.size() - 2 * common[0][0];
}

// Lines from a few kinds, so that texts share many of them: CRLF, NUL, bytes that are not UTF-8.
std::string random_text(std::mt19937& random, std::size_t lines) {
    using namespace std::string_literals;
    static const std::string kLines[] = {"cat\n"s, "dog\r\n"s, "\n"s,  "x\0y\n"s, "\xff\xfe\n"s,
                                         "}\n"s,   "  a\n"s,   "b\n"s, "\r\n"s};
    std::string text;
    for (std::size_t i = 0; i < lines; ++i) {
        text += kLines[random() % std::size(kLines)];
    }
    if (!text.empty() && random() % 3 == 0) {
        text.pop_back();  // no newline at the end
    }
    return text;
}

std::size_t edits_of(const UnifiedDiff& diff) {
    std::size_t edits = 0;
    for (const auto& hunk : diff.hunks()) {
        for (const auto& line : hunk.lines) {
            edits += line.kind != UnifiedDiff::Line::Kind::context;
        }
    }
    return edits;
}

TEST(UnifiedDiff, SmallChangeWithLastLineUnterminated) {
    const UnifiedDiff diff("1\n2\n3\n4\n5\n6\n7\n8\n9", "1\n2\n3\n4\n5\nsix\n7\n8\n9\n");
    EXPECT_EQ(diff.text("d/f"),
              "--- a/d/f\n+++ b/d/f\n@@ -3,7 +3,7 @@\n 3\n 4\n 5\n-6\n+six\n 7\n 8\n-9\n"
              "\\ No newline at end of file\n+9\n");
    EXPECT_TRUE(UnifiedDiff("same\r\n", "same\r\n").text("f").empty());
}

// Random texts, a long text with more changed lines than the cap, and a pair too far apart for
// the search: `patch` turns each old text into the new one exactly, and all but the last with
// the fewest changed lines.
TEST(UnifiedDiff, PatchReproducesTheNewTextWithTheFewestChanges) {
    if (std::system("patch --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "the 'patch' program is not installed (scripts/deps installs it)";
    }
    TempDir dir;
    std::mt19937 random(20261207);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 0; i < 60; ++i) {
        const std::string before = random_text(random, random() % 40);
        std::string after = before;
        for (int edits = static_cast<int>(random() % 4); edits >= 0; --edits) {
            const std::size_t at = after.empty() ? 0 : random() % after.size();
            after = after.substr(0, at) + random_text(random, random() % 4) +
                    after.substr(std::min(after.size(), at + random() % 12));
        }
        pairs.emplace_back(before, random() % 8 == 0 ? random_text(random, 30) : after);
    }
    std::string long_before, long_after, far_before = "head\n", far_after = "head\n";
    for (int i = 0; i < 3000; ++i) {
        const std::string number = std::to_string(i) + "\n";
        long_before += "line " + number;
        long_after += (i % 2 == 0 ? "LINE " : "line ") + number;
        far_before += i < 1200 ? "old " + number : "";
        far_after += i < 1200 ? "new " + number : "";
    }
    pairs.emplace_back(long_before, long_after);
    pairs.emplace_back(far_before + "tail", far_after + "tail");

    // Some names hold bytes that must be quoted for `patch`.
    const auto name = [](std::size_t i) {
        return "f" + std::to_string(i) + (i % 4 ? "" : " \"\\\t");
    };
    std::string patch;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const auto& [before, after] = pairs[i];
        dir.write(name(i), before);
        const UnifiedDiff diff(before, after);
        if (i + 2 < pairs.size()) {
            EXPECT_EQ(edits_of(diff), edit_distance(before, after)) << i;
        } else if (i + 2 == pairs.size()) {
            EXPECT_EQ(edits_of(diff), 3000U);  // each other line removed and added
        }
        patch += diff.text(name(i));
    }
    write_all(dir / "all.patch", patch);
    ASSERT_EQ(std::system(("cd " + dir.path() + " && patch -s -p1 < all.patch").c_str()), 0);
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        EXPECT_EQ(read_all(dir / name(i)), pairs[i].second) << i;
    }
}

}  // namespace
}  // namespace wendrel::test
