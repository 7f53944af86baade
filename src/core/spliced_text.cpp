#include "spliced_text.h"

namespace wendrel::core {

SplicedText::SplicedText(std::string base) : base_(std::move(base)) {
    if (!base_.empty()) {
        runs_.push_back(Splice{0, base_.size(), false});
    }
    size_ = base_.size();
}

SplicedText::SplicedText(std::string base, std::string inserted, std::vector<Splice> runs)
    : base_(std::move(base)), inserted_(std::move(inserted)), runs_(std::move(runs)) {
    for (const Splice& run : runs_) {
        size_ += run.size;
    }
}

std::vector<std::string_view> SplicedText::pieces() const {
    std::vector<std::string_view> views;
    views.reserve(runs_.size());
    for (const Splice& run : runs_) {
        const std::string& from = run.inserted ? inserted_ : base_;
        views.emplace_back(from.data() + run.offset, run.size);
    }
    return views;
}

std::string SplicedText::joined() const {
    std::string text;
    text.reserve(size_);
    for (const std::string_view piece : pieces()) {
        text.append(piece);
    }
    return text;
}

}  // namespace wendrel::core
