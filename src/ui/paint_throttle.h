#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace wendrel::ui {

/// Lets a widget that changes on every job tick repaint at most once per screen frame.
/// A job ticks thousands of times a second, far faster than any screen shows; painting each
/// change was most of what a tick cost in the window. The widget's content (items, values)
/// is always current; only its pixels may be up to one frame behind, and the last change is
/// always painted.
class PaintThrottle : public QObject {
  public:
    static constexpr int kFrameMs = 16;

    explicit PaintThrottle(QWidget* widget, int frame_ms = kFrameMs);

    /// Call after each change of the widget.
    void changed();
    /// Paints what is held back now (before a forced repaint of the window).
    void flush();

  private:
    void release();

    QPointer<QWidget> widget_;
    QTimer timer_;
    QElapsedTimer since_paint_;
    int frame_ms_;
};

}  // namespace wendrel::ui
