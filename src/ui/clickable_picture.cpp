#include "ui/clickable_picture.h"

#include <QMouseEvent>
#include <utility>

namespace wendrel::ui {

void ClickablePicture::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
    }
    event->accept();
}

void ClickablePicture::mouseReleaseEvent(QMouseEvent* event) {
    const bool pressed = std::exchange(pressed_, false);
    event->accept();
    if (pressed && event->button() == Qt::LeftButton &&
        rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

}  // namespace wendrel::ui
