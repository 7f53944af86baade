// The choosers and the about box as the main window's buttons open them: the windows, what
// they hand back to which field, where the focus goes when they close, their lists and keys,
// and the mounted volumes that stand for drives.
#include <QKeySequence>
#include <QWindow>

#include "ui/file_list.h"
#include "ui/folder_list.h"
#include "ui/platform.h"
#include "window_bench.h"

using wendrel::ui::FileList;
using wendrel::ui::FolderList;

class ChooserTest : public QObject {
    Q_OBJECT

    WindowBench bench_;

    /// Clicks the one entry of the list whose text ends in `name`; a double-click as a mouse
    /// makes it: a click, then a press that is a double-click, then its release.
    static bool click(QListWidget& list, const QString& name, int clicks) {
        const QList<QListWidgetItem*> found = list.findItems(name, Qt::MatchEndsWith);
        if (found.size() != 1) {
            return false;
        }
        list.scrollToItem(found.front());
        const QPoint at = list.visualItemRect(found.front()).center();
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
        if (clicks == 2) {
            QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
            QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, at);
        }
        return true;
    }

    /// Works an open chooser as `gesture` says (see choosers_data()); false when the gesture
    /// finds nothing to work on or does not have its effect.
    bool act(QWidget& chooser, const QString& gesture) {
        const QString verb = gesture.section(u':', 0, 0);
        const QString path = bench_.path(gesture.section(u':', 1));
        const QString name = QFileInfo(path).fileName();
        auto* dir = control<FolderList>(chooser, "dir");
        auto* file = control<FileList>(chooser, "file");
        if (verb == u"ok"_s) {
            QTest::mouseClick(control(chooser, "cm_ok"), Qt::LeftButton);
        } else if (verb == u"close"_s) {
            chooser.close();
        } else if (verb == u"open"_s) {
            return click(*dir, name, 2) && dir->path() == path;
        } else if (verb == u"pick"_s || verb == u"double"_s) {
            return click(*file, name, verb == u"pick"_s ? 1 : 2);
        } else {
            const QKeyCombination key = QKeySequence(gesture)[0];
            QTest::keyClick(chooser.focusWidget(), key.key(), key.keyboardModifiers());
        }
        return true;
    }

  private slots:
    void init() {
        QVERIFY(bench_.set_up({u"docs/sub/"_s, u"docs/a.txt"_s, u"docs/b.txt"_s, u"top.txt"_s}));
    }
    void cleanup() { bench_.tear_down(); }

    void choosers_data() {
        QTest::addColumn<QByteArray>("button");
        QTest::addColumn<QString>("before");  // txt_source|txt_except|txt_change; "@" is the tree
        // Scripts of openings apart by ", ", of gestures by blanks: "open:X" (double-click a
        // folder), "pick:F" or "double:F" (click a file), "ok", "close" (the close box), or a
        // key. Paths are in the tree, "" is the tree, where the choosers start.
        QTest::addColumn<QStringList>("openings");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("focus");

        const auto row = [](const char* tag, const char* button, const char* before,
                            const char* openings, const char* after, const char* focus) {
            QTest::newRow(tag) << QByteArray(button) << QString::fromUtf8(before)
                               << QString::fromUtf8(openings).split(u", "_s)
                               << QString::fromUtf8(after) << QString::fromLatin1(focus);
        };
        const char* a_then_b = "open:docs pick:a.txt ok, open:docs pick:b.txt ok";
        row("files: twice, then OK with no file chosen", "cm_choosefile", "||",
            "open:docs pick:a.txt ok, open:docs pick:b.txt ok, open:docs ok",
            "@/docs/a.txt;@/docs/b.txt;||", "txt_change");
        row("files: Esc", "cm_choosefile", "||", "open:docs pick:a.txt Esc", "||", "txt_source");
        row("exclusions: twice", "cm_except", "@*;|old;|", a_then_b,
            "@*;|old;@/docs/a.txt;@/docs/b.txt;|", "txt_change");
        row("content: twice, the second a double-click", "cm_change", "||old.txt",
            "open:docs pick:a.txt ok, open:docs double:b.txt", "||@/docs/b.txt", "txt_source");
        row("folders: double-click opens, then OK", "cm_choosedir", "old;||", "open:docs ok",
            "old;@/docs*;||", "txt_except");
        row("folders: OK, exclusions filled", "cm_choosedir", "|x;|", "ok", "*;|x;|", "txt_change");
        row("folders: close box, exclusions shut", "cm_choosedir", "/a;||", "close", "/a;||",
            "txt_change");
    }

    void choosers() {
        QFETCH(QByteArray, button);
        QFETCH(QString, before);
        QFETCH(QStringList, openings);
        QFETCH(QString, after);
        QFETCH(QString, focus);

        const bool folders = button == "cm_choosedir";
        bench_.fill(before);
        control(bench_.main(), "chk_dxx")->setFocus();  // so that a rule that does nothing fails

        for (const QString& script : openings) {
            bench_.click(button);
            QPointer<QWidget> chooser = open_window(folders ? "fm_choosedir" : "fm_choosefile");
            QVERIFY(wait_active(chooser));
            // A window of its own above the main one, not a child that the disabled main window
            // would disable too.
            QVERIFY(!bench_.main().isEnabled() && chooser->isEnabled() && !chooser->parentWidget());
            QCOMPARE(chooser->windowHandle()->transientParent(), bench_.main().windowHandle());

            for (const QString& gesture : script.split(u' ')) {
                QVERIFY2(chooser && chooser->isVisible(), "closed before its last gesture");
                QVERIFY2(act(*chooser, gesture), qPrintable(gesture));
            }
            QTRY_VERIFY(!chooser);
            QVERIFY(bench_.main().isEnabled());
        }
        QCOMPARE(bench_.fields(), bench_.expand(after));
        QCOMPARE(bench_.focus(), focus);
        QTRY_COMPARE(QApplication::activeWindow(), &bench_.main());
        // The hand-back ran txt_source's change handling: the gate follows the new text.
        QCOMPARE(bench_.field("txt_except")->isEnabled(), bench_.fields().contains(u"*;"_s));
    }

    void about_box_data() {
        QTest::addColumn<QString>("closing");  // a key, or another way it goes away
        for (const char* way : {"Esc", "A", "deactivation"}) {
            QTest::newRow(way) << QString::fromLatin1(way);
        }
    }

    void about_box() {
        QFETCH(QString, closing);
        for (int opening = 0; opening < 2; ++opening) {  // and it opens again after closing
            bench_.click("img_about");
            QPointer<QWidget> about = open_window("fm_about");
            QVERIFY(wait_active(about));
            QVERIFY(!about->parentWidget());
            // The main window stays usable; a click into the box keeps it, and a second click
            // on the picture brings the open box forward instead of opening another.
            QVERIFY(bench_.main().isEnabled());
            QTest::mouseClick(about, Qt::LeftButton);
            bench_.click("img_about");
            QCOMPARE(open_window("fm_about"), about.data());
            QVERIFY(wait_active(about));
            if (closing == u"deactivation"_s) {
                bench_.main().activateWindow();
            } else {
                const QKeyCombination key = QKeySequence(closing)[0];
                QTest::keyClick(about, key.key(), key.keyboardModifiers());
            }
            QTRY_VERIFY(!about);
        }
    }

    void volume_roots() {
        // Real file systems only, "/" first, the rest sorted, each once, blanks unescaped; no
        // kernel interfaces, nothing inside the system trees but removable media.
        const QByteArray table =
            "/dev/b /srv ext4 rw 0 0\n/dev/a / ext4 rw 0 0\nproc /proc proc rw 0 0\ngarbage\n"
            "sysfs /sys sysfs rw 0 0\ncgroup2 /cg cgroup2 rw 0 0\ntmpfs /run tmpfs rw 0 0\n"
            "/dev/c /run/media/USB vfat rw 0 0\n/dev/d /my\\040disk ext4 rw 0 0\n/dev/b /srv ext4 "
            "rw 0 0\n";
        QCOMPARE(wendrel::ui::platform::volume_roots(table),
                 QStringList({u"/"_s, u"/my disk"_s, u"/run/media/USB"_s, u"/srv"_s}));
        // A file in the root folder gets one separator, like a file anywhere else.
        QCOMPARE(wendrel::ui::platform::join_path(u"/"_s, u"a.txt"_s), u"/a.txt"_s);
        QCOMPARE(wendrel::ui::platform::join_path(u"/srv"_s, u"a.txt"_s), u"/srv/a.txt"_s);
    }
};

QTEST_MAIN(ChooserTest)
#include "chooser_test.moc"
