// The bar takes the job's double maximum and value and shows them in QProgressBar's int steps.
#include <QtTest>
#include <climits>
#include <limits>

#include "ui/scaled_progress_bar.h"

using wendrel::ui::ScaledProgressBar;

class ScaledProgressBarTest : public QObject {
    Q_OBJECT

  private slots:
    void set_data();
    void set();
};

void ScaledProgressBarTest::set_data() {
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("max_taken");
    QTest::addColumn<bool>("value_taken");
    QTest::addColumn<QList<int>>("shown");  // maximum, value

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const int scale = ScaledProgressBar::kScaledRange;
    QTest::newRow("small") << 196.0 << 100.0 << true << true << QList<int>{196, 100};
    QTest::newRow("largest int") << double(INT_MAX) << double(INT_MAX) << true << true
                                 << QList<int>{INT_MAX, INT_MAX};
    QTest::newRow("beyond int") << 4e9 << 1e9 << true << true << QList<int>{scale, scale / 4};
    QTest::newRow("beyond int, full") << 1e15 << 1e15 << true << true << QList<int>{scale, scale};
    QTest::newRow("value above maximum") << 196.0 << 197.0 << true << false << QList<int>{196, 0};
    QTest::newRow("value above huge maximum")
        << 4e9 << 4.1e9 << true << false << QList<int>{scale, 0};
    QTest::newRow("negative value") << 196.0 << -1.0 << true << false << QList<int>{196, 0};
    QTest::newRow("value not a number") << 196.0 << nan << true << false << QList<int>{196, 0};
    QTest::newRow("zero maximum") << 0.0 << 50.0 << false << true << QList<int>{100, 50};
    QTest::newRow("infinite maximum")
        << std::numeric_limits<double>::infinity() << 50.0 << false << true << QList<int>{100, 50};
}

void ScaledProgressBarTest::set() {
    QFETCH(double, max);
    QFETCH(double, value);
    QFETCH(bool, max_taken);
    QFETCH(bool, value_taken);
    QFETCH(QList<int>, shown);

    ScaledProgressBar bar;  // starts at 0 of 100
    QCOMPARE(bar.set_maximum(max), max_taken);
    QCOMPARE(bar.set_progress(value), value_taken);
    QCOMPARE(QList<int>({bar.maximum(), bar.value()}), shown);
    QCOMPARE(bar.maximum_value(), max_taken ? max : 100.0);
    QCOMPARE(bar.progress(), value_taken ? value : 0.0);

    // A lower maximum brings the value down with it.
    QVERIFY(bar.set_maximum(10));
    QCOMPARE(bar.value(), std::min(bar.progress(), 10.0));
    QCOMPARE(bar.progress(), value_taken ? std::min(value, 10.0) : 0.0);
}

QTEST_MAIN(ScaledProgressBarTest)
#include "scaled_progress_bar_test.moc"
