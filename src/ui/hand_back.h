#pragma once

#include <QPointer>
#include <QString>

class QLineEdit;
class QWidget;

namespace wendrel::ui {

/// What a chooser may touch of the main window: the three fields it writes, and the window that
/// it enables again, with the focus put back, when it closes. Should the main window be
/// destroyed first, every call does nothing.
class HandBack {
  public:
    enum class Field { source, except, change };

    /// Where the focus goes when a chooser closes: the first empty field of the rule's list,
    /// else txt_change.
    enum class FocusRule {
        source_else_change,
        source_else_except_else_change,
    };

    HandBack(QWidget* main_window, QLineEdit* txt_source, QLineEdit* txt_except,
             QLineEdit* txt_change);

    /// Adds `item` to the end of the field's text, with nothing in between. Like any other
    /// change of the text, this runs the field's own change handling.
    void append(Field field, const QString& item) const;
    /// Replaces the field's text.
    void replace(Field field, const QString& text) const;
    /// Enables the main window again and moves its focus as `rule` says.
    void release(FocusRule rule) const;

  private:
    QLineEdit* field(Field field) const;

    QPointer<QWidget> main_window_;
    QPointer<QLineEdit> txt_source_;
    QPointer<QLineEdit> txt_except_;
    QPointer<QLineEdit> txt_change_;
};

}  // namespace wendrel::ui
