#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>
#include <QWidget>

// Finds a control of the window by its name; tests QVERIFY the result where it may be missing.
template <typename Control = QWidget>
Control* control(const QWidget& window, const char* name) {
    return window.findChild<Control*>(QString::fromLatin1(name));
}

inline QStringList items(const QWidget& window, const char* list_name) {
    QStringList texts;
    const auto* list = control<QListWidget>(window, list_name);
    for (int i = 0; i < list->count(); ++i) {
        texts << list->item(i)->text();
    }
    return texts;
}
