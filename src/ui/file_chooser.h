#pragma once

#include <QStringView>
#include <QWidget>

#include "ui/hand_back.h"
#include "ui/platform.h"

class QPushButton;

namespace wendrel::ui {

class DriveList;
class FileList;
class FolderList;
class PathLabel;

/// fm_choosefile: picks one file and hands its full path back to the main window. Its caption
/// is its mode: the opener sets one of the three mode captions right after showing it, and OK
/// compares the caption with them to choose the field it writes. Closing it in any way gives
/// the main window back its enabled state and focus; it is destroyed on closing.
class FileChooser : public QWidget {
    Q_OBJECT

  public:
    /// Appends the chosen path and ";" to txt_source.
    static constexpr QStringView kTargetMode = u"选择替换的文件";
    /// Appends the chosen path and ";" to txt_except.
    static constexpr QStringView kExclusionMode = u"选择除去的文件";
    /// Puts the chosen path into txt_change.
    static constexpr QStringView kContentMode = u"选择替换内容来源";

    /// Starts on the process's current folder, with the caption "Choose File" and no mode.
    explicit FileChooser(HandBack hand_back,
                         platform::VolumeSource volumes = &platform::mounted_volumes);

    /// Moves the folder list to `folder`, and the file list and drive list with it; refused,
    /// with false, when `folder` is not a folder that can be listed.
    bool open_folder(const QString& folder);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void build_controls(const platform::VolumeSource& volumes);
    void connect_events();
    void follow_folder(const QString& path);
    void follow_drive(const QString& root);
    void choose_file(const QString& name);
    void accept_choice();
    void refresh_lists();

    HandBack hand_back_;
    FolderList* dir_ = nullptr;
    FileList* file_ = nullptr;
    DriveList* drive_ = nullptr;
    PathLabel* lb_file_ = nullptr;
    QPushButton* cm_ok_ = nullptr;
};

}  // namespace wendrel::ui
