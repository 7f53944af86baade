// fm_choosefile on its own: the hand-back by mode, the ways of closing it and where the focus
// goes, its keys, its hint texts, and how its three lists follow each other.
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QtTest>

#include "chooser_bench.h"
#include "ui/drive_list.h"
#include "ui/file_chooser.h"
#include "ui/file_list.h"
#include "ui/folder_list.h"

using namespace Qt::Literals::StringLiterals;
using wendrel::ui::DriveList;
using wendrel::ui::FileChooser;
using wendrel::ui::FileList;
using wendrel::ui::FolderList;

namespace {

const QString kRefreshHint = u"Press F5 to refresh"_s;

// Counts the presses of one key that reach a window, whichever control they started at.
class KeyCounter : public QObject {
  public:
    explicit KeyCounter(int key) : key_(key) {}
    int count = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == key_) {
            ++count;
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    int key_;
};

}  // namespace

class FileChooserTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void hand_back_data();
    void hand_back();
    void closing_data();
    void closing();
    void chosen_file_survives_folder_change();
    void keys_data();
    void keys();
    void lists_follow_each_other();

  private:
    FileChooser* open(const QString& caption);
    FolderList& dir() const { return *control<FolderList>(*chooser_, "dir"); }
    FileList& file() const { return *control<FileList>(*chooser_, "file"); }
    DriveList& drive() const { return *control<DriveList>(*chooser_, "drive"); }
    QString chosen() const { return control<QLabel>(*chooser_, "lb_file")->text(); }
    void choose(const QString& name) { click_row(file(), row_with_text(file(), name)); }
    int folder_row(const QString& path) const { return ::folder_row(dir(), path); }
    void open_folder_by_mouse(const QString& path) { double_click_row(dir(), folder_row(path)); }
    QStringList hints() const;

    ChooserBench bench_;
    QPointer<FileChooser> chooser_;
};

void FileChooserTest::init() {
    QVERIFY(bench_.set_up({u"docs/sub/"_s, u"docs/a.txt"_s, u"docs/b.txt"_s, u"other/z.txt"_s,
                           u"vol/v.txt"_s, u"top.txt"_s}));
}

void FileChooserTest::cleanup() {
    delete chooser_;
    bench_.tear_down();
}

// As the openers do it, with the folder "vol" of the tree standing in for a second volume.
FileChooser* FileChooserTest::open(const QString& caption) {
    delete chooser_;
    chooser_ = new FileChooser(bench_.hand_back(), [this] {
        return QStringList{u"/"_s, bench_.path(u"vol"_s), bench_.path(u"gone"_s)};
    });
    chooser_->show();
    chooser_->setWindowTitle(caption);
    bench_.main().setEnabled(false);
    chooser_->activateWindow();
    return wait_active(chooser_) ? chooser_.data() : nullptr;
}

QStringList FileChooserTest::hints() const {
    return {dir().toolTip(), file().toolTip(), drive().toolTip()};
}

void FileChooserTest::hand_back_data() {
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("before");  // txt_source, txt_except, txt_change
    QTest::addColumn<QStringList>("picks");   // the file clicked in each opening; "" is none
    QTest::addColumn<QStringList>("after");   // "@" stands for the folder docs

    const QString target = FileChooser::kTargetMode.toString();
    const QString exclusion = FileChooser::kExclusionMode.toString();
    const QString content = FileChooser::kContentMode.toString();
    const QStringList empty = {{}, {}, {}};
    const QStringList ab = {u"a.txt"_s, u"b.txt"_s};
    QTest::newRow("target mode appends")
        << target << empty << ab << QStringList{u"@/a.txt;@/b.txt;"_s, {}, {}};
    QTest::newRow("typed text without ; runs into the item")
        << target << QStringList{u"typed"_s, {}, {}} << QStringList{u"a.txt"_s}
        << QStringList{u"typed@/a.txt;"_s, {}, {}};
    QTest::newRow("exclusion mode appends")
        << exclusion << QStringList{u"@*;"_s, u"old;"_s, {}} << ab
        << QStringList{u"@*;"_s, u"old;@/a.txt;@/b.txt;"_s, {}};
    QTest::newRow("content mode replaces")
        << content << QStringList{{}, {}, u"old.txt"_s} << ab << QStringList{{}, {}, u"@/b.txt"_s};
    QTest::newRow("no file chosen")
        << target << QStringList{u"x;"_s, u"y;"_s, u"z"_s} << QStringList{QString()}
        << QStringList{u"x;"_s, u"y;"_s, u"z"_s};
    QTest::newRow("no mode set") << u"Choose File"_s << empty << ab << empty;
    QTest::newRow("a caption that is nearly a mode")
        << target + u' ' << empty << QStringList{u"a.txt"_s} << empty;
}

