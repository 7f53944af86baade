#include "ui/folder_list.h"

#include <QDir>
#include <QKeyEvent>
#include <QStyle>

namespace wendrel::ui {

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int kPathRole = Qt::UserRole;
// An en space per level: the list has no indentation of its own.
constexpr QChar kIndent = u'\u2002';

QString parent_of(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? u"/"_s : path.left(slash);
}

QString name_of(const QString& path) {
    return path == u"/"_s ? path : path.mid(path.lastIndexOf(u'/') + 1);
}

// The root first, the open folder last.
QStringList chain_of(const QString& path, const QString& root) {
    QStringList chain{path};
    while (chain.front() != root && chain.front() != u"/"_s) {
        chain.prepend(parent_of(chain.front()));
    }
    return chain;
}

}  // namespace

FolderList::FolderList(platform::VolumeSource volumes, QWidget* parent)
    : QListWidget(parent), volumes_(std::move(volumes)) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    if (!set_path(QDir::currentPath())) {
        set_path(QDir::rootPath());
    }
    connect(this, &QListWidget::itemDoubleClicked, this, &FolderList::open_item);
}

bool FolderList::set_path(const QString& folder) {
    const QString path = platform::readable_folder(folder);
    if (path.isEmpty()) {
        return false;
    }
    if (path != path_) {
        path_ = path;
        refresh();
        emit path_changed(path_);
    }
    return true;
}

QString FolderList::item_path(int row) const {
    const QListWidgetItem* entry = item(row);
    return entry ? entry->data(kPathRole).toString() : QString();
}

void FolderList::refresh() {
    const QStringList chain = chain_of(path_, platform::volume_root(path_, volumes_()));
    QStringList children =
        QDir(path_).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::NoSort);
    platform::sort_names(children);

    const auto add = [this](const QString& path, qsizetype depth, QStyle::StandardPixmap icon) {
        auto* entry = new QListWidgetItem(style()->standardIcon(icon),
                                          QString(depth, kIndent) + name_of(path), this);
        entry->setData(kPathRole, path);
    };
    clear();
    for (qsizetype depth = 0; depth < chain.size(); ++depth) {
        add(chain[depth], depth, QStyle::SP_DirOpenIcon);
    }
    for (const QString& child : children) {
        add(platform::join_path(path_, child), chain.size(), QStyle::SP_DirClosedIcon);
    }
    setCurrentRow(static_cast<int>(chain.size() - 1));
}

void FolderList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        open_item(currentItem());
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void FolderList::mouseReleaseEvent(QMouseEvent* event) {
    QListWidget::mouseReleaseEvent(event);
    emit mouse_released();
}

void FolderList::open_item(const QListWidgetItem* item) {
    if (item) {
        // A folder that cannot be opened leaves the list as it was.
        set_path(item->data(kPathRole).toString());
    }
}

}  // namespace wendrel::ui
