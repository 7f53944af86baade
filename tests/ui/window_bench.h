#pragma once

// The window tests' bench: a folder tree that is also the current folder (where the choosers
// start) and a main window whose clock numbers its calls.
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

inline constexpr const char* kFields[] = {"txt_source", "txt_except", "txt_change"};

/// Held in a std::optional: reset() closes the window and leaves the tree.
class WindowBench {
  public:
    /// Makes the tree ("x/" a folder, "x=text" a file), moves into it and shows the window.
    bool set_up(const QStringList& entries) {
        temp_ = std::make_unique<QTemporaryDir>();
        for (const QString& entry : entries) {
            QFile file(path(entry.section(u'=', 0, 0)));
            if (!QDir().mkpath(QFileInfo(file).path()) ||
                !(entry.endsWith(u'/') || (file.open(QIODevice::WriteOnly) &&
                                           file.write(entry.section(u'=', 1).toUtf8()) >= 0))) {
                return false;
            }
        }
        old_current_ = QDir::currentPath();
        clock_calls = 0;
        window_ = std::make_unique<wendrel::ui::MainWindow>(
            [this] { return "#" + std::to_string(++clock_calls); });
        window_->show();
        window_->activateWindow();
        return temp_->isValid() && QDir::setCurrent(temp_->path()) && wait_active(window_.get());
    }

    ~WindowBench() {
        window_.reset();  // takes any open chooser with it
        QDir::setCurrent(old_current_);
    }

    QString path(const QString& relative) const { return QDir(temp_->path()).filePath(relative); }
    /// `text` with every "@" standing for the tree's folder.
    QString expand(const QString& text) const { return QString(text).replace(u'@', path({})); }

    wendrel::ui::MainWindow& main() const { return *window_; }
    QLineEdit* field(const char* name) const { return control<QLineEdit>(*window_, name); }
    /// The texts of the three fields, apart by "|".
    QString fields() const {
        QStringList texts;
        for (const char* name : kFields) {
            texts << field(name)->text();
        }
        return texts.join(u'|');
    }
    /// Sets the three fields from such a text, in which "@" stands for the tree's folder.
    void fill(const QString& texts) const {
        const QStringList parts = expand(texts).split(u'|');
        for (int i = 0; i < 3; ++i) {
            field(kFields[i])->setText(parts.value(i));
        }
    }
    void click(const char* name) const {
        QTest::mouseClick(control(*window_, name), Qt::LeftButton);
    }
    /// The main window's control that has the focus, or gets it back when the window is active.
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
