#include "ui/file_chooser.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

#include "ui/drive_list.h"
#include "ui/file_list.h"
#include "ui/folder_list.h"
#include "ui/path_label.h"
#include "ui/window_style.h"

namespace wendrel::ui {

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kRefreshHint = u"Press F5 to refresh"_s;

}  // namespace

FileChooser::FileChooser(HandBack hand_back, platform::VolumeSource volumes)
    : hand_back_(std::move(hand_back)) {
    platform::make_chooser_window(*this, u"fm_choosefile"_s, u"Choose File"_s, 2775, 3135);
    build_controls(volumes);
    connect_events();
    WindowStyle::apply_to(*this);
    dir_->setFocus(Qt::OtherFocusReason);
}

void FileChooser::build_controls(const platform::VolumeSource& volumes) {
    dir_ = new FolderList(volumes, this);
    dir_->setObjectName(u"dir"_s);
    dir_->setGeometry(platform::from_twips(0, 0, 1395, 2400));
    file_ = new FileList(this);
    file_->setObjectName(u"file"_s);
    file_->setGeometry(platform::from_twips(1440, 0, 1335, 2790));
    file_->set_path(dir_->path());
    drive_ = new DriveList(volumes, this);
    drive_->setObjectName(u"drive"_s);
    drive_->setGeometry(platform::from_twips(0, 2460, 1395, 300));
    drive_->set_drive(drive_->volume_of(dir_->path()));
    for (QWidget* list : {static_cast<QWidget*>(dir_), static_cast<QWidget*>(file_),
                          static_cast<QWidget*>(drive_)}) {
        list->setToolTip(kRefreshHint);
    }
    lb_file_ = new PathLabel(this);
    lb_file_->setObjectName(u"lb_file"_s);
    lb_file_->setGeometry(platform::from_twips(0, 2820, 1995, 255));
    cm_ok_ = new QPushButton(u"OK"_s, this);
    cm_ok_->setObjectName(u"cm_ok"_s);
    cm_ok_->setGeometry(platform::from_twips(2040, 2820, 735, 315));
    cm_ok_->setDefault(true);
    setTabOrder(dir_, file_);
    setTabOrder(file_, drive_);
    setTabOrder(drive_, cm_ok_);
}

void FileChooser::connect_events() {
    connect(cm_ok_, &QPushButton::clicked, this, &FileChooser::accept_choice);
    connect(file_, &FileList::file_clicked, this, &FileChooser::choose_file);
    // The click that comes first has already chosen the file.
    connect(file_, &FileList::file_double_clicked, this, &FileChooser::accept_choice);
    connect(dir_, &FolderList::path_changed, this, &FileChooser::follow_folder);
    connect(dir_, &QListWidget::itemClicked, this,
            [this] { dir_->setToolTip(dir_->highlighted_path()); });
    connect(drive_, &DriveList::drive_changed, this, &FileChooser::follow_drive);
    // The window sees every key before the control that has the focus, also while the drive
    // list's drop-down, a window of its own, has the keys.
    for (QWidget* control :
         {static_cast<QWidget*>(dir_), static_cast<QWidget*>(file_), static_cast<QWidget*>(drive_),
          static_cast<QWidget*>(drive_->view()), static_cast<QWidget*>(cm_ok_)}) {
        control->installEventFilter(this);
    }
}

bool FileChooser::open_folder(const QString& folder) {
    return dir_->set_path(folder);
}

void FileChooser::follow_folder(const QString& path) {
    file_->set_path(path);
    drive_->set_drive(drive_->volume_of(path));
}

void FileChooser::follow_drive(const QString& root) {
    // Picking the drive that already holds the open folder leaves the folder where it is, so
    // that the drive list and the folder list settle after one exchange.
    if (drive_->volume_of(dir_->path()) != root && !dir_->set_path(root)) {
        drive_->set_drive(drive_->volume_of(dir_->path()));
        return;
    }
    drive_->setToolTip(drive_->currentText());
}

void FileChooser::choose_file(const QString& name) {
    lb_file_->set_path(platform::join_path(file_->path(), name));
    file_->setToolTip(name);
}

void FileChooser::accept_choice() {
    const QString chosen = lb_file_->path();
    const QString mode = windowTitle();
    if (chosen.isEmpty()) {
        // Nothing to hand back.
    } else if (mode == kTargetMode) {
        hand_back_.append(HandBack::Field::source, chosen + u';');
    } else if (mode == kExclusionMode) {
        hand_back_.append(HandBack::Field::except, chosen + u';');
    } else if (mode == kContentMode) {
        hand_back_.replace(HandBack::Field::change, chosen);
    }
    close();
}

void FileChooser::refresh_lists() {
    drive_->refresh();
    dir_->refresh();
    file_->refresh();
}

bool FileChooser::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            close();
        } else if (key == Qt::Key_F5) {
            refresh_lists();
        }
    }
    // The key still goes on to the control.
    return QWidget::eventFilter(watched, event);
}

void FileChooser::keyPressEvent(QKeyEvent* event) {
    // OK is the default button: Enter that no control took is OK.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        cm_ok_->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void FileChooser::closeEvent(QCloseEvent* event) {
    hand_back_.release(HandBack::FocusRule::source_else_change);
    event->accept();
}

}  // namespace wendrel::ui
