// The main window's four choose buttons: which window each opens, in which mode, the main
// window disabled until it closes, the content-source opener's start folder, and a job run
// on a folder and a content file that were both picked with the mouse.
#include <QDeadlineTimer>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <QtTest>

#include "chooser_bench.h"
#include "ui/drive_list.h"
#include "ui/file_list.h"
#include "ui/folder_list.h"

using namespace Qt::Literals::StringLiterals;
using wendrel::ui::DriveList;
using wendrel::ui::FileList;
using wendrel::ui::FolderList;

namespace {

void click(QWidget& window, const char* name) {
    QTest::mouseClick(control(window, name), Qt::LeftButton);
}

}  // namespace

class ChooserOpenersTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup() { bench_.tear_down(); }
    void opens_data();
    void opens();
    void content_start_folder_data();
    void content_start_folder();
    void picked_sources_run_a_job();

  private:
    ChooserBench bench_;
};

void ChooserOpenersTest::init() {
    QVERIFY(bench_.set_up({u"docs/sub/"_s, u"docs/a.txt"_s, u"changes.txt"_s}));
}

void ChooserOpenersTest::opens_data() {
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<QByteArray>("window");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("twips");
    QTest::addColumn<QString>("closing");

    const QSize file_size(2775, 3135);
    const QSize dir_size(2895, 3315);
    const auto row = [](const char* tag, const char* button, const char* window,
                        const QString& caption, QSize twips, const QString& closing) {
        QTest::newRow(tag) << QByteArray(button) << QByteArray(window) << caption << twips
                           << closing;
    };
    row("files, OK", "cm_choosefile", "fm_choosefile", u"选择替换的文件"_s, file_size, u"ok"_s);
    row("files, Esc", "cm_choosefile", "fm_choosefile", u"选择替换的文件"_s, file_size, u"esc"_s);
    row("files, close box", "cm_choosefile", "fm_choosefile", u"选择替换的文件"_s, file_size,
        u"close"_s);
    row("exclusions, Esc", "cm_except", "fm_choosefile", u"选择除去的文件"_s, file_size, u"esc"_s);
    row("content, OK", "cm_change", "fm_choosefile", u"选择替换内容来源"_s, file_size, u"ok"_s);
    row("folder, OK", "cm_choosedir", "fm_choosedir", u"选择目录"_s, dir_size, u"ok"_s);
    row("folder, close box", "cm_choosedir", "fm_choosedir", u"选择目录"_s, dir_size, u"close"_s);
}

