#pragma once

#include <QLabel>

namespace wendrel::ui {

/// A picture that reports a click: a left-button press and release both inside it.
class ClickablePicture : public QLabel {
    Q_OBJECT

  public:
    using QLabel::QLabel;

  signals:
    void clicked();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    bool pressed_ = false;
};

}  // namespace wendrel::ui
