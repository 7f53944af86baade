#include "ui/paint_throttle.h"

namespace wendrel::ui {

PaintThrottle::PaintThrottle(QWidget* widget, int frame_ms)
    : QObject(widget), widget_(widget), frame_ms_(frame_ms) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &PaintThrottle::release);
}

void PaintThrottle::changed() {
    if (timer_.isActive() || widget_.isNull()) {
        return;  // already held back: the release paints this change too
    }
    if (!since_paint_.isValid() || since_paint_.elapsed() >= frame_ms_) {
        since_paint_.start();  // the widget's own update shows this change
        return;
    }
    widget_->setUpdatesEnabled(false);
    timer_.start(frame_ms_ - static_cast<int>(since_paint_.elapsed()));
}

void PaintThrottle::flush() {
    if (timer_.isActive()) {
        timer_.stop();
        release();
    }
}

void PaintThrottle::release() {
    if (!widget_.isNull()) {
        widget_->setUpdatesEnabled(true);
        // Painted now: a repaint merely scheduled would find updates held back again by the
        // next tick's change, and the widget would stay blank for the whole job.
        widget_->repaint();
    }
    since_paint_.start();
}

}  // namespace wendrel::ui
