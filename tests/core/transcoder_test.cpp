#include "core/transcoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "iconv_reference.h"

namespace wendrel::core {
namespace {

using test::iconv_whole;

// Converts `text` in random pieces of 0 to 9 bytes, the last one marked; returns the error.
int convert_in_pieces(Transcoder& t, std::string_view text, std::mt19937& rng, std::string& out) {
    for (;;) {
        const std::size_t n = std::min<std::size_t>(rng() % 10, text.size());
        const bool last = n == text.size();
        if (const int error = t.convert(text.substr(0, n), out, last); error != 0 || last) {
            return error;
        }
        text.remove_prefix(n);
    }
}

// The characters that `encoding` holds and gives back unchanged, out of a mix of ASCII and CJK,
// one UTF-8 string each. glibc's SHIFT_JIS reads 5C and 7E as '¥' and '‾', so '\\' and '~' are
// left out of its texts.
std::vector<std::string> alphabet(const char* encoding) {
    std::vector<std::string> out;
    for (const char* c : {"a",  "Z",  " ",  "\n", "\\", "~",  "@",  "中", "文", "字", "替",
                          "换", "乤", "丂", "們", "の", "は", "語", "한", "국", "é",  "ß"}) {
        try {
            if (iconv_whole(encoding, "UTF-8", iconv_whole("UTF-8", encoding, c)) == c) {
                out.emplace_back(c);
            }
        } catch (const std::runtime_error&) {
            // Not in this encoding: left out of its texts.
        }
    }
    return out;
}

TEST(TranscoderTest, PiecesSplitAnywhereConvertBothWaysLikeIconvWhole) {
    for (const char* encoding : {"GB18030", "BIG5", "SHIFT_JIS", "EUC-KR", "UTF-16LE", "UTF-16BE",
                                 "UTF-32LE", "UTF-32BE"}) {
        SCOPED_TRACE(encoding);
        const std::vector<std::string> letters = alphabet(encoding);
        Transcoder decode(encoding, "UTF-8");
        Transcoder encode("UTF-8", encoding);
        ASSERT_TRUE(decode.ok() && encode.ok());
        std::mt19937 rng(20261207);
        for (int round = 0; round < 20; ++round) {
            std::string utf8;
            for (std::size_t n = rng() % 300; n > 0; --n) {
                utf8 += letters[rng() % letters.size()];
            }
            const std::string encoded = iconv_whole("UTF-8", encoding, utf8);
            std::string decoded_out;
            std::string encoded_out;
            ASSERT_EQ(convert_in_pieces(decode, encoded, rng, decoded_out), 0);
            ASSERT_EQ(convert_in_pieces(encode, utf8, rng, encoded_out), 0);
            EXPECT_EQ(decoded_out, utf8);
            EXPECT_EQ(encoded_out, encoded);
        }
    }
}

struct FaultCase {
    const char* label;
    const char* from;
    const char* to;
    std::string in;
    int error;
    std::string converted_before;  // what `out` holds when the error comes
};

class TranscoderFaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(TranscoderFaultTest, StopsWithTheReasonAndIsUsableAfterReset) {
    const FaultCase& c = GetParam();
    Transcoder t(c.from, c.to);
    std::mt19937 rng(7);
    std::string out;
    EXPECT_EQ(convert_in_pieces(t, c.in, rng, out), c.error);
    EXPECT_EQ(out, c.converted_before);
    t.reset();
    out.clear();
    EXPECT_EQ(t.convert("ok", out, true), 0);
    EXPECT_EQ(out, iconv_whole(c.from, c.to, "ok"));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TranscoderFaultTest,
    ::testing::Values(
        // '们' is in GB18030 but not in Big5: never a lossy substitute.
        FaultCase{"Unrepresentable", "UTF-8", "BIG5", "ab们cd", EILSEQ, "ab"},
        FaultCase{"InvalidInput", "GB18030", "UTF-8",
                  "ab\x81\x7F"
                  "cd",
                  EILSEQ, "ab"},
        FaultCase{"InvalidUtf8", "UTF-8", "GB18030", "ab\xC0\xAF", EILSEQ, "ab"},
        FaultCase{"CutInsideCharacter", "GB18030", "UTF-8", "ab\x81", EINVAL, "ab"},
        FaultCase{"OddUtf16", "UTF-16LE", "UTF-8", std::string("a\0b", 3), EINVAL, "a"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(TranscoderTest, UnknownEncodingIsNotOk) {
    Transcoder t("NO-SUCH-ENCODING", "UTF-8");
    std::string out;
    EXPECT_FALSE(t.ok());
    EXPECT_EQ(t.convert("x", out, true), EBADF);
    EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace wendrel::core
