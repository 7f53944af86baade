#pragma once

// Shared by the chooser tests: a folder tree in a temporary folder that is also the process's
// current folder (where the choosers start), the main window whose fields they write, and
// mouse gestures on list entries.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <string>

#include "ui/folder_list.h"
#include "ui/hand_back.h"
#include "ui/main_window.h"
#include "window_probe.h"

/// Waits until `window` is the active window. QTest::qWaitForWindowActive() returns too early
/// for a window kept above another: it counts it as active while the one below still is.
inline bool wait_active(QWidget* window) {
    return QTest::qWaitFor([window] { return window->isActiveWindow(); });
}

class ChooserBench {
  public:
    /// Makes the tree (a name ending in "/" is a folder, any other an empty file), moves the
    /// current folder into it and shows an active main window. False on failure.
    bool set_up(const QStringList& entries) {
        temp_ = std::make_unique<QTemporaryDir>();
        if (!temp_->isValid()) {
            return false;
        }
        for (const QString& entry : entries) {
            // A folder is made with its parents, a file after its folder.
            const QString folder = entry.endsWith(u'/') ? entry : QFileInfo(entry).path();
            if (!QDir(temp_->path()).mkpath(folder) ||
                !(entry.endsWith(u'/') || QFile(path(entry)).open(QIODevice::WriteOnly))) {
                return false;
            }
        }
        old_current_ = QDir::currentPath();
        window_ = std::make_unique<wendrel::ui::MainWindow>([] { return std::string("12:00"); });
        window_->show();
        window_->activateWindow();
        return QDir::setCurrent(temp_->path()) && wait_active(window_.get());
    }

    void tear_down() {
        window_.reset();  // takes any open chooser with it
        QDir::setCurrent(old_current_);
        temp_.reset();
    }

    /// The full path of an entry of the tree; "" is the tree's own folder.
    QString path(const QString& relative) const {
        return relative.isEmpty() ? temp_->path() : QDir(temp_->path()).filePath(relative);
    }

    wendrel::ui::MainWindow& main() const { return *window_; }
    QLineEdit* field(const char* name) const { return control<QLineEdit>(*window_, name); }
    wendrel::ui::HandBack hand_back() const {
        return {window_.get(), field("txt_source"), field("txt_except"), field("txt_change")};
    }
    /// The name of the main window's control that will have the focus when it is active.
    QString main_focus() const {
        const QWidget* focus = window_->focusWidget();
        return focus ? focus->objectName() : QStringLiteral("(none)");
    }

  private:
    std::unique_ptr<QTemporaryDir> temp_;
    QString old_current_;
    std::unique_ptr<wendrel::ui::MainWindow> window_;
};

/// The one visible top-level window with this name, or null when there is none or several.
template <typename Window = QWidget>
Window* open_window(const char* name) {
    Window* found = nullptr;
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->objectName() == QLatin1String(name)) {
            found = qobject_cast<Window*>(widget);
            ++count;
        }
    }
    return count == 1 ? found : nullptr;
}

inline int row_with_text(const QListWidget& list, const QString& text) {
    const QList<QListWidgetItem*> found = list.findItems(text, Qt::MatchExactly);
    return found.size() == 1 ? list.row(found.front()) : -1;
}

/// The row of the folder list's entry for `path`, or -1.
inline int folder_row(const wendrel::ui::FolderList& list, const QString& path) {
    for (int row = 0; row < list.count(); ++row) {
        if (list.item_path(row) == path) {
            return row;
        }
    }
    return -1;
}

inline QPoint centre_of_row(QListWidget& list, int row) {
    list.scrollToItem(list.item(row));
    return list.visualItemRect(list.item(row)).center();
}

inline void click_row(QListWidget& list, int row, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(list.viewport(), button, {}, centre_of_row(list, row));
}

/// A whole double-click as a mouse makes it: a click, then a press that is a double-click,
/// then its release.
inline void double_click_row(QListWidget& list, int row) {
    const QPoint at = centre_of_row(list, row);
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, at);
}
