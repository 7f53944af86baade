// The main window, a whole job through it, its progress bar and status log, the choosers, the
// about box, and the drives.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QStringListModel>
#include <QStyleOption>
#include <QTextBlock>
#include <QTextEdit>
#include <QTranslator>
#include <QTreeWidget>
#include <QWindow>
#include <QtTest>
#include <memory>
#include <string>

#include "core/failure_reason.h"
#include "ui/main_window.h"
#include "ui/paint_throttle.h"
#include "ui/platform.h"
#include "ui/scaled_progress_bar.h"
#include "ui/status_log.h"

using namespace Qt::Literals::StringLiterals;

template <typename Control = QWidget>
Control* control(const QWidget& window, const char* name) {
    return window.findChild<Control*>(QString::fromLatin1(name));
}

/// QTest::qWaitForWindowActive() returns too early for a window kept above another.
inline bool wait_active(QWidget* window) {
    return window && QTest::qWaitFor([window] { return window->isActiveWindow(); });
}

struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

/// Each test: a new main window whose clock numbers its calls, in a tree that is the current
/// folder.
class WindowTest : public QObject {
    Q_OBJECT

    static constexpr const char* kFields[] = {"txt_source", "txt_except", "txt_change"};
    QTemporaryDir temp_;
    QTemporaryDir config_;  // the user's configuration folder, where the fields' values are kept
    std::unique_ptr<wendrel::ui::MainWindow> window_;
    int clock_calls_ = 0;

