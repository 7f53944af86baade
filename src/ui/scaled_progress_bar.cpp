#include "ui/scaled_progress_bar.h"

#include <climits>
#include <cmath>

namespace wendrel::ui {

ScaledProgressBar::ScaledProgressBar(QWidget* parent) : QProgressBar(parent) {
    show_values();
}

bool ScaledProgressBar::set_maximum(double max) {
    if (!std::isfinite(max) || max <= 0) {
        return false;
    }
    max_ = max;
    value_ = std::min(value_, max_);
    show_values();
    return true;
}

bool ScaledProgressBar::set_progress(double value) {
    if (!std::isfinite(value) || value < 0 || value > max_) {
        return false;
    }
    value_ = value;
    show_values();
    return true;
}

void ScaledProgressBar::show_values() {
    // Rounding is monotonic, so value_ <= max_ still holds for the rounded pair.
    if (max_ <= INT_MAX) {
        setRange(0, static_cast<int>(std::llround(max_)));
        setValue(static_cast<int>(std::llround(value_)));
    } else {
        setRange(0, kScaledRange);
        setValue(static_cast<int>(std::llround(value_ / max_ * kScaledRange)));
    }
}

}  // namespace wendrel::ui
