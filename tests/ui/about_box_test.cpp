// fm_about, opened by a click on img_about: how it looks, and the ways it goes away.
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include "chooser_bench.h"

using namespace Qt::Literals::StringLiterals;

class AboutBoxTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup() { bench_.tear_down(); }
    void opens();
    void closes_on_any_key_data();
    void closes_on_any_key();
    void closes_when_main_window_is_activated();

  private:
    QWidget* open();
    ChooserBench bench_;
};

void AboutBoxTest::init() {
    QVERIFY(bench_.set_up({}));
}

QWidget* AboutBoxTest::open() {
    QTest::mouseClick(control(bench_.main(), "img_about"), Qt::LeftButton);
    QWidget* about = open_window("fm_about");
    return about && wait_active(about) ? about : nullptr;
}

void AboutBoxTest::opens() {
    QWidget* about = open();
    QVERIFY(about);
    QCOMPARE(about->windowTitle(), u"Wendrel V.Demo"_s);
    QCOMPARE(about->windowType(), Qt::Tool);
    QVERIFY(!about->parentWidget());
    QVERIFY(
        !(about->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(about->size(), QSize(2715, 1395) / 15);
    QCOMPARE(about->minimumSize(), about->maximumSize());
    const QPoint off_centre =
        about->geometry().center() - about->screen()->availableGeometry().center();
    QVERIFY(off_centre.manhattanLength() <= 2);

    const auto* text = control<QPushButton>(*about, "Command1");
    QVERIFY(text && !text->isEnabled());
    QCOMPARE(text->geometry(), about->rect());
    const QStringList lines = text->text().split(u'\n');
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.front(), u"WendrelV.Demo"_s);

    // The main window stays usable, a click into the box keeps it, and a second click on
    // the picture brings the open box forward instead of opening another.
    QVERIFY(bench_.main().isEnabled());
    QTest::mouseClick(about, Qt::LeftButton);
    QTest::mouseClick(control(bench_.main(), "img_about"), Qt::LeftButton);
    QCOMPARE(open_window("fm_about"), about);
    QCOMPARE(QApplication::activeWindow(), about);
    bench_.field("txt_source")->setText(u"still usable"_s);
    QCOMPARE(bench_.field("txt_source")->text(), u"still usable"_s);
}

void AboutBoxTest::closes_on_any_key_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Enter") << int(Qt::Key_Return) << int(Qt::NoModifier);
    QTest::newRow("Esc") << int(Qt::Key_Escape) << int(Qt::NoModifier);
    QTest::newRow("space") << int(Qt::Key_Space) << int(Qt::NoModifier);
    QTest::newRow("a letter") << int(Qt::Key_A) << int(Qt::NoModifier);
    QTest::newRow("Ctrl+Alt+F4") << int(Qt::Key_F4) << int(Qt::ControlModifier | Qt::AltModifier);
    QTest::newRow("Shift alone") << int(Qt::Key_Shift) << int(Qt::NoModifier);
}

void AboutBoxTest::closes_on_any_key() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    for (int opening = 0; opening < 2; ++opening) {  // and it opens again afterwards
        QPointer<QWidget> about = open();
        QVERIFY(about);
        QTest::keyClick(about, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTRY_VERIFY(!about);
        QVERIFY(!open_window("fm_about"));
    }
}

void AboutBoxTest::closes_when_main_window_is_activated() {
    QPointer<QWidget> about = open();
    QVERIFY(about);
    bench_.main().activateWindow();
    QTRY_VERIFY(!about);
    QVERIFY(open());
}

QTEST_MAIN(AboutBoxTest)
#include "about_box_test.moc"
