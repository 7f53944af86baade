#include "core/transcoder.h"

#include <iconv.h>

#include <cerrno>
#include <utility>

namespace wendrel::core {

namespace {

const auto kFailedOpen = reinterpret_cast<iconv_t>(-1);
constexpr std::size_t kFailed = static_cast<std::size_t>(-1);

iconv_t handle(void* cd) {
    return static_cast<iconv_t>(cd);
}

}  // namespace

Transcoder::Transcoder(std::string from, std::string to)
    : from_(std::move(from)),
      to_(std::move(to)),
      cd_(static_cast<void*>(iconv_open(to_.c_str(), from_.c_str()))) {}

Transcoder::~Transcoder() {
    if (ok()) {
        iconv_close(handle(cd_));
    }
}

bool Transcoder::ok() const {
    return handle(cd_) != kFailedOpen;
}

void Transcoder::reset() {
    pending_.clear();
    if (ok()) {
        iconv(handle(cd_), nullptr, nullptr, nullptr, nullptr);
    }
}

int Transcoder::convert_whole(std::string_view in, std::string& out) {
    reset();
    out.clear();
    return convert(in, out, true);
}

int Transcoder::convert(std::string_view in, std::string& out, bool last) {
    if (!ok()) {
        return EBADF;
    }
    // A character split by the previous piece is completed from the front of this one.
    std::string joined;
    if (!pending_.empty()) {
        joined = std::move(pending_);
        joined.append(in);
        in = joined;
    }
    pending_.clear();

    // iconv takes a non-const input pointer but never writes through it.
    char* in_next = const_cast<char*>(in.data());
    std::size_t in_left = in.size();
    // Room for the usual growth (two bytes of UTF-16 per ASCII byte); E2BIG asks for more.
    std::size_t room = in.size() * 2 + 16;
    for (;;) {
        const std::size_t start = out.size();
        out.resize(start + room);
        char* out_next = out.data() + start;
        std::size_t out_left = room;
        int error = 0;
        if (iconv(handle(cd_), &in_next, &in_left, &out_next, &out_left) == kFailed) {
            error = errno;
        } else if (last && iconv(handle(cd_), nullptr, nullptr, &out_next, &out_left) == kFailed) {
            // Ends a stateful encoding's shift sequence; stateless ones write nothing.
            error = errno;
        }
        out.resize(static_cast<std::size_t>(out_next - out.data()));
        if (error == E2BIG) {
            room = room * 2 + 16;
            continue;
        }
        if (error == EINVAL && !last) {
            pending_.assign(in_next, in_left);
            return 0;
        }
        return error;
    }
}

}  // namespace wendrel::core
