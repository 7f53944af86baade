#include "ui/focus_border.h"

#include <QFocusEvent>
#include <QLineEdit>

namespace wendrel::ui {

FocusBorder::FocusBorder(const QList<QLineEdit*>& fields, QObject* parent)
    : QObject(parent), fields_(fields) {
    for (QLineEdit* field : fields_) {
        field->setFrame(false);
        field->installEventFilter(this);
    }
}

bool FocusBorder::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        // Clearing the others as well covers focus that moved while the window was inactive,
        // when Qt sends no focus-out to the field that lost it.
        for (QLineEdit* field : fields_) {
            field->setFrame(field == watched);
        }
    } else if (event->type() == QEvent::FocusOut) {
        // Switching to another window or opening a context menu leaves the focus where it is
        // within this window, so the field keeps its frame.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            static_cast<QLineEdit*>(watched)->setFrame(false);
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace wendrel::ui
