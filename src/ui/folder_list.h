#pragma once

#include <QListWidget>
#include <QString>

#include "ui/platform.h"

namespace wendrel::ui {

/// The folder list of the choosers. It shows the chain of folders from the root of the volume
/// that holds the open folder down to the open folder, then the open folder's sub-folders,
/// hidden ones too. Every entry stands for a full path. A double-click or Enter opens an entry;
/// a single click only highlights it. It starts on the process's current folder.
class FolderList : public QListWidget {
    Q_OBJECT

  public:
    explicit FolderList(platform::VolumeSource volumes, QWidget* parent = nullptr);

    /// The open folder, a clean absolute path.
    const QString& path() const { return path_; }
    /// Opens `folder`. A folder that does not exist or cannot be listed is refused: the list
    /// stays where it was and false is returned.
    bool set_path(const QString& folder);
    /// The full path of the entry in `row`, or empty.
    QString item_path(int row) const;
    /// The full path of the highlighted entry.
    QString highlighted_path() const { return item_path(currentRow()); }
    /// Reads the open folder's sub-folders again.
    void refresh();

  signals:
    /// Raised only when the open folder really changes.
    void path_changed(const QString& path);
    /// Raised after any mouse button is released over the list's entries.
    void mouse_released();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void open_item(const QListWidgetItem* item);

    platform::VolumeSource volumes_;
    QString path_;
};

}  // namespace wendrel::ui
