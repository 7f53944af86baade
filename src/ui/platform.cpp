#include "ui/platform.h"

#include <QFontDatabase>
#include <QLocale>
#include <QTime>

namespace wendrel::ui::platform {

using namespace Qt::Literals::StringLiterals;

namespace {

// 宋体 is the face the window was designed with; it is also installed under its Latin name.
// The others are CJK serif faces that Linux distributions ship.
const QStringList kSongFaces = {u"宋体"_s, u"SimSun"_s};
const QStringList kSerifStandIns = {u"Noto Serif CJK SC"_s, u"Source Han Serif SC"_s,
                                    u"AR PL UMing CN"_s};

// The point size of the window's design-time font.
constexpr qreal kWindowPointSize = 9;
constexpr qreal kExceptPointSize = 14.25;

QString first_installed(const QStringList& wanted, const QStringList& installed) {
    for (const QString& family : wanted) {
        if (installed.contains(family, Qt::CaseInsensitive)) {
            return family;
        }
    }
    return {};
}

void drop_spaces_before(QString& text) {
    while (!text.isEmpty() && text.back().isSpace()) {
        text.chop(1);
    }
}

}  // namespace

QString without_time_zone(const QString& format) {
    QString out;
    bool quoted = false;
    bool drop_next_spaces = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (drop_next_spaces && c.isSpace()) {
            continue;
        }
        drop_next_spaces = false;
        if (c == u'\'') {
            quoted = !quoted;  // '' inside a quote toggles twice and stays quoted
        } else if (!quoted && c == u't') {
            while (i + 1 < format.size() && format[i + 1] == u't') {
                ++i;
            }
            // The zone is set apart by a space on one side; take that space away with it.
            if (!out.isEmpty() && out.back().isSpace()) {
                drop_spaces_before(out);
            } else {
                drop_next_spaces = true;
            }
            continue;
        }
        out += c;
    }
    return out.trimmed();
}

std::string local_time_text() {
    const QLocale locale = QLocale::system();
    const QString format = without_time_zone(locale.timeFormat(QLocale::LongFormat));
    return locale.toString(QTime::currentTime(), format).toStdString();
}

QString except_font_family(const QStringList& installed) {
    QString family = first_installed(kSongFaces, installed);
    return family.isEmpty() ? first_installed(kSerifStandIns, installed) : family;
}

QFont except_button_font() {
    QFont font = window_font();
    const QString family = except_font_family(QFontDatabase::families());
    if (family.isEmpty()) {
        font.setStyleHint(QFont::Serif);
        font.setFamilies({u"serif"_s});
    } else {
        font.setFamilies({family});
    }
    font.setPointSizeF(kExceptPointSize);
    font.setBold(true);
    return font;
}

QFont window_font() {
    // 宋体 is what the window was drawn with. Without it the desktop's own face is kept, and
    // fontconfig takes the CJK glyphs from the CJK face that the user's desktop prefers.
    QFont font;
    const QString family = first_installed(kSongFaces, QFontDatabase::families());
    if (!family.isEmpty()) {
        font.setFamilies({family});
    }
    font.setPointSizeF(kWindowPointSize);
    return font;
}

}  // namespace wendrel::ui::platform
