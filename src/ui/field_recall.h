#pragma once

#include <QList>
#include <QObject>
#include <QStringList>

class QLineEdit;

namespace wendrel::ui {

/// Offers in each text field the last values that jobs were started with, newest first: while
/// the user types, the ones that begin with the typed text, and all of them on Down. The lists
/// are kept in the user's configuration folder (wendrel/wendrel.ini under XDG_CONFIG_HOME), one
/// for each field, named after it; the fields themselves start empty.
class FieldRecall : public QObject {
    Q_OBJECT

  public:
    static constexpr qsizetype kKept = 20;

    /// Reads the kept lists; owned by `parent`.
    FieldRecall(const QList<QLineEdit*>& fields, QObject* parent);

    /// Puts `texts` (one for each field, in the fields' order) at the front of the fields'
    /// lists, each value once, and keeps the newest kKept. Empty texts are not kept.
    void remember(const QStringList& texts);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void offer(QLineEdit* field, const QStringList& values);

    QList<QLineEdit*> fields_;
};

}  // namespace wendrel::ui
