#include "ui/dir_chooser.h"

#include <QCloseEvent>
#include <QPushButton>

#include "ui/drive_list.h"
#include "ui/folder_list.h"
#include "ui/path_label.h"
#include "ui/window_style.h"

namespace wendrel::ui {

using namespace Qt::Literals::StringLiterals;

DirChooser::DirChooser(HandBack hand_back, platform::VolumeSource volumes)
    : hand_back_(std::move(hand_back)) {
    platform::make_chooser_window(*this, u"fm_choosedir"_s, u"选择目录"_s, 2895, 3315);
    build_controls(volumes);
    connect_events();
    WindowStyle::apply_to(*this);
    drive_->setFocus(Qt::OtherFocusReason);
}

void DirChooser::build_controls(const platform::VolumeSource& volumes) {
    drive_ = new DriveList(volumes, this);
    drive_->setObjectName(u"drive"_s);
    drive_->setGeometry(platform::from_twips(0, 2640, 2175, 300));
    dir_ = new FolderList(volumes, this);
    dir_->setObjectName(u"dir"_s);
    dir_->setGeometry(platform::from_twips(0, 0, 2175, 2610));
    drive_->set_drive(drive_->volume_of(dir_->path()));
    lb_destination_ = new PathLabel(this);
    lb_destination_->setObjectName(u"lb_destination"_s);
    lb_destination_->setGeometry(platform::from_twips(0, 3000, 2895, 255));
    cm_ok_ = new QPushButton(u"OK"_s, this);
    cm_ok_->setObjectName(u"cm_ok"_s);
    cm_ok_->setGeometry(platform::from_twips(2220, 60, 615, 315));
    // No default button: Enter belongs to the control that has the focus.
    cm_ok_->setAutoDefault(false);
    setTabOrder(drive_, dir_);
    setTabOrder(dir_, cm_ok_);
}

void DirChooser::connect_events() {
    connect(cm_ok_, &QPushButton::clicked, this, &DirChooser::accept_choice);
    connect(drive_, &DriveList::drive_changed, this, &DirChooser::follow_drive);
    // The open folder, not the highlighted entry: after a double-click the release of the
    // second click finds the newly opened folder.
    connect(dir_, &FolderList::mouse_released, this,
            [this] { lb_destination_->set_path(dir_->path()); });
    // On a desktop with drive letters the folder list never leaves its drive. Mounted volumes
    // nest, so here it can; the drive list then follows, so that it always names the volume
    // of the open folder and picking any other one moves the folder list.
    connect(dir_, &FolderList::path_changed, this,
            [this](const QString& path) { drive_->set_drive(drive_->volume_of(path)); });
}

void DirChooser::follow_drive(const QString& root) {
    // Picking the drive that already holds the open folder leaves the folder where it is.
    if (drive_->volume_of(dir_->path()) != root && !dir_->set_path(root)) {
        drive_->set_drive(drive_->volume_of(dir_->path()));
    }
}

void DirChooser::accept_choice() {
    hand_back_.append(HandBack::Field::source, lb_destination_->path() + u"*;"_s);
    close();
}

void DirChooser::closeEvent(QCloseEvent* event) {
    hand_back_.release(HandBack::FocusRule::source_else_except_else_change);
    event->accept();
}

}  // namespace wendrel::ui
