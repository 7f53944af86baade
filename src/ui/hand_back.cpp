#include "ui/hand_back.h"

#include <QLineEdit>
#include <QWidget>

namespace wendrel::ui {

HandBack::HandBack(QWidget* main_window, QLineEdit* txt_source, QLineEdit* txt_except,
                   QLineEdit* txt_change)
    : main_window_(main_window),
      txt_source_(txt_source),
      txt_except_(txt_except),
      txt_change_(txt_change) {}

QLineEdit* HandBack::field(Field field) const {
    switch (field) {
        case Field::source:
            return txt_source_;
        case Field::except:
            return txt_except_;
        case Field::change:
            return txt_change_;
    }
    return nullptr;
}

void HandBack::append(Field which, const QString& item) const {
    if (QLineEdit* target = field(which)) {
        target->setText(target->text() + item);
    }
}

void HandBack::replace(Field which, const QString& text) const {
    if (QLineEdit* target = field(which)) {
        target->setText(text);
    }
}

void HandBack::release(FocusRule rule) const {
    if (!main_window_ || !txt_source_ || !txt_except_ || !txt_change_) {
        return;
    }
    main_window_->setEnabled(true);
    QLineEdit* target = txt_change_;
    if (txt_source_->text().isEmpty()) {
        target = txt_source_;
    } else if (rule == FocusRule::source_else_except_else_change && txt_except_->text().isEmpty() &&
               txt_except_->isEnabled()) {
        // A disabled txt_except cannot take the focus; txt_change takes it instead.
        target = txt_except_;
    }
    target->setFocus(Qt::OtherFocusReason);
    main_window_->activateWindow();
}

}  // namespace wendrel::ui
