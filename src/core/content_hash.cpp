#include "content_hash.h"

#include <xxhash.h>

#include <new>

namespace wendrel::core {

ContentHash::ContentHash() : state_(XXH3_createState()) {
    if (state_ == nullptr) {
        throw std::bad_alloc();
    }
    XXH3_64bits_reset(static_cast<XXH3_state_t*>(state_));
}

ContentHash::~ContentHash() {
    XXH3_freeState(static_cast<XXH3_state_t*>(state_));
}

void ContentHash::add(std::string_view bytes) {
    XXH3_64bits_update(static_cast<XXH3_state_t*>(state_), bytes.data(), bytes.size());
}

std::uint64_t ContentHash::value() const {
    return XXH3_64bits_digest(static_cast<XXH3_state_t*>(state_));
}

}  // namespace wendrel::core
