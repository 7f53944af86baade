#include "ui/field_recall.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSettings>
#include <QStringListModel>

namespace wendrel::ui {

using namespace Qt::Literals::StringLiterals;

namespace {

QSettings settings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, u"wendrel"_s, u"wendrel"_s);
}

QString key(const QLineEdit* field) {
    return u"recall/"_s + field->objectName();
}

}  // namespace

FieldRecall::FieldRecall(const QList<QLineEdit*>& fields, QObject* parent)
    : QObject(parent), fields_(fields) {
    const QSettings kept = settings();
    for (QLineEdit* field : fields_) {
        auto* completer = new QCompleter(new QStringListModel(field), field);
        completer->setCaseSensitivity(Qt::CaseSensitive);  // paths are
        field->setCompleter(completer);
        field->installEventFilter(this);
        offer(field, kept.value(key(field)).toStringList());
    }
}

void FieldRecall::remember(const QStringList& texts) {
    QSettings kept = settings();
    for (qsizetype i = 0; i < fields_.size() && i < texts.size(); ++i) {
        if (texts[i].isEmpty()) {
            continue;
        }
        QLineEdit* field = fields_[i];
        QStringList values = kept.value(key(field)).toStringList();
        values.removeAll(texts[i]);
        values.prepend(texts[i]);
        values = values.first(std::min(values.size(), kKept));
        kept.setValue(key(field), values);
        offer(field, values);
    }
}

void FieldRecall::offer(QLineEdit* field, const QStringList& values) {
    static_cast<QStringListModel*>(field->completer()->model())->setStringList(values);
}

bool FieldRecall::eventFilter(QObject* watched, QEvent* event) {
    // Down opens the list even in an empty field, where typing never would.
    if (event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down) {
        auto* field = static_cast<QLineEdit*>(watched);
        QCompleter* completer = field->completer();
        if (completer && !completer->popup()->isVisible()) {
            completer->setCompletionPrefix(field->text());
            completer->complete();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace wendrel::ui
