#include "core/encoding_writer.h"

#include <cerrno>
#include <utility>

#include "core/failure_reason.h"

namespace wendrel::core {

EncodingWriter::EncodingWriter(const std::string& encoding, RawWrite write)
    : encode_("UTF-8", encoding), write_(std::move(write)) {}

int EncodingWriter::put(std::string_view text) {
    return convert(text, false);
}

int EncodingWriter::finish() {
    return convert({}, true);
}

int EncodingWriter::convert(std::string_view text, bool last) {
    encoded_.clear();
    // The text is the job's own UTF-8 (the file decoded, and entries in UTF-8): a character
    // refused here is one the file's encoding has no bytes for.
    if (const int error = encode_.convert(text, encoded_, last)) {
        return error == EILSEQ ? failure::kNotRepresentable : error;
    }
    return write_ && !encoded_.empty() ? write_(encoded_) : 0;
}

}  // namespace wendrel::core
