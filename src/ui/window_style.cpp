#include "ui/window_style.h"

#include <QPainter>
#include <QStyleOption>
#include <QWidget>

namespace wendrel::ui {

WindowStyle::WindowStyle(QObject* parent) : QProxyStyle(nullptr) {
    setParent(parent);
}

void WindowStyle::apply_to(QWidget& window) {
    auto* style = new WindowStyle(&window);
    window.setStyle(style);
    // A widget's style does not pass on to its children.
    for (QWidget* control : window.findChildren<QWidget*>()) {
        control->setStyle(style);
    }
}

QRect WindowStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                  SubControl sub_control, const QWidget* widget) const {
    QRect rect = QProxyStyle::subControlRect(control, option, sub_control, widget);
    if (control == CC_GroupBox && sub_control == SC_GroupBoxLabel) {
        rect.moveTop(option->rect.top());
    }
    return rect;
}

void WindowStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const {
    QProxyStyle::drawControl(element, option, painter, widget);
    // Only after a key moved the focus, as the desktop shows focus everywhere else.
    constexpr State kKeyFocus = State_HasFocus | State_KeyboardFocusChange;
    if (element != CE_PushButton || (option->state & kKeyFocus) != kKeyFocus) {
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QPen(option->palette.color(QPalette::Highlight), 2));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(QRectF(option->rect).adjusted(1, 1, -1, -1));
    painter->restore();
}

}  // namespace wendrel::ui
