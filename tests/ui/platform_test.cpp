// The time text of the status log and the choice of the "＋" button's face.
#include <QDateTime>
#include <QLocale>
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

QTEST_MAIN(PlatformTest)
#include "platform_test.moc"
