#include "ui/paint_throttle.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QPointer>
#include <QTest>

namespace {

// Counts the paint events of the widgets it watches.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

}  // namespace

class PaintThrottleTest : public QObject {
    Q_OBJECT

  private slots:
    // A burst of changes paints about once per frame, holds no content back, and its last
    // change is painted when the frame is over (or at once on flush).
    void burst_paints_once_per_frame_and_the_last_change_is_shown() {
        for (const bool flush : {false, true}) {
            // Inside a window, as in the main window: the window's own painting goes on.
            QWidget window;
            window.resize(320, 140);
            QListWidget list(&window);
            list.resize(300, 120);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            PaintCounter counter;
            list.viewport()->installEventFilter(&counter);
            constexpr int kFrameMs = 400;
            wendrel::ui::PaintThrottle throttle(&list, kFrameMs);

            QElapsedTimer burst;
            burst.start();
            constexpr int kChanges = 60;
            for (int i = 0; i < kChanges; ++i) {
                list.addItem(QString::number(i));
                throttle.changed();
                QCoreApplication::processEvents();
            }
            const auto frames = burst.elapsed() / kFrameMs + 1;
            QCOMPARE(list.count(), kChanges);
            QVERIFY2(counter.paints <= frames + 1,
                     qPrintable(QString::number(counter.paints) + " paints in a burst"));
            if (burst.elapsed() >= kFrameMs) {
                QSKIP("the machine was too slow to hold the burst within one frame");
            }
            QVERIFY(!list.updatesEnabled());

            const int before = counter.paints;
            if (flush) {
                throttle.flush();
                QVERIFY(list.updatesEnabled());
            }
            QTRY_VERIFY_WITH_TIMEOUT(list.updatesEnabled() && counter.paints > before, 5000);
        }
    }

    void throttle_goes_with_its_widget() {
        auto* list = new QListWidget;
        const QPointer<QObject> throttle = new wendrel::ui::PaintThrottle(list, 1000);
        delete list;
        QVERIFY(!throttle);
    }
};

QTEST_MAIN(PaintThrottleTest)
#include "paint_throttle_test.moc"
