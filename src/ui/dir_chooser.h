#pragma once

#include <QWidget>

#include "ui/hand_back.h"
#include "ui/platform.h"

class QPushButton;

namespace wendrel::ui {

class DriveList;
class FolderList;
class PathLabel;

/// fm_choosedir: picks a folder whose files are all to be worked on. OK appends the chosen
/// folder and "*;" to txt_source, even when no folder was chosen. The chosen folder is the open
/// folder at the last mouse-button release over the folder list. Closing it in any way gives
/// the main window back its enabled state and focus; it is destroyed on closing.
class DirChooser : public QWidget {
    Q_OBJECT

  public:
    /// Starts on the process's current folder.
    explicit DirChooser(HandBack hand_back,
                        platform::VolumeSource volumes = &platform::mounted_volumes);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void build_controls(const platform::VolumeSource& volumes);
    void connect_events();
    void follow_drive(const QString& root);
    void accept_choice();

    HandBack hand_back_;
    DriveList* drive_ = nullptr;
    FolderList* dir_ = nullptr;
    PathLabel* lb_destination_ = nullptr;
    QPushButton* cm_ok_ = nullptr;
};

}  // namespace wendrel::ui
