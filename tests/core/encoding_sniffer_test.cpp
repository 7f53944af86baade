#include "core/encoding_sniffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "iconv_reference.h"

namespace wendrel::core {

// Readable failures for EXPECT_EQ.
void PrintTo(const TextEncoding& e, std::ostream* os) {
    *os << "{kind " << static_cast<int>(e.kind) << ", \"" << e.name << "\", bom " << e.bom << "}";
}

namespace {

using Kind = TextEncoding::Kind;
using test::iconv_whole;

const std::string kChinese =
    "我们在春天的早晨出发，沿着河边的小路一直走到山脚下。天气很好，风也不大，"
    "大家一边走一边谈论着今年的计划和去年的收获。\n";
// Traditional characters, so that Big5 holds them all.
const std::string kTraditional =
    "我們在春天的早晨出發，沿著河邊的小路一直走到山腳下。天氣很好，風也不大，"
    "大家一邊走一邊談論著今年的計劃和去年的收穫。\n";
const std::string kJapanese =
    "私たちは春の朝に出発して、川沿いの小道を山のふもとまで歩きました。"
    "天気はとても良く、風も強くありませんでした。\n";

std::string repeat(const std::string& text, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

struct SnifferCase {
    std::string label;
    std::string bytes;
    TextEncoding expected;
};

std::vector<SnifferCase> sniffer_cases() {
    // '乤' is 81 61 and '丂' is 81 40 in GB18030: trail bytes that are ASCII 'a' and '@'.
    const std::string gb18030 = iconv_whole("UTF-8", "GB18030", repeat(kChinese + "乤丂\n", 3));
    const std::string big5 = iconv_whole("UTF-8", "BIG5", repeat(kTraditional, 3));
    const std::string utf16le = iconv_whole("UTF-8", "UTF-16LE", kChinese);
    // Longer than the sniffer holds back, so the guessers run beside the UTF-8 check.
    const std::string long_utf8 = repeat(kChinese, EncodingSniffer::kHoldLimit / 100);
    return {
        {"Ascii", "plain text, nothing more\n", {Kind::utf8, "", 0}},
        {"Empty", "", {Kind::utf8, "", 0}},
        {"Utf8", kChinese, {Kind::utf8, "", 0}},
        {"Utf8Bom", "\xEF\xBB\xBF" + kChinese, {Kind::utf8, "", 3}},
        {"LongUtf8", long_utf8, {Kind::utf8, "", 0}},
        {"Utf16le", "\xFF\xFE" + utf16le, {Kind::decoded, "UTF-16LE", 2}},
        {"Utf16be",
         "\xFE\xFF" + iconv_whole("UTF-8", "UTF-16BE", kChinese),
         {Kind::decoded, "UTF-16BE", 2}},
        {"Utf32le",
         std::string("\xFF\xFE\0\0", 4) + iconv_whole("UTF-8", "UTF-32LE", kChinese),
         {Kind::decoded, "UTF-32LE", 4}},
        {"Utf32be",
         std::string("\0\0\xFE\xFF", 4) + iconv_whole("UTF-8", "UTF-32BE", kChinese),
         {Kind::decoded, "UTF-32BE", 4}},
        {"Gb18030", gb18030, {Kind::decoded, "GB18030", 0}},
        {"Big5", big5, {Kind::decoded, "BIG5", 0}},
        {"ShiftJis",
         iconv_whole("UTF-8", "SHIFT_JIS", repeat(kJapanese, 3)),
         {Kind::decoded, "SHIFT_JIS", 0}},
        // Failure rows: each is left as bytes.
        {"Latin1",
         iconv_whole("UTF-8", "LATIN1", "Le café était déjà fermé quand nous sommes arrivés.\n"),
         {}},
        // uchardet still calls these GB18030 and BIG5; 81 7F does not decode, and Big5's A2 CC
        // decodes to a character that encodes back as A4 51.
        {"Gb18030Invalid", gb18030 + "\x81\x7F" + gb18030, {}},
        // E4 B8 AD 0A is UTF-8 and no GB18030: the round trip has to start at the file's start.
        {"Utf8LineThenGb18030", "中\n" + gb18030, {}},
        {"Big5NoRoundTrip", big5 + "\xA2\xCC" + big5, {}},
        {"Utf16OddLength", "\xFF\xFE" + utf16le + "A", {}},
        {"Utf8Overlong", "a \xE0\x80\xAF b", {}},
        {"Utf8Surrogate", "a \xED\xA0\x80 b", {}},
        {"Utf8BomThenLatin1",
         "\xEF\xBB\xBF"
         "caf\xE9",
         {}},
        {"LongUtf8ThenLatin1", long_utf8 + "caf\xE9", {}},
        {"Utf8CutInsideCharacter", kChinese.substr(0, kChinese.size() - 2), {}},
    };
}

void PrintTo(const SnifferCase& c, std::ostream* os) {
    *os << c.label;
}

TextEncoding sniff(std::string_view bytes, std::mt19937* pieces) {
    const std::string_view bytes_whole = bytes;
    EncodingSniffer sniffer;
    while (!bytes.empty()) {
        const std::size_t n = pieces != nullptr ? (*pieces)() % 8 : bytes.size();
        sniffer.feed(bytes.substr(0, n));
        bytes.remove_prefix(std::min(n, bytes.size()));
    }
    sniffer.finish();
    return sniffer.look_again() ? EncodingSniffer::of(bytes_whole) : sniffer.result();
}

class EncodingSnifferTest : public ::testing::TestWithParam<SnifferCase> {};

TEST_P(EncodingSnifferTest, SameVerdictWholeAndInSmallPieces) {
    const SnifferCase& c = GetParam();
    EXPECT_EQ(sniff(c.bytes, nullptr), c.expected);
    std::mt19937 pieces(static_cast<unsigned>(c.bytes.size()));
    EXPECT_EQ(sniff(c.bytes, &pieces), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, EncodingSnifferTest, ::testing::ValuesIn(sniffer_cases()),
                         [](const auto& info) { return info.param.label; });

}  // namespace
}  // namespace wendrel::core
