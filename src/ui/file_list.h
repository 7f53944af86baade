#pragma once

#include <QListWidget>
#include <QString>

namespace wendrel::ui {

/// The file list of the file chooser: the bare names of the regular files in one folder,
/// hidden ones too, sorted by name. A file is "clicked" by the mouse or by moving the
/// highlight to it with the keyboard.
class FileList : public QListWidget {
    Q_OBJECT

  public:
    explicit FileList(QWidget* parent = nullptr);

    /// The listed folder.
    const QString& path() const { return path_; }
    /// Lists the files of `folder`. A folder that does not exist or cannot be listed is
    /// refused: the list stays as it was and false is returned.
    bool set_path(const QString& folder);
    /// The name of the highlighted file, or empty.
    QString file_name() const;
    /// Reads the listed folder again.
    void refresh();

  signals:
    void file_clicked(const QString& name);
    void file_double_clicked(const QString& name);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QString path_;
};

}  // namespace wendrel::ui
