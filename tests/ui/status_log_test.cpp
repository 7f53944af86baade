#include "ui/status_log.h"

#include <QApplication>
#include <QClipboard>
#include <QListWidget>
#include <QScrollBar>
#include <QTest>

using wendrel::ui::StatusLog;

class StatusLogTest : public QObject {
    Q_OBJECT

  private slots:
    // The log follows its newest line, not while the user reads further up; failure lines keep
    // their colour; copying takes the chosen lines, or all.
    void follows_the_job_colours_failures_and_copies() {
        QListWidget list;
        list.resize(300, 80);  // a few lines high, as in the window
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        StatusLog log(&list);
        for (int i = 0; i < 40; ++i) {
            log.add(QString::number(i));
            if (i % 7 == 0) {
                QCoreApplication::processEvents();  // several lines in some ticks, one in others
            }
        }
        QCoreApplication::processEvents();
        QScrollBar* bar = list.verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        bar->setValue(3);  // the user scrolls up to read
        log.add(u"未能完成文件x的替换--"_qs);
        log.add(u"  原因：权限不够"_qs);
        log.mark_last(2, StatusLog::kFailure);
        QCoreApplication::processEvents();
        QCOMPARE(bar->value(), 3);
        QCOMPARE(list.item(40)->foreground().color(), StatusLog::kFailure);
        QCOMPARE(list.item(41)->foreground().color(), StatusLog::kFailure);
        QVERIFY(list.item(39)->foreground().color() != StatusLog::kFailure);
        bar->setValue(bar->maximum());  // back at the end: followed again
        log.add(u"完成了对所有文件的替换--"_qs);
        QCoreApplication::processEvents();
        QCOMPARE(bar->value(), bar->maximum());
        list.item(1)->setSelected(true);
        list.item(41)->setSelected(true);
        QCOMPARE(log.text(true), u"1\n  原因：权限不够\n"_qs);
        QCOMPARE(log.text(false).count(u'\n'), 43);
    }
};

QTEST_MAIN(StatusLogTest)
#include "status_log_test.moc"
