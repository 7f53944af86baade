#include "core/encoding_sniffer.h"

#include <uchardet.h>

#include <strings.h>
#include <algorithm>
#include <array>
#include <cstring>

namespace wendrel::core {

namespace {

constexpr std::size_t kLongestBom = 4;

struct Bom {
    std::string_view bytes;
    const char* encoding;  // nullptr for UTF-8, which stays on the byte path
};

// UTF-32LE's mark first: FF FE 00 00 also starts UTF-16LE's.
constexpr std::array<Bom, 5> kBoms{{
    {std::string_view("\xFF\xFE\x00\x00", 4), "UTF-32LE"},
    {std::string_view("\x00\x00\xFE\xFF", 4), "UTF-32BE"},
    {"\xEF\xBB\xBF", nullptr},
    {"\xFF\xFE", "UTF-16LE"},
    {"\xFE\xFF", "UTF-16BE"},
}};

// The legacy multi-byte encodings worth decoding, and the names uchardet gives them. GB2312
// and GBK text is GB18030 text, and GB18030 decodes all of it. uchardet 0.0.7 calls Korean
// text UHC, a superset of EUC-KR: the round trip turns away what EUC-KR cannot hold.
constexpr std::array<std::array<const char*, 2>, 8> kGuessNames{{
    {"GB18030", "GB18030"},
    {"GB2312", "GB18030"},
    {"GBK", "GB18030"},
    {"BIG5", "BIG5"},
    {"SHIFT_JIS", "SHIFT_JIS"},
    {"EUC-KR", "EUC-KR"},
    {"UHC", "EUC-KR"},
    {"EUC-CN", "GB18030"},
}};
constexpr std::array<const char*, 4> kCandidates{"GB18030", "BIG5", "SHIFT_JIS", "EUC-KR"};

std::string_view candidate_for(const char* guess) {
    for (const auto& [said, meant] : kGuessNames) {
        if (guess != nullptr && strcasecmp(guess, said) == 0) {
            return meant;
        }
    }
    return {};
}

}  // namespace

EncodingSniffer::EncodingSniffer(bool verify, bool legacy_only)
    : verify_(verify), legacy_only_(legacy_only) {}

TextEncoding EncodingSniffer::of(std::string_view text) {
    EncodingSniffer first;
    first.feed(text);
    first.finish();
    if (!first.look_again()) {
        return first.result();
    }
    EncodingSniffer again(true, true);
    again.feed(text);
    again.finish();
    return again.result();
}

EncodingSniffer::~EncodingSniffer() {
    if (detector_ != nullptr) {
        uchardet_delete(detector_);
    }
}

void EncodingSniffer::feed(std::string_view piece) {
    if (!started_) {
        const std::size_t n = std::min(piece.size(), kLongestBom - head_.size());
        head_.append(piece.substr(0, n));
        piece.remove_prefix(n);
        if (head_.size() < kLongestBom) {
            return;
        }
        start(head_);
    }
    take(piece);
}

void EncodingSniffer::finish() {
    if (!started_) {
        start(head_);
    }
    result_ = decide();
}

void EncodingSniffer::start(std::string_view head) {
    started_ = true;
    for (const Bom& bom : kBoms) {
        if (head.starts_with(bom.bytes)) {
            bom_ = bom.bytes.size();
            if (bom.encoding != nullptr) {
                unicode_ = std::make_unique<RoundTrip>(bom.encoding);
            }
            break;
        }
    }
    take(head.substr(bom_));
}

void EncodingSniffer::take(std::string_view piece) {
    if (unicode_) {
        if (verify_) {
            unicode_->feed(piece);
        }
        return;
    }
    if (bom_ > 0 || detector_ != nullptr) {
        // A UTF-8 BOM leaves nothing to guess; once guessing, UTF-8 may still win at the end.
        if (!legacy_only_) {
            utf8_.feed(piece);
        }
        guess(piece);
        return;
    }
    if (!seen_non_ascii_) {
        const std::size_t ascii = Utf8Validator::ascii_prefix(piece);
        if (ascii == piece.size()) {
            return;
        }
        // In every candidate an ASCII byte is a character of its own that comes back as the
        // same byte (SHIFT_JIS reads 5C as '¥', but writes '¥' as 5C), so the guessers may
        // begin at the first byte that is not ASCII.
        seen_non_ascii_ = true;
        piece.remove_prefix(ascii);
    }
    if (legacy_only_) {
        activate();
        guess(piece);
        return;
    }
    const bool utf8 = utf8_.feed(piece);
    if (past_hold_) {
        return;  // only the UTF-8 check goes on
    }
    if (utf8 && held_.size() + piece.size() <= kHoldLimit) {
        held_.append(piece);
        return;
    }
    if (utf8) {
        // Most long UTF-8 texts stay UTF-8 to the end; the rare one that does not is looked at
        // again from its start, rather than every one paying for the guessers.
        past_hold_ = true;
        std::string().swap(held_);
        return;
    }
    activate();
    guess(piece);
}

void EncodingSniffer::activate() {
    detector_ = uchardet_new();
    for (const char* name : kCandidates) {
        if (verify_) {
            candidates_.push_back(std::make_unique<RoundTrip>(name));
        }
    }
    guess(held_);
    std::string().swap(held_);
}

void EncodingSniffer::guess(std::string_view piece) {
    if (detector_ == nullptr) {
        return;
    }
    bool any = !verify_;
    for (auto& candidate : candidates_) {
        any = candidate->feed(piece) || any;
    }
    // With no candidate left, the guess cannot matter.
    if (any) {
        uchardet_handle_data(detector_, piece.data(), piece.size());
    }
}

TextEncoding EncodingSniffer::decide() {
    if (unicode_) {
        if (!verify_ || unicode_->finish()) {
            return {TextEncoding::Kind::decoded, unicode_->encoding(), bom_};
        }
        return {};
    }
    if (!legacy_only_ && utf8_.finish()) {
        return {TextEncoding::Kind::utf8, {}, bom_};
    }
    if (bom_ > 0) {
        return {};
    }
    if (past_hold_) {
        look_again_ = true;
        return {};
    }
    if (detector_ == nullptr) {
        // Cut inside a character that was still held: the guessers never saw the text.
        activate();
    }
    uchardet_data_end(detector_);
    const std::string_view wanted = candidate_for(uchardet_get_charset(detector_));
    if (!verify_) {
        return wanted.empty() ? TextEncoding{}
                              : TextEncoding{TextEncoding::Kind::decoded, std::string(wanted), 0};
    }
    for (auto& candidate : candidates_) {
        if (!wanted.empty() && candidate->encoding() == wanted && candidate->finish()) {
            return {TextEncoding::Kind::decoded, candidate->encoding(), 0};
        }
    }
    return {};
}

}  // namespace wendrel::core
