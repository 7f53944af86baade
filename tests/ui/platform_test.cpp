// The time text of the status log, the choice of the "＋" button's face, and the volumes and
// paths that the choosers work with.
#include <unistd.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

#include "ui/platform.h"

using namespace Qt::Literals::StringLiterals;
namespace platform = wendrel::ui::platform;

class PlatformTest : public QObject {
    Q_OBJECT

  private slots:
    void without_time_zone_data();
    void without_time_zone();
    void locale_formats_data();
    void locale_formats();
    void except_font_family_data();
    void except_font_family();
    void volume_roots_data();
    void volume_roots();
    void mounted_volumes();
    void volume_root_data();
    void volume_root();
    void join_path_data();
    void join_path();
    void readable_folder_data();
    void readable_folder();
    void sort_names();
};

void PlatformTest::without_time_zone_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("expected");
    QTest::newRow("zone last") << u"h:mm:ss AP t"_s << u"h:mm:ss AP"_s;
    QTest::newRow("zone first, no space") << u"tAPh:mm:ss"_s << u"APh:mm:ss"_s;
    QTest::newRow("zone between") << u"HH:mm t ss"_s << u"HH:mm ss"_s;
    QTest::newRow("long zone name") << u"HH:mm:ss tttt"_s << u"HH:mm:ss"_s;
    QTest::newRow("narrow space") << u"h:mm:ss\u202Ft"_s << u"h:mm:ss"_s;
    QTest::newRow("quoted t stays") << u"HH'h't mm 'at' t"_s << u"HH'h'mm 'at'"_s;
    QTest::newRow("escaped quote") << u"HH'o''clock' t"_s << u"HH'o''clock'"_s;
    QTest::newRow("no zone") << u"HH:mm:ss"_s << u"HH:mm:ss"_s;
    QTest::newRow("only a zone") << u"t"_s << QString();
}

void PlatformTest::without_time_zone() {
    QFETCH(QString, format);
    QFETCH(QString, expected);
    QCOMPARE(platform::without_time_zone(format), expected);
}

void PlatformTest::locale_formats_data() {
    QTest::addColumn<QLocale>("locale");
    for (const char* name : {"C", "en_US", "de_DE", "zh_CN", "zh_TW", "ja_JP", "ar_EG"}) {
        QTest::newRow(name) << QLocale(QString::fromLatin1(name));
    }
    QTest::newRow("system") << QLocale::system();
}

void PlatformTest::locale_formats() {
    QFETCH(QLocale, locale);
    // The zone's name is gone, and the text still reads back as the same time of day.
    const QString format = platform::without_time_zone(locale.timeFormat(QLocale::LongFormat));
    const QString zone = QDateTime::currentDateTime().timeZoneAbbreviation();
    const QString text = locale.toString(QTime(21, 5, 3), format);
    QVERIFY2(!zone.isEmpty() && !text.contains(zone), qPrintable(text));
    QCOMPARE(locale.toTime(text, format), QTime(21, 5, 3));
    if (locale == QLocale::system()) {
        const QTime now = QTime::currentTime();
        const QTime read =
            locale.toTime(QString::fromStdString(platform::local_time_text()), format);
        QVERIFY(read.isValid() && qAbs(now.secsTo(read)) <= 1);
    }
}

void PlatformTest::except_font_family_data() {
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Song") << QStringList{u"DejaVu Sans"_s, u"宋体"_s, u"Noto Serif CJK SC"_s}
                          << u"宋体"_s;
    QTest::newRow("Song, Latin name")
        << QStringList{u"Noto Serif CJK SC"_s, u"simsun"_s} << u"SimSun"_s;
    QTest::newRow("CJK serif") << QStringList{u"DejaVu Serif"_s, u"Noto Serif CJK SC"_s}
                               << u"Noto Serif CJK SC"_s;
    QTest::newRow("CJK sans is no stand-in") << QStringList{u"Noto Sans CJK SC"_s} << QString();
    QTest::newRow("nothing installed") << QStringList() << QString();
}

void PlatformTest::except_font_family() {
    QFETCH(QStringList, installed);
    QFETCH(QString, expected);
    QCOMPARE(platform::except_font_family(installed), expected);
}

void PlatformTest::volume_roots_data() {
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QStringList>("roots");

    const QByteArray root = "/dev/vda1 / ext4 rw,relatime 0 0\n";
    QTest::newRow("root only") << root << QStringList{u"/"_s};
    QTest::newRow("root comes first, the rest sorted")
        << QByteArray("/dev/sdb1 /srv ext4 rw 0 0\n/dev/sda2 /home xfs rw 0 0\n") + root
        << QStringList{u"/"_s, u"/home"_s, u"/srv"_s};
    QTest::newRow("kernel interfaces left out")
        << root +
               "proc /proc proc rw 0 0\nsysfs /sys sysfs rw 0 0\n"
               "cgroup2 /cgroup cgroup2 rw 0 0\ndevpts /pts devpts rw 0 0\n"
               "none /debug debugfs rw 0 0\n"
        << QStringList{u"/"_s};
    QTest::newRow("nothing mounted inside the system trees")
        << root +
               "tmpfs /run tmpfs rw 0 0\ntmpfs /dev/shm tmpfs rw 0 0\n"
               "tmpfs /sys/fs/cgroup tmpfs rw 0 0\n/dev/sdc1 /proc/x ext4 rw 0 0\n"
        << QStringList{u"/"_s};
    QTest::newRow("removable media and a tmpfs /tmp stay")
        << root + "/dev/sdc1 /run/media/me/USB vfat rw 0 0\ntmpfs /tmp tmpfs rw 0 0\n"
        << QStringList{u"/"_s, u"/run/media/me/USB"_s, u"/tmp"_s};
    QTest::newRow("escaped blanks and backslash")
        << root + "/dev/sdd1 /media/my\\040disk\\011x\\134y ext4 rw 0 0\n"
        << QStringList{u"/"_s, u"/media/my disk\tx\\y"_s};
    QTest::newRow("mounted twice, listed once")
        << root + "/dev/sde1 /data ext4 rw 0 0\n/dev/sde1 /data ext4 rw 0 0\n" + root
        << QStringList{u"/"_s, u"/data"_s};
    QTest::newRow("a bind mount of a folder ending in /") << root + "/dev/sde1 /data/ ext4 rw 0 0\n"
                                                          << QStringList{u"/"_s, u"/data"_s};
    QTest::newRow("broken lines skipped")
        << QByteArray("garbage\n\n/dev/x relative ext4 rw 0 0\n  \n/dev/y /ok") + "\n" + root
        << QStringList{u"/"_s};
    QTest::newRow("empty table still has the root") << QByteArray() << QStringList{u"/"_s};
}

