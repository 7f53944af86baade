#include "ui/path_label.h"

#include <QEvent>
#include <QFontMetrics>

namespace wendrel::ui {

PathLabel::PathLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);  // a file name is never markup
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void PathLabel::set_path(const QString& path) {
    path_ = path;
    show_path();
}

void PathLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    show_path();
}

void PathLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        show_path();
    }
}

void PathLabel::show_path() {
    setText(fontMetrics().elidedText(path_, Qt::ElideMiddle, contentsRect().width()));
    setToolTip(path_);
}

}  // namespace wendrel::ui
