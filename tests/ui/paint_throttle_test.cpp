#include "ui/paint_throttle.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QPointer>
#include <QTest>

struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

class PaintThrottleTest : public QObject {
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
};

QTEST_MAIN(PaintThrottleTest)
#include "paint_throttle_test.moc"
