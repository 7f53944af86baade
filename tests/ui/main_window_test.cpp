// The main window: how it opens, the tab order round the exclusion gate, the focus frame, a
// whole job through it, and the progress bar it shows the job's state with.
#include <QCheckBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>

#include "ui/scaled_progress_bar.h"
#include "window_bench.h"

class MainWindowTest : public QObject {
    Q_OBJECT

    std::optional<WindowBench> bench_;

    QWidget& window() const { return *bench_->window; }

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
               control<QTimer>(window(), "timer2")->isActive();
    }

    QString framed_fields() const {
        QStringList framed;
        for (const char* name : WindowBench::kFields) {
            framed << (bench_->field(name)->hasFrame() ? QString::fromLatin1(name) : QString());
        }
        return framed.join(u' ').simplified();
    }

  private slots:
    void init() {
        QVERIFY(bench_.emplace().set_up({u"changes.txt=cat|dog|\r\nsat|sit|\r\n"_s,
                                         u"docs/a.txt=The cat sat. Cat concat cats"_s,
                                         u"docs/c.txt=cat sat"_s}));
    }
    void cleanup() { bench_.reset(); }

    void opens_then_tabs_round_the_exclusion_gate() {
        // A fixed size in twips (15 to the pixel), centred in the free area, a close box only.
        const QPoint off =
            window().geometry().center() - window().screen()->availableGeometry().center();
        QCOMPARE(window().size(), QSize(5475, 3915) / 15);
        QVERIFY(window().minimumSize() == window().maximumSize() && off.manhattanLength() <= 2);
        QCOMPARE(window().windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
                 Qt::WindowCloseButtonHint);
        QLineEdit* except = bench_->field("txt_except");
        QVERIFY(bench_->fields() == u"||"_s && !except->isEnabled());
        QCOMPARE(bench_->focus() + u' ' + framed_fields(), u"txt_source txt_source"_s);
        QVERIFY(control<QCheckBox>(window(), "chk_dxx")->isChecked() &&
                !control<QCheckBox>(window(), "chk_qzpp")->isChecked());

        // Tab goes round the enabled controls, and only the field with the focus has a frame.
        // The gate opens and shuts in turn, so that one that does not run fails.
        except->setText(u"/srv/docs/old.txt;"_s);
        const QString all =
            u"cm_choosedir cm_choosefile txt_except cm_except txt_change cm_change "
            "chk_dxx chk_qzpp cm_start ls_fileinfo ls_status txt_source"_s;
        for (const auto& [text, open] : {std::pair{u"/srv/a.txt;/srv/docs*;"_s, true},
                                         {u"/srv/a.txt;/srv/b.txt;"_s, false},
                                         {u"**"_s, true},
                                         {u"/srv/docs*"_s, false}}) {
            bench_->field("txt_source")->setText(text);
            const QString cycle = open ? all : QString(all).remove(u"txt_except cm_except "_s);
            QStringList visited;
            while (visited.size() <= cycle.count(u' ')) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                visited << bench_->focus();
                QCOMPARE(framed_fields(),
                         visited.back().startsWith(u"txt_") ? visited.back() : QString());
            }
            QCOMPARE(visited.join(u' '), cycle);
        }
        QCOMPARE(except->text(), u"/srv/docs/old.txt;"_s);  // closing the gate keeps the text
        // Another window taking the activation leaves the frame where it is.
        QFocusEvent deactivated(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(bench_->field("txt_source"), &deactivated);
        QCOMPARE(framed_fields(), u"txt_source"_s);
    }

    void whole_job() {
        bench_->fill(u"@/docs/*;|@/docs/c.txt;|@/changes.txt"_s);
        QLineEdit* source = bench_->field("txt_source");
        control<QCheckBox>(window(), "chk_qzpp")->setChecked(true);
        control<QCheckBox>(window(), "chk_dxx")->setChecked(false);
        bench_->click("cm_start");

        // While it runs the inputs stay locked, and a click on the start button starts nothing
        // (a new start would empty the log and ask the clock again).
        bool checked_while_running = false;
        const QDeadlineTimer deadline(20000);
        while (job_running()) {
            QVERIFY2(!deadline.hasExpired(), "the job does not end");
            QApplication::processEvents();
            const int lines = control<QListWidget>(window(), "ls_status")->count();
            if (!checked_while_running && lines >= 4 && job_running()) {
                QCOMPARE(frames_enabled(), 0);
                bench_->click("cm_start");
                QTest::keyClicks(source, u"x"_s);
                QCOMPARE(control<QListWidget>(window(), "ls_status")->count(), lines);
                QCOMPARE(bench_->clock_calls, lines);
                QCOMPARE(source->text(), bench_->expand(u"@/docs/*;"_s));
                checked_while_running = true;
            }
        }
        QVERIFY(checked_while_running);

        // Whole words, case ignored; c.txt is left out.
        QFile a(bench_->path(u"docs/a.txt"_s));
        QVERIFY(a.open(QIODevice::ReadOnly));
        QCOMPARE(a.readAll(), "The dog sit. dog concat cats");
        QCOMPARE(
            items("ls_status"),
            bench_->expand(u"正在为替换做准备，请稍候--#1|完成对替换内容来源的读取--#2|"
                           "完成对除去文件列表的读取--#3|完成替换的准备工作，即将开始替换--#4|"
                           "完成文件@/docs/a.txt的替换--#5|跳过了文件@/docs/c.txt的替换--#6|"
                           "完成了对所有文件的替换--#7|"
                           "统计：改动了1个文件，未改动0个，跳过1个，失败0个，共替换3处--#8"_s));
        QCOMPARE(items("ls_fileinfo"), u"类型--文件夹/文件|包含文件--2|除去文件--1|大小--1kb"_s);
        // 28 bytes worked on with two entries, after a start at 100.
        const auto* bar = control<QProgressBar>(window(), "progressbar");
        QCOMPARE(QList<int>({bar->value(), bar->maximum()}), QList<int>({156, 156}));
        QCOMPARE(frames_enabled(), 2);
        QCOMPARE(bench_->fields(), bench_->expand(u"@/docs/*;||@/changes.txt"_s));
        QCOMPARE(bench_->focus() + u' ' + framed_fields(), u"txt_source txt_source"_s);

        // A start without targets is refused with a box; it empties the log and the bar.
        bench_->fill(u"|/srv/b.txt;|@/changes.txt"_s);
        QString seen;
        QObject guard;  // cancels the timer if no box comes
        QTimer::singleShot(0, &guard, [&seen] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen = box->text();
                box->reject();
            }
        });
        bench_->click("cm_start");
        QCOMPARE(seen, u"请选择要替换的文件和替换来源"_s);
        QVERIFY(items("ls_status").isEmpty() && items("ls_fileinfo").isEmpty());
        QCOMPARE(QList<int>({bar->value(), bench_->clock_calls}), QList<int>({0, 8}));
        QCOMPARE(frames_enabled(), 2);
        QCOMPARE(bench_->fields(), bench_->expand(u"|/srv/b.txt;|@/changes.txt"_s));
    }

    // Esc reaches the window though the frames with the focus are disabled; closing the
    // window stops a job the same way. Either way the file is wholly old or wholly new.
    void escape_or_closing_stops_the_job() {
        bench_->fill(u"@/docs/a.txt;||@/changes.txt"_s);
        QFile a(bench_->path(u"docs/a.txt"_s));
        const QStringList whole = {u"The cat sat. Cat concat cats"_s,
                                   u"The dog sit. Cat concat dogs"_s};
        bench_->click("cm_start");
        QVERIFY(job_running());
        QWidget* focused = QApplication::focusWidget();
        QTest::keyClick(focused ? focused : &window(), Qt::Key_Escape);
        QVERIFY(!job_running());
        QVERIFY2(items("ls_status").contains(u"|已停止--#"_s), qPrintable(items("ls_status")));
        QVERIFY(items("ls_status").section(u'|', -1).startsWith(u"统计：改动了"_s));
        QCOMPARE(frames_enabled(), 2);
        QVERIFY(a.open(QIODevice::ReadOnly) && whole.contains(QString::fromUtf8(a.readAll())));
        a.close();

        bench_->click("cm_start");
        QVERIFY(job_running());
        window().close();
        QVERIFY(!job_running());
        QVERIFY(items("ls_status").contains(u"|已停止--#"_s));
        QVERIFY(a.open(QIODevice::ReadOnly) && whole.contains(QString::fromUtf8(a.readAll())));
        QCOMPARE(QDir(bench_->path(u"docs"_s)).entryList(QDir::Files),
                 QStringList({u"a.txt"_s, u"c.txt"_s}));
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
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
