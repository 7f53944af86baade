#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/round_trip.h"
#include "core/text_encoding.h"
#include "core/utf8_validator.h"

struct uchardet;

namespace wendrel::core {

/// Finds a file's encoding in the one look that reads it, fed in pieces of any size: a byte
/// order mark decides; else valid UTF-8 stays on the byte path; else a legacy multi-byte
/// encoding is taken only when uchardet names it and the whole file comes back byte for byte
/// through UTF-8. Anything else is left as bytes. Holds at most kHoldLimit bytes of the file:
/// a text that is UTF-8 that far is only checked further, not guessed at.
class EncodingSniffer {
  public:
    /// Non-ASCII text kept while it still reads as UTF-8, so that most UTF-8 files never
    /// pay for the guessers; past it they run alongside.
    static constexpr std::size_t kHoldLimit = 256 * 1024;

    /// Without `verify`, a decoded verdict is uchardet's guess (or a BOM's word) alone, for a
    /// caller that checks the round trip itself while it decodes the file anyway. With
    /// `legacy_only`, the text is known not to be UTF-8: the guessers start at once.
    explicit EncodingSniffer(bool verify = true, bool legacy_only = false);
    ~EncodingSniffer();
    EncodingSniffer(const EncodingSniffer&) = delete;
    EncodingSniffer& operator=(const EncodingSniffer&) = delete;

    void feed(std::string_view piece);
    void finish();
    /// The verdict; meaningful after finish().
    const TextEncoding& result() const { return result_; }
    /// After finish(): the text stopped being UTF-8 only after the held part, when the guessers
    /// could no longer see all of it. The verdict is then bytes, unless a second sniffer with
    /// `legacy_only` is fed the whole text again.
    bool look_again() const { return look_again_; }

    /// The verdict on a whole text.
    static TextEncoding of(std::string_view text);

  private:
    void start(std::string_view head);
    void take(std::string_view piece);
    void activate();
    void guess(std::string_view piece);
    TextEncoding decide();

    const bool verify_;
    const bool legacy_only_;
    bool past_hold_ = false;  // still UTF-8 past kHoldLimit: the held text was let go
    bool look_again_ = false;
    std::string head_;  // the first bytes, until there are enough to look for a BOM
    bool started_ = false;
    std::size_t bom_ = 0;
    std::unique_ptr<RoundTrip> unicode_;  // when a UTF-16/32 BOM named the encoding
    Utf8Validator utf8_;
    bool seen_non_ascii_ = false;
    std::string held_;              // from the first non-ASCII byte, until the guessers start
    uchardet* detector_ = nullptr;  // with candidates_, once the guessers started
    std::vector<std::unique_ptr<RoundTrip>> candidates_;
    TextEncoding result_;
};

}  // namespace wendrel::core
