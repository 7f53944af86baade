#pragma once

#include <QFont>
#include <QString>
#include <QStringList>
#include <string>

// What the window needs from the desktop it runs on: the time text of the status log and the
// fonts, with the fallbacks that a Linux desktop needs.
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

/// The font of every other control: 宋体 9 pt where installed, else the desktop's face at 9 pt.
QFont window_font();

}  // namespace wendrel::ui::platform