void FileChooserTest::hand_back() {
    QFETCH(QString, caption);
    QFETCH(QStringList, before);
    QFETCH(QStringList, picks);
    QFETCH(QStringList, after);

    const char* fields[] = {"txt_source", "txt_except", "txt_change"};
    const QString docs = bench_.path(u"docs"_s);
    for (int i = 0; i < 3; ++i) {
        bench_.field(fields[i])->setText(QString(before[i]).replace(u'@', docs));
    }
    for (const QString& pick : picks) {
        QVERIFY(open(caption));
        QVERIFY(chooser_->open_folder(docs));
        if (!pick.isEmpty()) {
            choose(pick);
            QCOMPARE(chosen(), docs + u'/' + pick);
        }
        QTest::mouseClick(control(*chooser_, "cm_ok"), Qt::LeftButton);
        QTRY_VERIFY(!chooser_);
        QVERIFY(bench_.main().isEnabled());
    }
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(bench_.field(fields[i])->text(), QString(after[i]).replace(u'@', docs));
    }
    // Writing txt_source ran its change handling: the gate follows the new text.
    QCOMPARE(bench_.field("txt_except")->isEnabled(),
             bench_.field("txt_source")->text().contains(u"*;"_s));
}

void FileChooserTest::closing_data() {
    QTest::addColumn<QString>("source");  // txt_source before
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("handed_back");
    QTest::addColumn<QString>("focus");
    QTest::newRow("OK") << QString() << u"ok"_s << true << u"txt_change"_s;
    QTest::newRow("keys: pick, then Enter for OK")
        << QString() << u"enter"_s << true << u"txt_change"_s;
    QTest::newRow("double-click on the file")
        << QString() << u"double-click"_s << true << u"txt_change"_s;
    QTest::newRow("Esc, source empty") << QString() << u"esc"_s << false << u"txt_source"_s;
    QTest::newRow("Shift+Esc, source filled")
        << u"x;"_s << u"shift-esc"_s << false << u"txt_change"_s;
    QTest::newRow("close box, source empty") << QString() << u"close"_s << false << u"txt_source"_s;
    QTest::newRow("close box, source filled") << u"x;"_s << u"close"_s << false << u"txt_change"_s;
}

void FileChooserTest::closing() {
    QFETCH(QString, source);
    QFETCH(QString, how);
    QFETCH(bool, handed_back);
    QFETCH(QString, focus);

    bench_.field("txt_source")->setText(source);
    // The focus starts elsewhere, so that a rule that does nothing fails.
    control(bench_.main(), "chk_dxx")->setFocus();
    QVERIFY(open(FileChooser::kTargetMode.toString()));
    QVERIFY(chooser_->open_folder(bench_.path(u"docs"_s)));
    if (how == u"enter"_s) {
        // Moving the highlight with the keyboard picks a file as a click does.
        choose(u"b.txt"_s);
        QTest::keyClick(&file(), Qt::Key_Up);
    } else {
        choose(u"a.txt"_s);
    }
    QCOMPARE(chosen(), bench_.path(u"docs/a.txt"_s));
    if (how == u"ok"_s) {
        QTest::mouseClick(control(*chooser_, "cm_ok"), Qt::LeftButton);
    } else if (how == u"enter"_s) {
        QTest::keyClick(&file(), Qt::Key_Return);
    } else if (how == u"double-click"_s) {
        double_click_row(file(), row_with_text(file(), u"a.txt"_s));
    } else if (how.endsWith(u"esc"_s)) {
        QTest::keyClick(&file(), Qt::Key_Escape,
                        how == u"esc"_s ? Qt::NoModifier : Qt::ShiftModifier);
    } else {
        chooser_->close();
    }
    QTRY_VERIFY(!chooser_);
    QVERIFY(bench_.main().isEnabled());
    QCOMPARE(bench_.field("txt_source")->text(),
             handed_back ? source + bench_.path(u"docs/a.txt;"_s) : source);
    QCOMPARE(bench_.main_focus(), focus);
    QTRY_COMPARE(QApplication::activeWindow(), &bench_.main());
}

