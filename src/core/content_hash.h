#pragma once

#include <cstdint>
#include <string_view>

namespace wendrel::core {

/// A fast 64-bit hash of a byte stream fed in pieces: enough to tell whether a file still
/// holds what a job wrote, not a defence against a crafted collision.
class ContentHash {
  public:
    ContentHash();
    ~ContentHash();
    ContentHash(const ContentHash&) = delete;
    ContentHash& operator=(const ContentHash&) = delete;

    void add(std::string_view bytes);
    std::uint64_t value() const;

  private:
    void* state_;  // XXH3_state_t, kept out of the header
};

}  // namespace wendrel::core
