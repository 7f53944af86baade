#include "ui/window_style.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QStyleOption>
#include <QWidget>

namespace wendrel::ui {

namespace {

constexpr int kCaptionIndent = 4;  // pixels: the 60 twips by which the design insets its lists

}  // namespace

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
        // In from the frame's edge as far as the controls inside it, rather than flush with it.
        rect.moveTopLeft(option->rect.topLeft() + QPoint(kCaptionIndent, 0));
    }
    return rect;
}

void WindowStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const {
    QProxyStyle::drawControl(element, option, painter, widget);
    // A list shows its focus only on its current line, and an empty one shows none; its frame
    // is ringed instead.
    const bool ringed =
        element == CE_PushButton ||
        (element == CE_ShapedFrame && qobject_cast<const QAbstractItemView*>(widget));
    // Only after a key moved the focus, as the desktop shows focus everywhere else.
    constexpr State kKeyFocus = State_HasFocus | State_KeyboardFocusChange;
    if (!ringed || (option->state & kKeyFocus) != kKeyFocus) {
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
