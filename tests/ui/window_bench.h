#pragma once

// A folder tree that is the current folder, and a main window whose clock numbers its calls.
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QtTest>
#include <memory>
#include <optional>
#include <string>

#include "ui/main_window.h"

using namespace Qt::Literals::StringLiterals;

template <typename Control = QWidget>
Control* control(const QWidget& window, const char* name) {
    return window.findChild<Control*>(QString::fromLatin1(name));
}

/// QTest::qWaitForWindowActive() returns too early for a window kept above another.
inline bool wait_active(QWidget* window) {
    return window && QTest::qWaitFor([window] { return window->isActiveWindow(); });
}

/// Held in a std::optional: reset() closes the window and leaves the tree.
struct WindowBench {
    /// Makes the tree ("x/" a folder, "x=text" a file), moves into it and shows the window.
    bool set_up(const QStringList& entries) {
        for (const QString& entry : entries) {
            QFile file(path(entry.section(u'=', 0, 0)));
            if (!QDir().mkpath(QFileInfo(file).path()) ||
                !(entry.endsWith(u'/') || (file.open(QIODevice::WriteOnly) &&
                                           file.write(entry.section(u'=', 1).toUtf8()) >= 0))) {
                return false;
            }
        }
        window = std::make_unique<wendrel::ui::MainWindow>(
            [this] { return "#" + std::to_string(++clock_calls); });
        window->show();
        window->activateWindow();
        return temp.isValid() && QDir::setCurrent(temp.path()) && wait_active(window.get());
    }
    ~WindowBench() {
        window.reset();  // takes any open chooser with it
        QDir::setCurrent(old_current);
    }

    QString path(const QString& relative) const { return QDir(temp.path()).filePath(relative); }
    /// `text` with every "@" standing for the tree's folder.
    QString expand(const QString& text) const { return QString(text).replace(u'@', path({})); }
    QLineEdit* field(const char* name) const { return control<QLineEdit>(*window, name); }
    /// The texts of txt_source, txt_except and txt_change, joined by "|".
    QString fields() const {
        return field("txt_source")->text() + u'|' + field("txt_except")->text() + u'|' +
               field("txt_change")->text();
    }
    void fill(const QString& texts) const {
        for (int i = 0; i < 3; ++i) {
            field(kFields[i])->setText(expand(texts).section(u'|', i, i));
        }
    }
    void click(const char* name) const {
        QTest::mouseClick(control(*window, name), Qt::LeftButton);
    }
    QString focus() const {
        return window->focusWidget() ? window->focusWidget()->objectName() : u"(none)"_s;
    }

    static constexpr const char* kFields[] = {"txt_source", "txt_except", "txt_change"};
    QTemporaryDir temp;
    QString old_current = QDir::currentPath();
    std::unique_ptr<wendrel::ui::MainWindow> window;
    int clock_calls = 0;
};
