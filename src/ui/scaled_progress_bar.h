#pragma once

#include <QProgressBar>

namespace wendrel::ui {

/// A progress bar whose maximum and value are doubles, like the job's. QProgressBar counts in
/// int, so a maximum beyond INT_MAX is shown on a fixed scale of kScaledRange steps.
class ScaledProgressBar : public QProgressBar {
    Q_OBJECT

  public:
    static constexpr int kScaledRange = 1'000'000;

    /// Starts at 0 of 100.
    explicit ScaledProgressBar(QWidget* parent = nullptr);

    /// Refused (returns false, nothing changes) unless finite and above 0. A value above the
    /// new maximum is brought down to it.
    bool set_maximum(double max);
    /// Refused (returns false, the bar keeps its old value) when negative, not finite or above
    /// the maximum.
    bool set_progress(double value);

    double maximum_value() const { return max_; }
    double progress() const { return value_; }

  private:
    void show_values();

    double max_ = 100;
    double value_ = 0;  // invariant: 0 <= value_ <= max_
};

}  // namespace wendrel::ui
