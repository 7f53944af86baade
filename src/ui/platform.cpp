#include "ui/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QStyle>
#include <QTime>
#include <QTranslator>
#include <QWidget>
#include <algorithm>

// Resources of a static library are only linked in when something names them, and
// Q_INIT_RESOURCE only works from the global namespace.
static void init_wendrel_resources() {
    Q_INIT_RESOURCE(wendrel);
}

namespace wendrel::ui::platform {

using namespace Qt::Literals::StringLiterals;

namespace {

// 宋体 is the face the window was designed with; it is also installed under its Latin name.
// The stand-ins are CJK faces that Linux distributions ship: sans faces for the window's text,
// serif ones for cm_except's "＋".
const QStringList kSongFaces = {u"宋体"_s, u"SimSun"_s};
const QStringList kSansStandIns = {u"Noto Sans CJK SC"_s, u"Source Han Sans SC"_s,
                                   u"WenQuanYi Micro Hei"_s, u"Droid Sans Fallback"_s};
const QStringList kSerifStandIns = {u"Noto Serif CJK SC"_s, u"Source Han Serif SC"_s,
                                    u"AR PL UMing CN"_s};

// The room a line of text has in the window: a frame's caption stands in the 180 twips above
// its list, and a label is 195 twips high. CJK faces are taller than the 宋体 of the design,
// so the font is made as large as fits this room rather than 9 pt.
constexpr int kLineRoomPx = 12;
// The point size of the window's design-time font.
constexpr qreal kDialogPointSize = 9;
// Below this, CJK glyphs can no longer be told apart.
constexpr int kSmallestPixelSize = 7;
constexpr qreal kExceptPointSize = 14.25;

// The windows were laid out in twips; 15 twips are one pixel at 96 dpi.
constexpr int kTwipsPerPixel = 15;

// File systems that are kernel interfaces rather than places where a user keeps files.
const QStringList kPseudoFileSystems = {
    u"autofs"_s,   u"binfmt_misc"_s, u"bpf"_s,        u"cgroup"_s,    u"cgroup2"_s,
    u"configfs"_s, u"debugfs"_s,     u"devpts"_s,     u"devtmpfs"_s,  u"efivarfs"_s,
    u"fusectl"_s,  u"hugetlbfs"_s,   u"mqueue"_s,     u"nsfs"_s,      u"proc"_s,
    u"pstore"_s,   u"rpc_pipefs"_s,  u"securityfs"_s, u"selinuxfs"_s, u"sysfs"_s,
    u"tracefs"_s};

// Trees that hold the system's own state; what is mounted in them is not the user's.
const QStringList kSystemTrees = {u"/proc"_s, u"/sys"_s, u"/dev"_s, u"/run"_s};
const QString kRemovableMedia = u"/run/media"_s;

QString first_installed(const QStringList& wanted, const QStringList& installed) {
    for (const QString& family : wanted) {
        if (installed.contains(family, Qt::CaseInsensitive)) {
            return family;
        }
    }
    return {};
}

bool is_inside(const QString& path, const QString& folder) {
    return path == folder || folder == u"/"_s || path.startsWith(folder + u'/');
}

// The mount table writes space, tab, newline and backslash in a path as a backslash and three
// octal digits.
QString decode_mount_path(QByteArrayView field) {
    QByteArray bytes;
    for (qsizetype i = 0; i < field.size(); ++i) {
        const auto is_octal = [&](qsizetype at) {
            return at < field.size() && field[at] >= '0' && field[at] <= '7';
        };
        if (field[i] == '\\' && is_octal(i + 1) && is_octal(i + 2) && is_octal(i + 3)) {
            bytes += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                       (field[i + 3] - '0'));
            i += 3;
        } else {
            bytes += field[i];
        }
    }
    return QFile::decodeName(bytes);
}

bool is_user_volume(const QString& mount_point, const QString& type) {
    if (kPseudoFileSystems.contains(type) || !mount_point.startsWith(u'/')) {
        return false;
    }
    if (is_inside(mount_point, kRemovableMedia)) {
        return true;
    }
    return std::none_of(kSystemTrees.begin(), kSystemTrees.end(),
                        [&](const QString& tree) { return is_inside(mount_point, tree); });
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
    // 宋体 is what the window was drawn with. Without it a CJK sans face is taken: fontconfig
    // would otherwise pick the CJK glyphs from whatever face it prefers, with its own measures.
    QFont font;
    const QStringList installed = QFontDatabase::families();
    QString family = first_installed(kSongFaces, installed);
    if (family.isEmpty()) {
        family = first_installed(kSansStandIns, installed);
    }
    if (!family.isEmpty()) {
        font.setFamilies({family});
    }
    font.setPixelSize(fitting_pixel_size(font, kLineRoomPx));
    return font;
}

QFont dialog_font() {
    QFont font = window_font();
    font.setPointSizeF(kDialogPointSize);
    return font;
}

int fitting_pixel_size(QFont font, int room) {
    int size = room;
    for (; size > kSmallestPixelSize; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).height() <= room) {
            break;
        }
    }
    return size;
}

