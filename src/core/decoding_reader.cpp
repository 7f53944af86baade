#include "core/decoding_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace wendrel::core {

DecodingReader::DecodingReader(const std::string& encoding, RawRead read)
    : decode_(encoding, "UTF-8"), read_(std::move(read)) {}

long DecodingReader::operator()(char* buffer, std::size_t size) {
    while (given_ == text_.size() && !ended_) {
        text_.clear();
        given_ = 0;
        raw_.resize(kRawPiece);
        const long got = read_(raw_.data(), raw_.size());
        if (got < 0) {
            return got;
        }
        ended_ = got == 0;
        if (const int error = decode_.convert(
                std::string_view(raw_.data(), static_cast<std::size_t>(got)), text_, ended_)) {
            return -error;
        }
    }
    const std::size_t n = std::min(size, text_.size() - given_);
    std::memcpy(buffer, text_.data() + given_, n);
    given_ += n;
    return static_cast<long>(n);
}

}  // namespace wendrel::core
