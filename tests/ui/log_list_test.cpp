// The status log list: how it follows, colours and copies, and its paint throttle.
#include <QElapsedTimer>
#include <QListWidget>
#include <QPointer>
#include <QScrollBar>
#include <QTest>

#include "ui/paint_throttle.h"
#include "ui/status_log.h"

using wendrel::ui::StatusLog;

struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

class LogListTest : public QObject {
    Q_OBJECT

  private slots:
    // A burst of changes paints about once per frame, its last change when the frame is over
    // (or at once on flush).
    void burst_paints_once_per_frame_and_the_last_change_is_shown() {
        constexpr int kFrameMs = 400;
        QPointer<wendrel::ui::PaintThrottle> throttle;
        for (const bool flush : {false, true}) {
            QVERIFY(!throttle);  // the last one went with its widget
            QWidget window;      // as in the main window, whose own painting goes on
            window.resize(320, 140);
            QListWidget list(&window);
            list.resize(300, 120);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            PaintCounter counter;
            list.viewport()->installEventFilter(&counter);
            throttle = new wendrel::ui::PaintThrottle(&list, kFrameMs);
            QElapsedTimer burst;
            burst.start();
            for (int i = 0; i < 60; ++i) {
                list.addItem(QString::number(i));
                throttle->changed();
                QCoreApplication::processEvents();
            }
            QVERIFY2(counter.paints <= burst.elapsed() / kFrameMs + 2,
                     qPrintable(QString::number(counter.paints) + " paints in a burst"));
            if (burst.elapsed() >= kFrameMs) {
                QSKIP("the machine was too slow to hold the burst within one frame");
            }
            QVERIFY(!list.updatesEnabled());
            const int before = counter.paints;
            if (flush) {
                // Painted there and then, or the next tick's change holds it back again.
                throttle->flush();
                QVERIFY(list.updatesEnabled() && counter.paints > before);
            }
            QTRY_VERIFY_WITH_TIMEOUT(list.updatesEnabled() && counter.paints > before, 5000);
        }
    }

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

QTEST_MAIN(LogListTest)
#include "log_list_test.moc"