bool load_qt_translations(QTranslator& translator, const QLocale& locale) {
    return translator.load(locale, u"qtbase"_s, u"_"_s,
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

QRect from_twips(int left, int top, int width, int height) {
    return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
            height / kTwipsPerPixel};
}

void centre_on_screen(QWidget& window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        window.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(),
                                               screen->availableGeometry()));
    }
}

QIcon resource_icon(const QString& name) {
    init_wendrel_resources();
    QIcon icon;
    icon.addFile(u":/icons/"_s + name + u"_32.png"_s, QSize(32, 32));
    icon.addFile(u":/icons/"_s + name + u"_16.png"_s, QSize(16, 16));
    return icon;
}

QStringList volume_roots(QByteArrayView mount_table) {
    QStringList roots;
    for (const QByteArray& line : mount_table.toByteArray().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 3) {
            continue;
        }
        const QString mount_point = QDir::cleanPath(decode_mount_path(fields[1]));
        if (is_user_volume(mount_point, QString::fromLatin1(fields[2])) &&
            !roots.contains(mount_point)) {
            roots << mount_point;
        }
    }
    roots.removeAll(u"/"_s);
    roots.sort();
    roots.prepend(u"/"_s);
    return roots;
}

QStringList mounted_volumes() {
    QFile table(u"/proc/self/mounts"_s);
    // A file of the proc file system has no size, so it is read to its end.
    return table.open(QIODevice::ReadOnly) ? volume_roots(table.readAll()) : QStringList{u"/"_s};
}

QString volume_root(const QString& folder, const QStringList& roots) {
    QString best = u"/"_s;
    for (const QString& root : roots) {
        if (root.size() > best.size() && is_inside(folder, root)) {
            best = root;
        }
    }
    return best;
}

QString join_path(const QString& folder, const QString& name) {
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

void sort_names(QStringList& names) {
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
}

QString readable_folder(const QString& path) {
    if (path.isEmpty()) {
        return {};
    }
    const QFileInfo info(path);
    if (!info.isDir() || !info.isReadable() || !info.isExecutable()) {
        return {};
    }
    return QDir::cleanPath(info.absoluteFilePath());
}

void make_chooser_window(QWidget& window, const QString& name, const QString& title, int width,
                         int height) {
    window.setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    window.setObjectName(name);
    window.setAttribute(Qt::WA_DeleteOnClose);
    // A helper window: the program ends when the main window closes, whatever else is open.
    window.setAttribute(Qt::WA_QuitOnClose, false);
    window.setWindowTitle(title);
    window.setWindowIcon(resource_icon(QStringLiteral("folder_search")));
    window.setFont(window_font());
    window.setFixedSize(from_twips(0, 0, width, height).size());
    centre_on_screen(window);
}

}  // namespace wendrel::ui::platform
