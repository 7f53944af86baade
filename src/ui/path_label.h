#pragma once

#include <QLabel>
#include <QString>

namespace wendrel::ui {

/// A chooser's chosen-path label. It holds the whole path, which is what the chooser hands
/// back; a path wider than the label is shown shortened in its middle, so that both the volume
/// and the name stay in view, with the whole path as the hover hint.
class PathLabel : public QLabel {
    Q_OBJECT

  public:
    explicit PathLabel(QWidget* parent = nullptr);

    const QString& path() const { return path_; }
    void set_path(const QString& path);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void show_path();

    QString path_;
};

}  // namespace wendrel::ui
