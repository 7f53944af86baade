// fm_choosedir on its own: the chosen folder follows mouse releases over the folder list only,
// OK appends it with "*;", and closing puts the focus where the rule says.
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

#include "chooser_bench.h"
#include "ui/dir_chooser.h"
#include "ui/drive_list.h"
#include "ui/folder_list.h"

using namespace Qt::Literals::StringLiterals;
using wendrel::ui::DirChooser;
using wendrel::ui::DriveList;
using wendrel::ui::FolderList;

class DirChooserTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void chosen_folder_data();
    void chosen_folder();
    void two_openings_append_two_items();
    void closing_data();
    void closing();

  private:
    bool open();
    FolderList& dir() const { return *control<FolderList>(*chooser_, "dir"); }
    DriveList& drive() const { return *control<DriveList>(*chooser_, "drive"); }
    int folder_row(const QString& path) const { return ::folder_row(dir(), path); }
    void click_ok() { QTest::mouseClick(control(*chooser_, "cm_ok"), Qt::LeftButton); }

    ChooserBench bench_;
    QPointer<DirChooser> chooser_;
};

void DirChooserTest::init() {
    QVERIFY(bench_.set_up({u"docs/sub/"_s, u"other/"_s, u"vol/inner/"_s}));
}

void DirChooserTest::cleanup() {
    delete chooser_;
    bench_.tear_down();
}

// As the opener does it, with the folder "vol" of the tree standing in for a second volume.
bool DirChooserTest::open() {
    chooser_ = new DirChooser(bench_.hand_back(), [this] {
        return QStringList{u"/"_s, bench_.path(u"vol"_s)};
    });
    chooser_->show();
    bench_.main().setEnabled(false);
    chooser_->activateWindow();
    return wait_active(chooser_);
}

void DirChooserTest::chosen_folder_data() {
    QTest::addColumn<QStringList>("gestures");  // "open X", "click X", "right-click X",
                                                // "key-open X", "drive X"; X in the tree
    QTest::addColumn<QString>("item");          // appended to txt_source; "@" is the tree
    QTest::newRow("OK at once") << QStringList() << u"*;"_s;
    QTest::newRow("double-click opens, then OK") << QStringList{u"open docs"_s} << u"@/docs*;"_s;
    QTest::newRow("into another volume") << QStringList{u"open vol"_s} << u"@/vol*;"_s;
    QTest::newRow("single click on a folder that is not open")
        << QStringList{u"click docs"_s} << u"@*;"_s;
    QTest::newRow("any button's release") << QStringList{u"right-click other"_s} << u"@*;"_s;
    QTest::newRow("opened with the keyboard, not chosen")
        << QStringList{u"key-open docs"_s} << u"*;"_s;
    QTest::newRow("keyboard after a click keeps the click's folder")
        << QStringList{u"click docs"_s, u"key-open other"_s} << u"@*;"_s;
    QTest::newRow("a drive change is no choice")
        << QStringList{u"open docs"_s, u"drive vol"_s} << u"@/docs*;"_s;
    QTest::newRow("a drive change alone") << QStringList{u"drive vol"_s} << u"*;"_s;
}

void DirChooserTest::chosen_folder() {
    QFETCH(QStringList, gestures);
    QFETCH(QString, item);

    bench_.field("txt_source")->setText(u"old;"_s);
    QVERIFY(open());
    QCOMPARE(QApplication::focusWidget(), &drive());
    for (const QString& gesture : gestures) {
        const QString what = gesture.section(u' ', 0, 0);
        const QString path = bench_.path(gesture.section(u' ', 1));
        if (what == u"drive"_s) {
            QVERIFY(drive().set_drive(path));
            QCOMPARE(dir().path(), path);
            continue;
        }
        const int row = folder_row(path);
        QVERIFY2(row >= 0, qPrintable(gesture));
        if (what == u"open"_s) {
            double_click_row(dir(), row);
            QCOMPARE(dir().path(), path);
            QCOMPARE(drive().drive(), drive().volume_of(path));  // follows into other volumes
        } else if (what == u"key-open"_s) {
            dir().setCurrentRow(row);
            QTest::keyClick(&dir(), Qt::Key_Return);
            QCOMPARE(dir().path(), path);
        } else {
            click_row(dir(), row, what == u"click"_s ? Qt::LeftButton : Qt::RightButton);
            QCOMPARE(dir().highlighted_path(), path);
        }
    }
    click_ok();
    QTRY_VERIFY(!chooser_);
    QCOMPARE(bench_.field("txt_source")->text(),
             u"old;"_s + QString(item).replace(u'@', bench_.path(QString())));
    // The item's "*;" opens the exclusion controls through txt_source's change handling.
    QVERIFY(bench_.field("txt_except")->isEnabled());
}

void DirChooserTest::two_openings_append_two_items() {
    for (const QString& name : {u"docs"_s, u"other"_s}) {
        QVERIFY(open());
        double_click_row(dir(), folder_row(bench_.path(name)));
        click_ok();
        QTRY_VERIFY(!chooser_);
    }
    QCOMPARE(bench_.field("txt_source")->text(),
             bench_.path(u"docs*;"_s) + bench_.path(u"other*;"_s));
}

void DirChooserTest::closing_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("except");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("focus");
    QTest::newRow("close box, source empty") << QString() << QString() << false << u"txt_source"_s;
    QTest::newRow("OK, exclusions empty") << QString() << QString() << true << u"txt_except"_s;
    QTest::newRow("OK, both filled") << QString() << u"x;"_s << true << u"txt_change"_s;
    QTest::newRow("close box, both filled") << u"/a*;"_s << u"x;"_s << false << u"txt_change"_s;
    // With no folder item the exclusion field is disabled and cannot take the focus.
    QTest::newRow("close box, exclusions shut")
        << u"/a;"_s << QString() << false << u"txt_change"_s;
}

void DirChooserTest::closing() {
    QFETCH(QString, source);
    QFETCH(QString, except);
    QFETCH(bool, ok);
    QFETCH(QString, focus);

    bench_.field("txt_source")->setText(source);
    bench_.field("txt_except")->setText(except);
    control(bench_.main(), "chk_dxx")->setFocus();
    QVERIFY(open());
    // Esc and F5 are no keys of this window.
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_F5}) {
        QTest::keyClick(&drive(), key);
        QVERIFY(chooser_ && chooser_->isVisible());
    }
    ok ? click_ok() : static_cast<void>(chooser_->close());
    QTRY_VERIFY(!chooser_);
    QVERIFY(bench_.main().isEnabled());
    QCOMPARE(bench_.field("txt_source")->text(), ok ? source + u"*;"_s : source);
    QCOMPARE(bench_.main_focus(), focus);
}

QTEST_MAIN(DirChooserTest)
#include "dir_chooser_test.moc"
