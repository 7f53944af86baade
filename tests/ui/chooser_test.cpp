// The choosers and the about box as the main window's buttons open them, the drives and the time.
#include <QWindow>

#include "ui/platform.h"
#include "window_bench.h"

class ChooserTest : public QObject {
    Q_OBJECT

    std::optional<WindowBench> bench_;

    /// The one visible top-level window with this name, or null when there is none or several.
    static QWidget* open_window(const char* name) {
        QList<QWidget*> shown = QApplication::topLevelWidgets();
        shown.removeIf([name](const QWidget* window) {
            return !window->isVisible() || window->objectName() != QLatin1StringView(name);
        });
        return shown.size() == 1 ? shown.front() : nullptr;
    }

    /// Works an open chooser as `gesture` says (see choosers_data()); false when it fails.
    static bool act(QWidget& chooser, const QString& gesture) {
        const QString verb = gesture.section(u':', 0, 0);
        if (verb == u"ok"_s) {
            QTest::mouseClick(control(chooser, "cm_ok"), Qt::LeftButton);
        } else if (verb == u"close"_s) {
            chooser.close();
        } else if (verb == u"Esc"_s) {
            QTest::keyClick(chooser.focusWidget(), Qt::Key_Escape);
        } else {
            // The one entry that ends in the name, clicked as a mouse does.
            auto* list = control<QListWidget>(chooser, verb == u"open"_s ? "dir" : "file");
            const auto found = list->findItems(gesture.section(u':', 1), Qt::MatchEndsWith);
            if (found.size() != 1) {
                return false;
            }
            list->scrollToItem(found.front());
            const QPoint at = list->visualItemRect(found.front()).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            if (verb != u"pick"_s) {
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
                QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at);
            }
        }
        return true;
    }

  private slots:
    void init() {
        QVERIFY(bench_.emplace().set_up(
            {u"docs/sub/"_s, u"docs/a.txt"_s, u"docs/b.txt"_s, u"top.txt"_s}));
    }
    void cleanup() { bench_.reset(); }

    void choosers_data() {
        // The button, fields before, openings, fields after, focus. Fields as txt_source|
        // txt_except|txt_change, "@" for the tree; openings split by ", ", each a script of
        // gestures: "open:X" (double-click a folder), "pick:F" or "double:F", "ok", "close", "Esc".
        QTest::addColumn<QStringList>("row");
        const auto row = [](const char* tag, const QStringList& row) { QTest::newRow(tag) << row; };
        row("files: twice, then OK with no file chosen",
            {"cm_choosefile", "||",
             "open:docs pick:a.txt ok, open:docs pick:b.txt ok, open:docs ok",
             "@/docs/a.txt;@/docs/b.txt;||", "txt_change"});
        row("files: Esc", {"cm_choosefile", "||", "open:docs pick:a.txt Esc", "||", "txt_source"});
        row("exclusions: twice",
            {"cm_except", "@*;|old;|", "open:docs pick:a.txt ok, open:docs pick:b.txt ok",
             "@*;|old;@/docs/a.txt;@/docs/b.txt;|", "txt_change"});
        row("content: twice, the second a double-click",
            {"cm_change", "||old.txt", "open:docs pick:a.txt ok, open:docs double:b.txt",
             "||@/docs/b.txt", "txt_source"});
        row("folders: double-click opens, then OK",
            {"cm_choosedir", "old;||", "open:docs ok", "old;@/docs*;||", "txt_except"});
        row("folders: OK, exclusions filled",
            {"cm_choosedir", "|x;|", "ok", "*;|x;|", "txt_change"});
        row("folders: close box, exclusions shut",
            {"cm_choosedir", "/a;||", "close", "/a;||", "txt_change"});
    }

    void choosers() {
        QFETCH(QStringList, row);
        const QString &button = row[0], &openings = row[2], &after = row[3], &focus = row[4];
        QWidget& main = *bench_->window;
        bench_->fill(row[1]);
        control(main, "chk_dxx")->setFocus();  // so that a rule that does nothing fails
        for (const QString& script : openings.split(u", "_s)) {
            bench_->click(button.toLatin1().constData());
            QPointer<QWidget> chooser =
                open_window(button == u"cm_choosedir"_s ? "fm_choosedir" : "fm_choosefile");
            QVERIFY(wait_active(chooser));
            // Its own window above the main one, not a child the disabled main window disables.
            QVERIFY(!main.isEnabled() && chooser->isEnabled() && !chooser->parentWidget());
            QCOMPARE(chooser->windowHandle()->transientParent(), main.windowHandle());
            for (const QString& gesture : script.split(u' ')) {
                QVERIFY2(chooser && chooser->isVisible(), "closed before its last gesture");
                QVERIFY2(act(*chooser, gesture), qPrintable(gesture));
            }
            QTRY_VERIFY(!chooser);
            QVERIFY(main.isEnabled());
        }
        QCOMPARE(bench_->fields(), bench_->expand(after));
        QCOMPARE(bench_->focus(), focus);
        QTRY_COMPARE(QApplication::activeWindow(), &main);
        // The hand-back ran txt_source's change handling: the gate follows the new text.
        QCOMPARE(bench_->field("txt_except")->isEnabled(), bench_->fields().contains(u"*;"_s));
    }

    void about_box() {
        // A key closes it, and so does another window taking the activation; it opens again.
        for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_A, Qt::Key_unknown}) {
            bench_->click("img_about");
            QPointer<QWidget> about = open_window("fm_about");
            QVERIFY(wait_active(about));
            // Not a child; a click into it keeps it, a click on the picture brings it forward.
            QVERIFY(!about->parentWidget() && bench_->window->isEnabled());
            QTest::mouseClick(about, Qt::LeftButton);
            bench_->click("img_about");
            QCOMPARE(open_window("fm_about"), about.data());
            QVERIFY(wait_active(about));
            if (key == Qt::Key_unknown) {
                bench_->window->activateWindow();
            } else {
                QTest::keyClick(about, key);
            }
            QTRY_VERIFY(!about);
        }
    }

    void platform_helpers() {
        using namespace wendrel::ui::platform;
        // Real file systems, "/" first, the rest sorted, each once; of the system trees only media.
        const QByteArray table =
            "/dev/b /srv ext4 rw 0 0\n/dev/a / ext4 rw 0 0\nproc /proc proc rw 0 0\ngarbage\n"
            "sysfs /sys sysfs rw 0 0\ncgroup2 /cg cgroup2 rw 0 0\ntmpfs /run tmpfs rw 0 0\n"
            "/dev/c /run/media/USB vfat rw 0 0\n/dev/d /my\\040disk ext4 rw 0 0\n"
            "/dev/b /srv ext4 rw 0 0\n";
        QCOMPARE(volume_roots(table),
                 QStringList({u"/"_s, u"/my disk"_s, u"/run/media/USB"_s, u"/srv"_s}));
        QCOMPARE(join_path(u"/"_s, u"a.txt"_s) + join_path(u"/srv"_s, u"a.txt"_s),
                 u"/a.txt/srv/a.txt"_s);
        QCOMPARE(without_time_zone(u"tHH'h't mm 'o''clock'\u202Ftttt"_s), u"HH'h'mm 'o''clock'"_s);
        const QString now = QString::fromStdString(local_time_text());
        QVERIFY2(!now.contains(QDateTime::currentDateTime().timeZoneAbbreviation()),
                 qPrintable(now));
    }
};

QTEST_MAIN(ChooserTest)
#include "chooser_test.moc"
