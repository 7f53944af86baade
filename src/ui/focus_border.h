#pragma once

#include <QList>
#include <QObject>

class QLineEdit;

namespace wendrel::ui {

/// Gives a group of text fields a frame only while one of them holds the keyboard focus, so
/// that at most one of them is framed at any time.
class FocusBorder : public QObject {
    Q_OBJECT

  public:
    /// The fields start without a frame; the filter is owned by `parent`.
    FocusBorder(const QList<QLineEdit*>& fields, QObject* parent);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QList<QLineEdit*> fields_;
};

}  // namespace wendrel::ui
