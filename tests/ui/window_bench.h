#pragma once

// Shared by the window tests: a folder tree that is also the process's current folder (where
// the choosers start), a main window whose clock numbers its calls, and ways to find windows.
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QtTest>
#include <memory>
#include <string>

#include "ui/main_window.h"

using namespace Qt::Literals::StringLiterals;

template <typename Control = QWidget>
Control* control(const QWidget& window, const char* name) {
    return window.findChild<Control*>(QString::fromLatin1(name));
}

inline QStringList items(const QWidget& window, const char* list_name) {
    QStringList texts;
    const auto* list = control<QListWidget>(window, list_name);
    for (int row = 0; row < list->count(); ++row) {
        texts << list->item(row)->text();
    }
    return texts;
}

/// Waits until `window` is the active window. QTest::qWaitForWindowActive() returns too early
/// for a window kept above another: it counts it as active while the one below still is.
inline bool wait_active(QWidget* window) {
    return window && QTest::qWaitFor([window] { return window->isActiveWindow(); });
}

/// The one visible top-level window with this name, or null when there is none or several.
inline QWidget* open_window(const char* name) {
    QList<QWidget*> shown = QApplication::topLevelWidgets();
    shown.removeIf([name](const QWidget* window) {
        return !window->isVisible() || window->objectName() != QLatin1StringView(name);
    });
    return shown.size() == 1 ? shown.front() : nullptr;
}

class WindowBench {
  public:
    /// Makes the tree (a name ending in "/" is a folder, any other a file with the text after
    /// "="), moves the current folder into it and shows an active main window.
    bool set_up(const QStringList& entries) {
        temp_ = std::make_unique<QTemporaryDir>();
        for (const QString& entry : entries) {
            const QString name = entry.section(u'=', 0, 0);
            QFile file(path(name));
            if (!QDir().mkpath(QFileInfo(path(name)).path()) ||
                !(name.endsWith(u'/') || (file.open(QIODevice::WriteOnly) &&
                                          file.write(entry.section(u'=', 1).toUtf8()) >= 0))) {
                return false;
            }
        }
        old_current_ = QDir::currentPath();
        // Every status line asks the clock once, so numbered times show the order of the calls.
        clock_calls = 0;
        window_ = std::make_unique<wendrel::ui::MainWindow>(
            [this] { return "#" + std::to_string(++clock_calls); });
        window_->show();
        window_->activateWindow();
        return temp_->isValid() && QDir::setCurrent(temp_->path()) && wait_active(window_.get());
    }

    void tear_down() {
        window_.reset();  // takes any open chooser with it
        QDir::setCurrent(old_current_);
        temp_.reset();
    }

    /// The full path of an entry of the tree; "" is the tree's own folder.
    QString path(const QString& relative) const { return QDir(temp_->path()).filePath(relative); }
    /// `text` with every "@" standing for the tree's folder.
    QString expand(const QString& text) const { return QString(text).replace(u'@', path({})); }

    wendrel::ui::MainWindow& main() const { return *window_; }
    QLineEdit* field(const char* name) const { return control<QLineEdit>(*window_, name); }
    /// The texts of txt_source, txt_except and txt_change, apart by "|".
    QString fields() const {
        return field("txt_source")->text() + u'|' + field("txt_except")->text() + u'|' +
               field("txt_change")->text();
    }
    /// Sets the three fields from such a text, in which "@" stands for the tree's folder.
    void fill(const QString& texts) const {
        const QStringList parts = expand(texts).split(u'|');
        field("txt_source")->setText(parts.value(0));
        field("txt_except")->setText(parts.value(1));
        field("txt_change")->setText(parts.value(2));
    }
    void click(const char* name) const {
        QTest::mouseClick(control(*window_, name), Qt::LeftButton);
    }
    /// The name of the main window's control that has the focus, or will have it when the
    /// window is active again.
    QString focus() const {
        const QWidget* focus = window_->focusWidget();
        return focus ? focus->objectName() : u"(none)"_s;
    }

    int clock_calls = 0;

  private:
    std::unique_ptr<QTemporaryDir> temp_;
    QString old_current_;
    std::unique_ptr<wendrel::ui::MainWindow> window_;
};
