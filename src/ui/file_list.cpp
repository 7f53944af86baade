#include "ui/file_list.h"

#include <QDir>
#include <QKeyEvent>

#include "ui/platform.h"

namespace wendrel::ui {

FileList::FileList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemClicked, this,
            [this](const QListWidgetItem* item) { emit file_clicked(item->text()); });
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](const QListWidgetItem* item) { emit file_double_clicked(item->text()); });
}

bool FileList::set_path(const QString& folder) {
    const QString path = platform::readable_folder(folder);
    if (path.isEmpty()) {
        return false;
    }
    path_ = path;
    refresh();
    return true;
}

QString FileList::file_name() const {
    const QListWidgetItem* entry = currentItem();
    return entry && entry->isSelected() ? entry->text() : QString();
}

void FileList::refresh() {
    // Files, and links that lead to files; no folders, devices, sockets or pipes.
    QStringList names = QDir(path_).entryList(QDir::Files | QDir::Hidden, QDir::NoSort);
    platform::sort_names(names);
    clear();
    addItems(names);
}

void FileList::keyPressEvent(QKeyEvent* event) {
    const int before = currentRow();
    QListWidget::keyPressEvent(event);
    if (currentRow() != before && currentItem()) {
        emit file_clicked(currentItem()->text());
    }
}

}  // namespace wendrel::ui
