#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace wendrel::core {

/// One run of a spliced text: bytes of the base text, or of the inserted text.
struct Splice {
    std::size_t offset = 0;
    std::size_t size = 0;
    bool inserted = false;

    bool operator==(const Splice&) const = default;
};

/// A text held as runs of a base text and of one inserted text, as a planned pass leaves it:
/// written straight from the runs, a large file's last pass needs no second buffer of the
/// file's size.
class SplicedText {
  public:
    SplicedText() = default;
    /// The whole of `base`, unchanged.
    explicit SplicedText(std::string base);
    SplicedText(std::string base, std::string inserted, std::vector<Splice> runs);
    std::size_t size() const { return size_; }
    /// The runs as views into this object; valid while it lives and is not moved.
    std::vector<std::string_view> pieces() const;
    /// The text in one string.
    std::string joined() const;
    /// Bytes held, for budgeting memory.
    std::size_t footprint() const { return base_.size() + inserted_.size(); }

  private:
    std::string base_;
    std::string inserted_;
    std::vector<Splice> runs_;
    std::size_t size_ = 0;
};

}  // namespace wendrel::core
