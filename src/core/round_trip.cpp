#include "core/round_trip.h"

#include <algorithm>
#include <cstring>

namespace wendrel::core {

RoundTrip::RoundTrip(const std::string& encoding)
    : decode_(encoding, "UTF-8"),
      encode_("UTF-8", encoding),
      alive_(decode_.ok() && encode_.ok()) {}

bool RoundTrip::feed(std::string_view piece) {
    if (!alive_) {
        return false;
    }
    decoded_.clear();
    encoded_.clear();
    alive_ = decode_.convert(piece, decoded_, false) == 0 &&
             encode_.convert(decoded_, encoded_, false) == 0 && compare(piece);
    return alive_;
}

bool RoundTrip::finish() {
    if (!alive_) {
        return false;
    }
    decoded_.clear();
    encoded_.clear();
    alive_ = decode_.convert({}, decoded_, true) == 0 &&
             encode_.convert(decoded_, encoded_, true) == 0 && compare({}) && lag_.empty();
    return alive_;
}

// The re-encoded bytes must continue the input where the last match ended: first the lag,
// then this piece.
bool RoundTrip::compare(std::string_view piece) {
    const std::size_t n = encoded_.size();
    if (n > lag_.size() + piece.size()) {
        return false;
    }
    const std::size_t from_lag = std::min(n, lag_.size());
    // The empty piece of finish() has no data pointer to hand to memcmp.
    if (std::memcmp(encoded_.data(), lag_.data(), from_lag) != 0 ||
        (n > from_lag &&
         std::memcmp(encoded_.data() + from_lag, piece.data(), n - from_lag) != 0)) {
        return false;
    }
    if (n >= lag_.size()) {
        lag_.assign(piece.substr(n - lag_.size()));
    } else {
        lag_.erase(0, n);
        lag_.append(piece);
    }
    return true;
}

}  // namespace wendrel::core