void PlatformTest::volume_roots() {
    QFETCH(QByteArray, table);
    QFETCH(QStringList, roots);
    QCOMPARE(platform::volume_roots(table), roots);
}

void PlatformTest::mounted_volumes() {
    // This process's own table: the root first, every entry a folder, no kernel interface.
    const QStringList roots = platform::mounted_volumes();
    QVERIFY(!roots.isEmpty());
    QCOMPARE(roots.front(), u"/"_s);
    QCOMPARE(roots.size(), QSet<QString>(roots.begin(), roots.end()).size());
    for (const QString& root : roots) {
        QVERIFY2(QFileInfo(root).isDir(), qPrintable(root));
        QVERIFY2(!root.startsWith(u"/proc"_s) && !root.startsWith(u"/sys"_s), qPrintable(root));
    }
}

void PlatformTest::volume_root_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("root");

    QTest::newRow("the root itself") << u"/"_s << u"/"_s;
    QTest::newRow("on the root volume") << u"/etc/ssh"_s << u"/"_s;
    QTest::newRow("a volume's own root") << u"/home"_s << u"/home"_s;
    QTest::newRow("inside a volume") << u"/home/me/docs"_s << u"/home"_s;
    QTest::newRow("nested volume wins") << u"/home/me/usb/x"_s << u"/home/me/usb"_s;
    QTest::newRow("a name that only begins like a volume") << u"/homework"_s << u"/"_s;
    QTest::newRow("unlisted pseudo file system") << u"/proc/1"_s << u"/"_s;
}

void PlatformTest::volume_root() {
    QFETCH(QString, folder);
    QFETCH(QString, root);
    const QStringList roots = {u"/"_s, u"/home"_s, u"/home/me/usb"_s, u"/srv"_s};
    QCOMPARE(platform::volume_root(folder, roots), root);
    // The answer does not depend on the order of the list, nor on the root being listed.
    QCOMPARE(platform::volume_root(folder, {roots.rbegin(), roots.rend() - 1}), root);
}

void PlatformTest::join_path_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");
    QTest::newRow("a file in the root folder gets one separator")
        << u"/"_s << u"a.txt"_s << u"/a.txt"_s;
    QTest::newRow("any other folder") << u"/srv/docs"_s << u"a.txt"_s << u"/srv/docs/a.txt"_s;
    QTest::newRow("hidden name, Chinese folder")
        << u"/srv/文档"_s << u".env"_s << u"/srv/文档/.env"_s;
}

void PlatformTest::join_path() {
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, path);
    QCOMPARE(platform::join_path(folder, name), path);
}

void PlatformTest::readable_folder_data() {
    QTest::addColumn<QString>("relative");  // to a temporary folder; "@" alone stands for it
    QTest::addColumn<QString>("expected");  // likewise; empty when refused
    QTest::newRow("a folder") << u"@/sub"_s << u"@/sub"_s;
    QTest::newRow("made clean") << u"@/sub/../sub/./"_s << u"@/sub"_s;
    QTest::newRow("relative to the current folder") << u"sub"_s << u"@/sub"_s;
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("missing") << u"@/gone"_s << QString();
    QTest::newRow("a file") << u"@/file.txt"_s << QString();
    QTest::newRow("cannot be listed") << u"@/locked"_s << QString();
}

void PlatformTest::readable_folder() {
    QFETCH(QString, relative);
    QFETCH(QString, expected);
    if (QByteArray(QTest::currentDataTag()) == "cannot be listed" && geteuid() == 0) {
        QSKIP("the superuser can list every folder");
    }
    QTemporaryDir temp;
    const QDir dir(temp.path());
    QVERIFY(temp.isValid() && dir.mkdir(u"sub"_s) && dir.mkdir(u"locked"_s));
    QVERIFY(QFile(dir.filePath(u"file.txt"_s)).open(QIODevice::WriteOnly));
    QVERIFY(QFile::setPermissions(dir.filePath(u"locked"_s), QFileDevice::ReadOwner));
    const QString old_current = QDir::currentPath();
    QVERIFY(QDir::setCurrent(temp.path()));
    const QString result = platform::readable_folder(QString(relative).replace(u'@', temp.path()));
    QDir::setCurrent(old_current);
    QCOMPARE(result, QString(expected).replace(u'@', temp.path()));
}

void PlatformTest::sort_names() {
    QStringList names = {u"b.txt"_s, u"B.txt"_s, u".hidden"_s, u"a.txt"_s, u"C"_s, u"文档"_s};
    platform::sort_names(names);
    QCOMPARE(names,
             QStringList({u".hidden"_s, u"a.txt"_s, u"B.txt"_s, u"b.txt"_s, u"C"_s, u"文档"_s}));
}

QTEST_MAIN(PlatformTest)
#include "platform_test.moc"
