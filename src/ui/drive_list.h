#pragma once

#include <QComboBox>
#include <QString>
#include <QStringList>

#include "ui/platform.h"

namespace wendrel::ui {

/// The drive list of the choosers: the roots of the mounted volumes, "/" first. It starts on
/// the volume that holds the process's current folder.
class DriveList : public QComboBox {
    Q_OBJECT

  public:
    explicit DriveList(platform::VolumeSource volumes, QWidget* parent = nullptr);

    /// The root of the chosen volume.
    const QString& drive() const { return drive_; }
    /// Chooses the volume with this root. A volume that is not listed or cannot be read is
    /// refused: the list stays on its drive and false is returned.
    bool set_drive(const QString& root);
    /// The root of the listed volume that holds `folder` (an absolute, clean path).
    QString volume_of(const QString& folder) const;
    /// Reads the mounted volumes again; the chosen drive stays, even when it has vanished.
    void refresh();

  signals:
    /// Raised only when the drive really changes, whether the user or the program changed it.
    void drive_changed(const QString& root);

  private:
    void pick(int index);

    platform::VolumeSource volumes_source_;
    QStringList volumes_;
    QString drive_;
};

}  // namespace wendrel::ui