void FileChooserTest::chosen_file_survives_folder_change() {
    QVERIFY(open(FileChooser::kTargetMode.toString()));
    QVERIFY(chooser_->open_folder(bench_.path(u"docs"_s)));
    choose(u"b.txt"_s);
    open_folder_by_mouse(bench_.path(QString()));
    open_folder_by_mouse(bench_.path(u"other"_s));
    QCOMPARE(dir().path(), bench_.path(u"other"_s));
    QCOMPARE(file().path(), bench_.path(u"other"_s));
    QCOMPARE(file().item(0)->text(), u"z.txt"_s);
    QCOMPARE(chosen(), bench_.path(u"docs/b.txt"_s));
    QTest::mouseClick(control(*chooser_, "cm_ok"), Qt::LeftButton);
    QTRY_VERIFY(!chooser_);
    QCOMPARE(bench_.field("txt_source")->text(), bench_.path(u"docs/b.txt;"_s));
}

void FileChooserTest::keys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("rereads");
    QTest::newRow("F5") << int(Qt::Key_F5) << int(Qt::NoModifier) << true;
    QTest::newRow("Ctrl+F5") << int(Qt::Key_F5) << int(Qt::ControlModifier) << true;
    QTest::newRow("F4") << int(Qt::Key_F4) << int(Qt::NoModifier) << false;
}

void FileChooserTest::keys() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, rereads);

    QVERIFY(open(FileChooser::kTargetMode.toString()));
    QCOMPARE(QApplication::focusWidget(), &dir());  // where the focus is when it opens
    QCOMPARE(hints(), QStringList(3, kRefreshHint));
    QVERIFY(chooser_->open_folder(bench_.path(u"docs"_s)));
    choose(u"a.txt"_s);
    click_row(dir(), 0);
    const QStringList hints_before = hints();
    QCOMPARE(hints_before, QStringList({dir().item_path(0), u"a.txt"_s, kRefreshHint}));

    QVERIFY(QDir(bench_.path(u"docs"_s)).mkdir(u"new"_s));
    QVERIFY(QFile(bench_.path(u"docs/new.txt"_s)).open(QIODevice::WriteOnly));
    KeyCounter reached_window(key);
    chooser_->installEventFilter(&reached_window);
    for (QWidget* focus : {static_cast<QWidget*>(&file()), static_cast<QWidget*>(&dir())}) {
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    }
    // Both presses went on from the control to the window: the chooser took neither.
    QCOMPARE(reached_window.count, 2);
    QVERIFY(chooser_ && chooser_->isVisible());
    QCOMPARE(row_with_text(file(), u"new.txt"_s) >= 0, rereads);
    QCOMPARE(folder_row(bench_.path(u"docs/new"_s)) >= 0, rereads);
    QCOMPARE(chosen(), bench_.path(u"docs/a.txt"_s));
    QCOMPARE(hints(), hints_before);
}

void FileChooserTest::lists_follow_each_other() {
    QVERIFY(open(FileChooser::kContentMode.toString()));
    QCOMPARE(drive().drive(), u"/"_s);

    // Into another volume: the file list and the drive list follow, and the drive's change
    // sets its hint.
    open_folder_by_mouse(bench_.path(u"vol"_s));
    QCOMPARE(dir().path(), bench_.path(u"vol"_s));
    QCOMPARE(file().item(0)->text(), u"v.txt"_s);
    QCOMPARE(drive().drive(), bench_.path(u"vol"_s));
    QCOMPARE(drive().currentText(), bench_.path(u"vol"_s));
    QCOMPARE(drive().toolTip(), bench_.path(u"vol"_s));

    // A picked volume that cannot be read changes nothing.
    drive().setFocus();
    QTest::keyClick(&drive(), Qt::Key_Down);
    QCOMPARE(drive().drive(), bench_.path(u"vol"_s));
    QCOMPARE(dir().path(), bench_.path(u"vol"_s));

    // Back to the root volume with the drive list: the folder list moves to its root.
    QTest::keyClick(&drive(), Qt::Key_Home);
    QCOMPARE(drive().drive(), u"/"_s);
    QCOMPARE(dir().path(), u"/"_s);
    QCOMPARE(file().path(), u"/"_s);
    QCOMPARE(drive().toolTip(), u"/"_s);
    QCOMPARE(chosen(), QString());
}

QTEST_MAIN(FileChooserTest)
#include "file_chooser_test.moc"
