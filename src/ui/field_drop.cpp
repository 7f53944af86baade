#include "ui/field_drop.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>

#include "ui/platform.h"

namespace wendrel::ui {

using namespace Qt::Literals::StringLiterals;

FieldDrop::FieldDrop(QLineEdit* txt_source, QLineEdit* txt_except, QLineEdit* txt_change,
                     QObject* parent)
    : QObject(parent), txt_source_(txt_source), txt_except_(txt_except), txt_change_(txt_change) {
    for (QLineEdit* field : {txt_source_, txt_except_, txt_change_}) {
        field->setAcceptDrops(true);
        field->installEventFilter(this);
    }
}

QString FieldDrop::dropped_text(const QLineEdit* field, const QMimeData& data) const {
    QString items;
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile()) {
            continue;
        }
        const QFileInfo info(url.toLocalFile());
        // The item fields end each item with ';': a path holding one cannot be an item.
        if (field != txt_change_ && info.filePath().contains(u';')) {
            continue;
        }
        const QString path = platform::readable_folder(info.filePath());
        if (!path.isEmpty() && field == txt_source_) {
            items += platform::join_path(path, u"*"_s) + u';';
        } else if (info.isFile() && field == txt_change_) {
            return info.absoluteFilePath();
        } else if (info.isFile()) {
            items += info.absoluteFilePath() + u';';
        }
    }
    return items.isEmpty() ? QString() : field->text() + items;
}

bool FieldDrop::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
        return QObject::eventFilter(watched, event);
    }
    auto* drop = static_cast<QDropEvent*>(event);
    if (!drop->mimeData()->hasUrls()) {
        return QObject::eventFilter(watched, event);  // text is the field's own business
    }
    auto* field = static_cast<QLineEdit*>(watched);
    const QString text = field->isEnabled() ? dropped_text(field, *drop->mimeData()) : QString();
    if (text.isNull()) {
        drop->ignore();
    } else {
        drop->acceptProposedAction();
        if (type == QEvent::Drop) {
            field->setText(text);  // runs the field's change handling, as a chooser's write does
            field->setFocus(Qt::OtherFocusReason);
        }
    }
    return true;
}

}  // namespace wendrel::ui