    QWidget& window() const { return *window_; }
    QString path(const QString& relative) const { return QDir(temp_.path()).filePath(relative); }
    /// A file's bytes, opened afresh: a job puts a new file in the old one's place.
    QByteArray read(const QString& relative) const {
        QFile file(path(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }
    /// `text` with every "@" standing for the tree's folder.
    QString expand(const QString& text) const { return QString(text).replace(u'@', path({})); }
    QLineEdit* field(const char* name) const { return control<QLineEdit>(*window_, name); }
    /// The texts of txt_source, txt_except and txt_change, joined by "|".
    QString fields() const {
        return field("txt_source")->text() + u'|' + field("txt_except")->text() + u'|' +
               field("txt_change")->text();
    }
    void fill(const QString& texts) const {
        for (int i = 0; i < 3; ++i) {
            field(kFields[i])->setText(expand(texts).section(u'|', i, i));
        }
    }
    void click(const char* name) const {
        QTest::mouseClick(control(*window_, name), Qt::LeftButton);
    }
    QString focus() const {
        return window_->focusWidget() ? window_->focusWidget()->objectName() : u"(none)"_s;
    }

    /// The lines of a list, joined by "|".
    QString items(const char* list_name) const {
        QStringList texts;
        const auto* list = control<QListWidget>(window(), list_name);
        for (int row = 0; row < list->count(); ++row) {
            texts << list->item(row)->text();
        }
        return texts.join(u'|');
    }

    int frames_enabled() const {
        return control(window(), "fm_change")->isEnabled() +
               control(window(), "fm_set")->isEnabled();
    }

    bool job_running() const {
        return control<QTimer>(window(), "timer1")->isActive() ||
               control<QTimer>(window(), "timer2")->isActive() ||
               control<QTimer>(window(), "undo_timer")->isActive();
    }

    QString framed_fields() const {
        QStringList framed;
        for (const char* name : kFields) {
            framed << (field(name)->hasFrame() ? QString::fromLatin1(name) : QString());
        }
        return framed.join(u' ').simplified();
    }

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
        } else if (verb == u"dropdownEsc"_s) {
            auto* drive = control<QComboBox>(chooser, "drive");
            drive->showPopup();
            QTest::keyClick(drive->view(), Qt::Key_Escape);
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

    /// Runs a job and waits for its end.
    void run_job() {
        click("cm_start");
        QTRY_VERIFY_WITH_TIMEOUT(!job_running(), 20000);
    }

    /// What `field` offers from its recalled values on Down.
    QStringList offered(const char* name) const {
        QTest::keyClick(field(name), Qt::Key_Down);
        const QCompleter* completer = field(name)->completer();
        if (!completer || !completer->popup()->isVisible()) {
            return {};
        }
        completer->popup()->hide();
        return static_cast<QStringListModel*>(completer->model())->stringList();
    }

  private slots:
    void initTestCase() {
        QVERIFY(config_.isValid() && qputenv("XDG_CONFIG_HOME", config_.path().toUtf8()));
    }

    void init() {
        QVERIFY(temp_.isValid() && QDir().mkpath(path(u"docs/sub"_s)) &&
                QDir::setCurrent(temp_.path()));
        for (const auto& [name, text] : {std::pair{u"changes.txt"_s, "cat|dog|\r\nsat|sit|\r\n"},
                                         {u"docs/a.txt"_s, "The cat sat. Cat concat cats"},
                                         {u"docs/c.txt"_s, "cat sat"}}) {
            QFile file(path(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) > 0);
        }
        clock_calls_ = 0;
        window_ = std::make_unique<wendrel::ui::MainWindow>(
            [this] { return "#" + std::to_string(++clock_calls_); });
        window_->show();
        window_->activateWindow();
        QVERIFY(wait_active(window_.get()));
    }
    void cleanup() { window_.reset(); }  // takes any open chooser with it

    void opens_then_tabs_round_the_exclusion_gate() {
        // A fixed size in twips (15 to the pixel), centred in the free area, a close box only.
        const QPoint off =
            window().geometry().center() - window().screen()->availableGeometry().center();
        QCOMPARE(window().size(), QSize(5475, 3915) / 15);
        QVERIFY(window().minimumSize() == window().maximumSize() && off.manhattanLength() <= 2);
        QCOMPARE(window().windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
                 Qt::WindowCloseButtonHint);
        QLineEdit* except = field("txt_except");
        QVERIFY(fields() == u"||"_s && !except->isEnabled());
        QCOMPARE(focus() + u' ' + framed_fields(), u"txt_source txt_source"_s);
        QVERIFY(control<QCheckBox>(window(), "chk_dxx")->isChecked() &&
                !control<QCheckBox>(window(), "chk_qzpp")->isChecked());

        // Tab goes round the enabled controls, only the focused field framed; the gate alternates.
        except->setText(u"/srv/docs/old.txt;"_s);
        const QString all =
            u"cm_choosedir cm_choosefile txt_except cm_except txt_change cm_change "
            "chk_dxx chk_qzpp cm_start ls_fileinfo ls_status txt_source"_s;
        for (const auto& [text, open] : {std::pair{u"/srv/a.txt;/srv/docs*;"_s, true},
                                         {u"/srv/a.txt;/srv/b.txt;"_s, false},
                                         {u"**"_s, true},
                                         {u"/srv/docs*"_s, false}}) {
            field("txt_source")->setText(text);
            const QString cycle = open ? all : QString(all).remove(u"txt_except cm_except "_s);
            QStringList visited;
            while (visited.size() <= cycle.count(u' ')) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                visited << focus();
                QCOMPARE(framed_fields(),
                         visited.back().startsWith(u"txt_") ? visited.back() : QString());
            }
            QCOMPARE(visited.join(u' '), cycle);
        }
        QCOMPARE(except->text(), u"/srv/docs/old.txt;"_s);  // closing the gate keeps the text
        // Another window taking the activation leaves the frame where it is.
        QFocusEvent deactivated(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(field("txt_source"), &deactivated);
        QCOMPARE(framed_fields(), u"txt_source"_s);
    }

    void whole_job() {
        fill(u"@/docs/*;|@/docs/c.txt;|@/changes.txt"_s);
        QLineEdit* source = field("txt_source");
        control<QCheckBox>(window(), "chk_qzpp")->setChecked(true);
        control<QCheckBox>(window(), "chk_dxx")->setChecked(false);
        const auto read_a = [this] { return read(u"docs/a.txt"_s); };
        const QByteArray before = read_a();
        click("cm_start");

        // While it runs the inputs stay locked, and a start click starts nothing.
        bool checked_while_running = false;
        const QDeadlineTimer deadline(20000);
        while (job_running()) {
            QVERIFY2(!deadline.hasExpired(), "the job does not end");
            QApplication::processEvents();
            const int lines = control<QListWidget>(window(), "ls_status")->count();
            if (!checked_while_running && lines >= 4 && job_running()) {
                QCOMPARE(frames_enabled(), 0);
                click("cm_start");
                QTest::keyClicks(source, u"x"_s);
                QCOMPARE(control<QListWidget>(window(), "ls_status")->count(), lines);
                QCOMPARE(clock_calls_, lines);
                QCOMPARE(source->text(), expand(u"@/docs/*;"_s));
                checked_while_running = true;
            }
        }
        QVERIFY(checked_while_running);

        // Whole words, case ignored; c.txt is left out.
        QCOMPARE(read_a(), "The dog sit. dog concat cats");
        // The last line says how to take the job back.
        QCOMPARE(items("ls_status").section(u'|', 0, 7),
                 expand(u"正在为替换做准备，请稍候--#1|完成对替换内容来源的读取--#2|"
                        "完成对除去文件列表的读取--#3|完成替换的准备工作，即将开始替换--#4|"
                        "完成文件@/docs/a.txt的替换--#5|跳过了文件@/docs/c.txt的替换--#6|"
                        "完成了对所有文件的替换--#7|"
                        "统计：改动了1个文件，未改动0个，跳过1个，失败0个，共替换3处--#8"_s));
        QVERIFY(QRegularExpression(u"^这次替换可以撤销，记录编号[-0-9]+--#9$"_s)
                    .match(items("ls_status").section(u'|', 8))
                    .hasMatch());
        QCOMPARE(items("ls_fileinfo"), u"类型--文件夹/文件|包含文件--2|除去文件--1|大小--1kb"_s);
        // 28 bytes worked on with two entries, after a start at 100.
        const auto* bar = control<QProgressBar>(window(), "progressbar");
        QCOMPARE(QList<int>({bar->value(), bar->maximum()}), QList<int>({156, 156}));
        QCOMPARE(frames_enabled(), 2);
        QCOMPARE(fields(), expand(u"@/docs/*;||@/changes.txt"_s));
        QCOMPARE(focus() + u' ' + framed_fields(), u"txt_source txt_source"_s);

        // A start without targets is refused with a box; it empties the log and the bar.
        fill(u"|/srv/b.txt;|@/changes.txt"_s);
        QString seen;
        QObject guard;  // cancels the timer if no box comes
        QTimer::singleShot(0, &guard, [&seen] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen = box->text();
                box->reject();
            }
        });
        click("cm_start");
        QCOMPARE(seen, u"请选择要替换的文件和替换来源"_s);
        QVERIFY(items("ls_status").isEmpty() && items("ls_fileinfo").isEmpty());
        QCOMPARE(QList<int>({bar->value(), clock_calls_}), QList<int>({0, 9}));
        QCOMPARE(frames_enabled(), 2);
        QCOMPARE(fields(), expand(u"|/srv/b.txt;|@/changes.txt"_s));

        // Right after a job, Ctrl+Z in a field takes the job back; once the user has typed, it
        // is the field's own undo again.
        QTest::keyClick(field("txt_source"), Qt::Key_Z, Qt::ControlModifier);
        while (job_running()) {
            QApplication::processEvents();
        }
        QCOMPARE(read_a(), before);
        QVERIFY2(items("ls_status").contains(expand(u"完成文件@/docs/a.txt的恢复--#"_s)),
                 qPrintable(items("ls_status")));
        QTest::keyClicks(field("txt_source"), u"x"_s);
        const QString log = items("ls_status");
        QTest::keyClick(field("txt_source"), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(field("txt_source")->text(), QString());  // the typed x taken back
        QCOMPARE(items("ls_status"), log);
    }

    // Shift+click on 开始！ opens a preview of every target that changes no file, showing the first
    // changed file's diff; 开始替换 then runs that job in the window. Esc closes it, stopping its
    // run.
    void preview_then_start() {
        QFile none(path(u"docs/sub/n.txt"_s));  // where no other test looks
        QVERIFY(none.open(QIODevice::WriteOnly) && none.write("none\n") > 0);
        none.close();
        fill(u"@/docs/sub/n.txt;@/docs/*;@/gone.txt;|@/docs/c.txt;|@/changes.txt"_s);
        QTest::mouseClick(control(window(), "cm_start"), Qt::LeftButton, Qt::ShiftModifier);
        QPointer<QDialog> preview = window_->findChild<QDialog*>(u"fm_preview"_s);
        QVERIFY(preview && preview->isVisible() && preview->isModal());
        auto* rows = control<QTreeWidget>(*preview, "ls_targets");
        const auto row_texts = [rows] {
            QStringList texts;
            for (QTreeWidgetItemIterator it(rows); *it; ++it) {
                texts << ((*it)->text(0) + u' ' + (*it)->text(1) + u' ' + (*it)->text(2)).trimmed();
            }
            return texts.join(u'|');
        };
        QTRY_VERIFY(control<QLabel>(*preview, "lbl_status")->text().startsWith(u"统计"_s));
        const QString reason = QString::fromStdString(wendrel::core::reason_line(ENOENT));
        QCOMPARE(row_texts(),
                 expand(u"@/gone.txt 会失败|"_s + reason.trimmed() +
                        u"|@/docs/a.txt 会改动 4|@/docs/c.txt 跳过|@/docs/sub/n.txt 不会改动 0"_s));
        auto* diff = control<QTextEdit>(*preview, "txt_diff");
        const QString a_txt = path(u"docs/a.txt"_s);
        QCOMPARE(
            diff->toPlainText(),
            u"--- a"_s + a_txt + u"\n+++ b"_s + a_txt +
                u"\n@@ -1,1 +1,1 @@\n-The cat sat. Cat concat cats\n\\ No newline at end of file\n"
                "+The dog sit. Cat condog dogs\n\\ No newline at end of file"_s);
        const QTextBlock removed = diff->document()->findBlockByNumber(3);
        QVERIFY(removed.blockFormat().background() !=
                removed.next().next().blockFormat().background());
        QCOMPARE(items("ls_status"), QString());
        QCOMPARE(read(u"docs/a.txt"_s), "The cat sat. Cat concat cats");
        QTest::mouseClick(control(*preview, "cm_replace"), Qt::LeftButton);
        QTRY_VERIFY(!preview);
        QTRY_VERIFY(!job_running());
        QCOMPARE(read(u"docs/a.txt"_s), "The dog sit. Cat condog dogs");

        QTest::mouseClick(control(window(), "cm_start"), Qt::LeftButton, Qt::ShiftModifier);
        preview = window_->findChild<QDialog*>(u"fm_preview"_s);
        QVERIFY(preview);
        QTest::keyClick(preview, Qt::Key_Escape);
        QTRY_VERIFY(!preview);
        QVERIFY(!job_running());
    }

    // Closing stops a job, and the window closes once it has ended; the file is wholly old or
    // new. (Esc is stopped_at_random_then_undone's.)
    void closing_stops_the_job() {
        fill(u"@/docs/a.txt;||@/changes.txt"_s);
        const QStringList whole = {u"The cat sat. Cat concat cats"_s,
                                   u"The dog sit. Cat concat dogs"_s};
        click("cm_start");
        QVERIFY(job_running());
        window().close();
        QTRY_VERIFY(!job_running() && !window().isVisible());
        QVERIFY(items("ls_status").contains(u"|已停止--#"_s));
        QVERIFY(whole.contains(QString::fromUtf8(read(u"docs/a.txt"_s))));
        QCOMPARE(QDir(path(u"docs"_s)).entryList(QDir::Files),
                 QStringList({u"a.txt"_s, u"c.txt"_s}));
    }

    // Stopped with Esc at random moments: each file wholly old or new as its line says, the
    // summary counts what was done, and Ctrl+Z then gives every file back.
    void stopped_at_random_then_undone() {
        constexpr int kFiles = 2000;
        QVERIFY(QDir(path({})).mkpath(u"many"_s));
        QByteArrayList before;
        for (int i = 0; i < kFiles; ++i) {
            QFile file(path(u"many/f%1"_s.arg(i)));
            before << QByteArray("the cat ") + QByteArray::number(i);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before.back()) > 0);
        }
        const auto content = [this](int i) { return read(u"many/f%1"_s.arg(i)); };
        const auto wait = [this] {
            QDeadlineTimer deadline(60000);
            while (job_running() && !deadline.hasExpired()) {
                QApplication::processEvents();
            }
            return !job_running();
        };
        QRandomGenerator random(20261207);
        for (int round = 0; round < 20; ++round) {
            fill(u"@/many/*;||@/changes.txt"_s);
            click("cm_start");
            for (int events = random.bounded(3 * kFiles); events > 0 && job_running(); --events) {
                QApplication::processEvents();
            }
            QWidget* focused = QApplication::focusWidget();  // in a frame the job disabled
            QTest::keyClick(focused ? focused : &window(), Qt::Key_Escape);
            QVERIFY(wait());
            const QString log = items("ls_status");
            int done = 0;
            for (int i = 0; i < kFiles; ++i) {
                const bool changed = log.contains(expand(u"|完成文件@/many/f%1的替换--"_s.arg(i)));
                done += changed ? 1 : 0;
                QByteArray expected = before[i];
                QCOMPARE(content(i), changed ? expected.replace("cat", "dog") : before[i]);
            }
            QVERIFY2(log.contains(u"|统计：改动了%1个文件"_s.arg(done)),
                     qPrintable(log.right(300)));
            QCOMPARE(QDir(path(u"many"_s)).count(), uint(kFiles + 2));
            if (done != 0) {
                QTest::keyClick(field("txt_source"), Qt::Key_Z, Qt::ControlModifier);
                QVERIFY(wait());
                for (int i = 0; i < kFiles; ++i) {
                    QCOMPARE(content(i), before[i]);
                }
            }
        }
    }

    void progress_bar_scale() {
        // The job's doubles, beyond int on a fixed scale; refused values change nothing.
        wendrel::ui::ScaledProgressBar bar;
        const int scale = wendrel::ui::ScaledProgressBar::kScaledRange;
        QVERIFY(bar.set_maximum(4e9) && bar.set_progress(1e9));
        QVERIFY(!bar.set_progress(4.1e9) && !bar.set_progress(-1) && !bar.set_progress(qQNaN()));
        QVERIFY(!bar.set_maximum(0) && !bar.set_maximum(qInf()));
        QCOMPARE(QList<int>({bar.maximum(), bar.value()}), QList<int>({scale, scale / 4}));
        QVERIFY(bar.set_maximum(10));  // a lower maximum brings the value down with it
        QCOMPARE(QList<int>({bar.maximum(), bar.value()}), QList<int>({10, 10}));
    }

    void choosers_data() {
        // The button, fields before, openings, fields after, focus. Fields as txt_source|
        // txt_except|txt_change, "@" for the tree; openings split by ", ", each a script of
        // gestures: "open:X" (double-click a folder), "pick:F" or "double:F", "ok", "close", "Esc".
        QTest::addColumn<QStringList>("row");
        const auto row = [](const char* tag, const QStringList& row) { QTest::newRow(tag) << row; };
        row("files: twice, then OK with no file chosen",
            {"cm_choosefile", "||",
             "open:docs pick:a.txt ok, open:docs pick:c.txt ok, open:docs ok",
             "@/docs/a.txt;@/docs/c.txt;||", "txt_change"});
        row("files: Esc", {"cm_choosefile", "||", "open:docs pick:a.txt Esc", "||", "txt_source"});
        row("files: Esc in the open drive list",
            {"cm_choosefile", "||", "open:docs pick:a.txt dropdownEsc", "||", "txt_source"});
        row("exclusions: twice",
            {"cm_except", "@*;|old;|", "open:docs pick:a.txt ok, open:docs pick:c.txt ok",
             "@*;|old;@/docs/a.txt;@/docs/c.txt;|", "txt_change"});
        row("content: twice, the second a double-click",
            {"cm_change", "||old.txt", "open:docs pick:a.txt ok, open:docs double:c.txt",
             "||@/docs/c.txt", "txt_source"});
        row("folders: double-click opens, then OK",
            {"cm_choosedir", "old;||", "open:docs ok", "old;@/docs*;||", "txt_except"});
        row("folders: OK, exclusions filled",
            {"cm_choosedir", "|x;|", "ok", "*;|x;|", "txt_change"});
        row("folders: close box, exclusions shut",
            {"cm_choosedir", "/a;||", "close", "/a;||", "txt_change"});
    }

    void choosers() {
        QFETCH(QStringList, row);
        const QString &button = row[0], &openings = row[2], &after = row[3], &focused = row[4];
        QWidget& main = *window_;
        fill(row[1]);
        control(main, "chk_dxx")->setFocus();  // so that a rule that does nothing fails
        for (const QString& script : openings.split(u", "_s)) {
            click(button.toLatin1().constData());
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
        QCOMPARE(fields(), expand(after));
        QCOMPARE(focus(), focused);
        QTRY_COMPARE(QApplication::activeWindow(), &main);
        // The hand-back ran txt_source's change handling: the gate follows the new text.
        QCOMPARE(field("txt_except")->isEnabled(), fields().contains(u"*;"_s));
    }

    // Drops of files and folders on the fields (field, its text, the dropped names relative to
    // the tree, its text after, "" when refused); the values a job used are offered in a new
    // window; Qt's own texts in the user's language.
    void additions_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QString>("after");
        const auto drop = [](const char* tag, const char* field, const char* before,
                             const QStringList& dropped, const char* after) {
            QTest::newRow(tag) << u"drop"_s << QString::fromLatin1(field)
                               << QString::fromUtf8(before) << dropped << QString::fromUtf8(after);
        };
        drop("source: a file and a folder appended as items", "txt_source", "x;",
             {"docs/a.txt", "docs/sub"}, "x;@/docs/a.txt;@/docs/sub/*;");
        drop("except: files as names, folders passed over", "txt_except", "old;",
             {"docs", "docs/c.txt"}, "old;@/docs/c.txt;");
        drop("except: refused while disabled", "txt_except", "old;", {"docs/c.txt"}, "");
        drop("change: the first file replaces the text", "txt_change", "old.txt",
             {"docs", "changes.txt", "docs/a.txt"}, "@/changes.txt");
        drop("change: a folder alone is refused", "txt_change", "old.txt", {"docs"}, "");
        drop("source: a web address is refused", "txt_source", "", {"https://example.org/a"}, "");
        drop("source: a name holding ';' is passed over", "txt_source", "x;",
             {"docs/a;b.txt", "docs/a.txt"}, "x;@/docs/a.txt;");
        QTest::newRow("recall: newest first, at most 20")
            << u"recall"_s << QString() << QString() << QStringList() << QString();
        QTest::newRow("zh_CN: OK says 确定")
            << u"translation"_s << QString() << QString() << QStringList() << u"确定"_s;
    }

    void additions() {
        QFETCH(QString, kind);
        QFETCH(QString, after);
        if (kind == u"drop"_s) {
            QFETCH(QString, field);
            QFETCH(QString, before);
            QFETCH(QStringList, dropped);
            QLineEdit* target = this->field(field.toLatin1().constData());
            // A folder item opens txt_except for its rows that take the drop.
            this->field("txt_source")
                ->setText(field == u"txt_except"_s && !after.isEmpty() ? expand(u"@/docs/*;"_s)
                                                                       : QString());
            target->setText(before);
            QList<QUrl> urls;
            for (const QString& name : dropped) {
                if (name.contains(u';')) {
                    QFile made(path(name));
                    QVERIFY(made.open(QIODevice::WriteOnly));
                }
                urls << (name.contains(u':') ? QUrl(name) : QUrl::fromLocalFile(path(name)));
            }
            QMimeData data;
            data.setUrls(urls);
            QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &data, Qt::LeftButton, {});
            QApplication::sendEvent(target, &enter);
            QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &data, Qt::LeftButton, {});
            QApplication::sendEvent(target, &drop);
            QCOMPARE(QList<bool>({enter.isAccepted(), drop.isAccepted()}),
                     QList<bool>(2, !after.isEmpty()));
            QCOMPARE(target->text(), after.isEmpty() ? before : expand(after));
            // The drop ran txt_source's change handling like any other write.
            QCOMPARE(this->field("txt_except")->isEnabled(),
                     this->field("txt_source")->text().contains(u"*;"_s));
        } else if (kind == u"recall"_s) {
            QStringList older;
            for (int i = 0; i < 20; ++i) {
                older << u"/old/%1;"_s.arg(i);
            }
            QSettings kept(QSettings::IniFormat, QSettings::UserScope, u"wendrel"_s, u"wendrel"_s);
            kept.remove(u"recall"_s);  // what the other tests' jobs left
            kept.setValue(u"recall/txt_source"_s, older);
            kept.sync();
            fill(u"@/docs/c.txt;||@/changes.txt"_s);
            run_job();
            fill(u"@/docs/a.txt;||@/changes.txt"_s);
            run_job();
            window_ = std::make_unique<wendrel::ui::MainWindow>();
            window_->show();
            QVERIFY(wait_active(window_.get()));
            QCOMPARE(fields(), u"||"_s);
            QCOMPARE(offered("txt_source"),
                     QStringList({expand(u"@/docs/a.txt;"_s), expand(u"@/docs/c.txt;"_s)}) +
                         older.first(18));
            QCOMPARE(offered("txt_change"), QStringList({expand(u"@/changes.txt"_s)}));
            QCOMPARE(offered("txt_except"), QStringList());
            // Typing narrows the offer to the values that begin with the typed text.
            QTest::keyClicks(field("txt_source"), u"/old/1"_s);
            QCOMPARE(field("txt_source")->completer()->completionCount(), 1 + 8);
        } else {
            QTranslator qt_texts;
            if (!wendrel::ui::platform::load_qt_translations(qt_texts, QLocale(u"zh_CN"_s))) {
                QSKIP("Qt's zh_CN catalogue (qt6-translations-l10n) is not installed");
            }
            QApplication::installTranslator(&qt_texts);
            QString seen;
            QObject guard;  // cancels the timer if no box comes
            QTimer::singleShot(0, &guard, [&seen] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    seen = box->text() + u'|' + box->button(QMessageBox::Ok)->text();
                    box->accept();
                }
            });
            click("cm_start");
            QApplication::removeTranslator(&qt_texts);
            QCOMPARE(seen, u"请选择要替换的文件和替换来源|"_s + after);
        }
    }

    // Every caption fits its control in the window's font at 96 and 144 dpi, and a frame's
    // caption stays above the controls in the frame.
    void nothing_cut() {
        fill(u"@/docs/*;|x;|"_s);  // the exclusion controls enabled, as they are in use
        for (const qreal scale : {1.0, 1.5}) {
            for (QWidget* widget : window().findChildren<QWidget*>()) {
                QString text;
                QRect room;
                int below = std::numeric_limits<int>::max();
                QStyle* style = widget->style();
                if (auto* label = qobject_cast<QLabel*>(widget)) {
                    text = label->text();
                    room = label->contentsRect();
                } else if (auto* check = qobject_cast<QCheckBox*>(widget)) {
                    QStyleOptionButton option;
                    option.initFrom(check);
                    option.text = text = check->text();
                    room = style->subElementRect(QStyle::SE_CheckBoxContents, &option, check);
                } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
                    QStyleOptionButton option;
                    option.initFrom(button);
                    option.text = text = button->text();
                    room = style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
                } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
                    QStyleOptionGroupBox option;
                    option.initFrom(frame);
                    option.text = text = frame->title();
                    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
                    room = style->subControlRect(QStyle::CC_GroupBox, &option,
                                                 QStyle::SC_GroupBoxLabel, frame);
                    for (const QWidget* inside :
                         frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                        below = std::min(below, inside->isVisibleTo(frame) ? inside->y() : below);
                    }
                }
                if (text.isEmpty() || !widget->isVisibleTo(&window())) {
                    continue;
                }
                QFont font = widget->font();
                font.setPointSizeF(font.pixelSize() > 0 ? font.pixelSize() * scale * 0.75
                                                        : font.pointSizeF() * scale);
                const QFontMetricsF metrics(font);
                // The "＋" is designed larger than its button's line; its ink has to fit.
                const QRectF ink =
                    text == u"＋"_s ? metrics.tightBoundingRect(text) : metrics.boundingRect(text);
                const QRectF space(QPointF(room.topLeft()) * scale, QSizeF(room.size()) * scale);
                const QString what = widget->objectName() + u' ' + text + u" at "_s +
                                     QString::number(96 * scale) + u" dpi"_s;
                QVERIFY2(ink.width() <= space.width() && ink.height() <= space.height(),
                         qPrintable(what));
                QVERIFY2(space.top() + ink.height() <= below * scale, qPrintable(what));
            }
        }
    }

    void about_box() {
        // A key closes it, and so does another window taking the activation; it opens again.
        for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_A, Qt::Key_unknown}) {
            click("img_about");
            QPointer<QWidget> about = open_window("fm_about");
            QVERIFY(wait_active(about));
            // Not a child; a click into it keeps it, a click on the picture brings it forward.
            QVERIFY(!about->parentWidget() && window_->isEnabled());
            QTest::mouseClick(about, Qt::LeftButton);
            click("img_about");
            QCOMPARE(open_window("fm_about"), about.data());
            QVERIFY(wait_active(about));
            if (key == Qt::Key_unknown) {
                window_->activateWindow();
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

    // A burst paints about once per frame, its last change when the frame ends or at once on flush.
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

    // The log follows its end unless scrolled up, colours failures, copies chosen lines or all.
    void follows_the_job_colours_failures_and_copies() {
        QListWidget list;
        list.resize(300, 80);  // a few lines high, as in the window
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        wendrel::ui::StatusLog log(&list);
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
        log.mark_last(2, wendrel::ui::StatusLog::kFailure);
        QCoreApplication::processEvents();
        QCOMPARE(bar->value(), 3);
        QCOMPARE(list.item(40)->foreground().color(), wendrel::ui::StatusLog::kFailure);
        QCOMPARE(list.item(41)->foreground().color(), wendrel::ui::StatusLog::kFailure);
        QVERIFY(list.item(39)->foreground().color() != wendrel::ui::StatusLog::kFailure);
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

QTEST_MAIN(WindowTest)
#include "window_test.moc"