void ChooserOpenersTest::opens() {
    QFETCH(QByteArray, button);
    QFETCH(QByteArray, window);
    QFETCH(QString, caption);
    QFETCH(QSize, twips);
    QFETCH(QString, closing);

    auto& main = bench_.main();
    bench_.field("txt_source")->setText(u"/srv/docs*;"_s);  // opens the exclusion button
    click(main, button.constData());
    QPointer<QWidget> chooser = open_window(window.constData());
    QVERIFY(chooser && wait_active(chooser));
    QCOMPARE(chooser->windowTitle(), caption);
    QVERIFY(!main.isEnabled());

    // A window of its own, not a child that the disabled main window would disable too.
    QVERIFY(chooser->isWindow() && chooser->isEnabled() && !chooser->parentWidget());
    QCOMPARE(chooser->windowType(), Qt::Dialog);
    QVERIFY(chooser->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(
        !(chooser->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(chooser->windowHandle()->transientParent(), main.windowHandle());
    QCOMPARE(chooser->size(), twips / 15);
    QCOMPARE(chooser->minimumSize(), chooser->maximumSize());
    const QPoint off_centre =
        chooser->geometry().center() - chooser->screen()->availableGeometry().center();
    QVERIFY(off_centre.manhattanLength() <= 2);
    QCOMPARE(chooser->windowIcon().pixmap(16, 16).toImage(),
             control<QPushButton>(main, "cm_choosedir")->icon().pixmap(16, 16).toImage());

    // The disabled main window opens nothing more.
    for (const char* other : {"cm_choosefile", "cm_choosedir", "cm_except", "cm_change"}) {
        click(main, other);
    }
    QCOMPARE(open_window(window.constData()), chooser.data());

    if (closing == u"ok"_s) {
        click(*chooser, "cm_ok");
    } else if (closing == u"esc"_s) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    } else {
        chooser->close();
    }
    QTRY_VERIFY(!chooser);
    QVERIFY(main.isEnabled());
}

void ChooserOpenersTest::content_start_folder_data() {
    QTest::addColumn<QString>("source");  // "@" is the tree, where the chooser starts
    QTest::addColumn<QString>("start");
    QTest::newRow("empty") << QString() << u"@"_s;
    QTest::newRow("a folder item") << u"@/docs*;"_s << u"@"_s;
    QTest::newRow("a file item") << u"@/docs/a.txt;"_s << u"@"_s;
    QTest::newRow("two items") << u"@/docs;@/docs;"_s << u"@"_s;
    QTest::newRow("a missing folder") << u"@/gone;"_s << u"@"_s;
    QTest::newRow("a typed folder and ;") << u"@/docs;"_s << u"@/docs"_s;
    QTest::newRow("a typed folder and any character") << u"@/docs/subx"_s << u"@/docs/sub"_s;
    QTest::newRow("a relative folder") << u"docs;"_s << u"@/docs"_s;
    QTest::newRow("a character beyond the BMP") << u"@/docs😀"_s << u"@/docs"_s;
}

void ChooserOpenersTest::content_start_folder() {
    QFETCH(QString, source);
    QFETCH(QString, start);
    const QString tree = bench_.path(QString());

    bench_.field("txt_source")->setText(QString(source).replace(u'@', tree));
    click(bench_.main(), "cm_change");
    QWidget* chooser = open_window("fm_choosefile");
    QVERIFY(chooser);
    QCOMPARE(chooser->windowTitle(), u"选择替换内容来源"_s);
    QVERIFY(!bench_.main().isEnabled());
    const QString folder = QString(start).replace(u'@', tree);
    QCOMPARE(control<FolderList>(*chooser, "dir")->path(), folder);
    QCOMPARE(control<FileList>(*chooser, "file")->path(), folder);
    const auto* drive = control<DriveList>(*chooser, "drive");
    QCOMPARE(drive->drive(), drive->volume_of(folder));
    chooser->close();
}

void ChooserOpenersTest::picked_sources_run_a_job() {
    auto write = [&](const char* name, const QByteArray& content) {
        QFile file(bench_.path(QString::fromLatin1(name)));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    };
    QVERIFY(write("docs/a.txt", "the cat sat") && write("changes.txt", "cat|dog|\r\n"));
    auto& main = bench_.main();

    // The folder docs, with the directory chooser.
    click(main, "cm_choosedir");
    QPointer<QWidget> chooser = open_window("fm_choosedir");
    QVERIFY(chooser);
    auto* dir = control<FolderList>(*chooser, "dir");
    double_click_row(*dir, folder_row(*dir, bench_.path(u"docs"_s)));
    click(*chooser, "cm_ok");
    QTRY_VERIFY(!chooser);
    QCOMPARE(bench_.field("txt_source")->text(), bench_.path(u"docs*;"_s));

    // The content file, with the file chooser; it starts where the process is, in the tree.
    click(main, "cm_change");
    chooser = open_window("fm_choosefile");
    QVERIFY(chooser);
    auto* file = control<FileList>(*chooser, "file");
    double_click_row(*file, row_with_text(*file, u"changes.txt"_s));
    QTRY_VERIFY(!chooser);
    QCOMPARE(bench_.field("txt_change")->text(), bench_.path(u"changes.txt"_s));

    click(main, "cm_start");
    const auto* timer1 = control<QTimer>(main, "timer1");
    const auto* timer2 = control<QTimer>(main, "timer2");
    QTRY_VERIFY_WITH_TIMEOUT(!timer1->isActive() && !timer2->isActive(), 20000);
    QFile result(bench_.path(u"docs/a.txt"_s));
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(result.readAll(), QByteArray("the dog sat"));
}

QTEST_MAIN(ChooserOpenersTest)
#include "chooser_openers_test.moc"
