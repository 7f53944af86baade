#include "ui/drive_list.h"

#include <QDir>
#include <QSignalBlocker>

namespace wendrel::ui {

DriveList::DriveList(platform::VolumeSource volumes, QWidget* parent)
    : QComboBox(parent), volumes_source_(std::move(volumes)) {
    refresh();
    // Only the user's picks: the program's own moves go through set_drive().
    connect(this, &QComboBox::activated, this, &DriveList::pick);
}

bool DriveList::set_drive(const QString& root) {
    if (root == drive_) {
        return true;
    }
    if (!volumes_.contains(root) || platform::readable_folder(root).isEmpty()) {
        return false;
    }
    drive_ = root;
    setCurrentIndex(static_cast<int>(volumes_.indexOf(root)));
    emit drive_changed(drive_);
    return true;
}

QString DriveList::volume_of(const QString& folder) const {
    return platform::volume_root(folder, volumes_);
}

void DriveList::refresh() {
    volumes_ = volumes_source_();
    if (drive_.isEmpty()) {
        drive_ = volume_of(QDir::currentPath());
    }
    if (!volumes_.contains(drive_)) {
        volumes_ << drive_;
    }
    const QSignalBlocker quiet(this);
    clear();
    addItems(volumes_);
    setCurrentIndex(static_cast<int>(volumes_.indexOf(drive_)));
}

void DriveList::pick(int index) {
    if (!set_drive(itemText(index))) {
        setCurrentIndex(static_cast<int>(volumes_.indexOf(drive_)));
    }
}

}  // namespace wendrel::ui
