#pragma once

#include <QByteArrayView>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

class QLocale;
class QTranslator;
class QWidget;

// What the windows need from the desktop they run on: the time text of the status log, the
// fonts, measures and icons, and the mounted volumes that stand in for drives, with the
// fallbacks that a Linux desktop needs.
namespace wendrel::ui::platform {

/// A QTime format without its time-zone fields ("t" and longer runs of "t" outside quotes) and
/// the spaces that set them apart.
QString without_time_zone(const QString& format);

/// The local time of day in the user's long time format, without date and time zone (UTF-8).
std::string local_time_text();

/// The face for cm_except's "＋": 宋体 where it is installed, else the first installed CJK
/// serif face, else an empty name (the caller then asks for any serif face).
QString except_font_family(const QStringList& installed);

/// 宋体 14.25 pt bold, or its stand-in.
QFont except_button_font();

/// The font of every other control: 宋体 where installed, else a CJK sans face, at the largest
/// pixel size whose lines fit the room the window's design gives a line of text.
QFont window_font();

/// The window font's face at the design's 9 pt, for windows whose room the design does not fix.
QFont dialog_font();

/// The largest pixel size from `room` down to 7 at which a line of `font` is no taller than
/// `room` pixels; 7 when there is none.
int fitting_pixel_size(QFont font, int room);

/// Loads into `translator` Qt's own texts (standard buttons, context menus, standard dialogs)
/// for `locale` from Qt's translation catalogues; false when none is installed for it.
bool load_qt_translations(QTranslator& translator, const QLocale& locale);

/// A rectangle given in twips, in pixels at 96 dpi (Qt scales for other screens).
QRect from_twips(int left, int top, int width, int height);

/// Puts a top-level window in the middle of the primary screen's free area.
void centre_on_screen(QWidget& window);

/// One of our icons in res/icons, with its 32×32 and 16×16 images.
QIcon resource_icon(const QString& name);

/// Makes `window` a chooser: a fixed-size dialog of `width` x `height` twips with only a close
/// box, not in the task bar, destroyed when closed without ending the program, centred, with
/// the folder icon and the window font.
void make_chooser_window(QWidget& window, const QString& name, const QString& title, int width,
                         int height);

/// Where the lists of volumes come from; tests put in their own.
using VolumeSource = std::function<QStringList()>;

/// The volumes a user can browse, from a mount table in the format of /proc/self/mounts:
/// mount points of real file systems, "/" first and the rest sorted. Kernel interfaces (proc,
/// sysfs, cgroup, devpts and the like) are left out, and so is anything mounted inside the
/// system trees /proc, /sys, /dev and /run, except removable media under /run/media.
QStringList volume_roots(QByteArrayView mount_table);

/// volume_roots() of this process's mount table; just "/" when that cannot be read.
QStringList mounted_volumes();

/// The root of the volume among `roots` that holds `folder` (an absolute, clean path): the
/// longest root that is `folder` or one of its ancestors, and "/" when none is.
QString volume_root(const QString& folder, const QStringList& roots);

/// `folder` and `name` with one separator between them, also when `folder` is the root.
QString join_path(const QString& folder, const QString& name);

/// Sorts names as a user looks for them: ignoring case, then with capitals first among names
/// that differ only in case.
void sort_names(QStringList& names);

/// `path` as a clean absolute path when it names a folder that can be listed, else empty.
/// A relative path is taken from the process's current folder.
QString readable_folder(const QString& path);

}  // namespace wendrel::ui::platform
