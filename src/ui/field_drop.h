#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLineEdit;
class QMimeData;

namespace wendrel::ui {

/// Takes files and folders dropped from a file manager into the three fields, written in each
/// field's own syntax: txt_source gains a "path;" item for each file and a "folder/*;" item for
/// each folder, txt_except a "path;" name for each file, and txt_change the path of the first
/// file in place of its text. A field that is disabled, as while a job runs, takes nothing.
class FieldDrop : public QObject {
    Q_OBJECT

  public:
    /// Owned by `parent`.
    FieldDrop(QLineEdit* txt_source, QLineEdit* txt_except, QLineEdit* txt_change, QObject* parent);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    /// The new text of `field` after `data` is dropped on it, or a null string when `data`
    /// holds nothing the field takes.
    QString dropped_text(const QLineEdit* field, const QMimeData& data) const;

    QLineEdit* txt_source_;
    QLineEdit* txt_except_;
    QLineEdit* txt_change_;
};

}  // namespace wendrel::ui
