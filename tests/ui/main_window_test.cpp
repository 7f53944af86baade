// The main window: how it opens, the tab order, the exclusion gate, the focus
// border, whole jobs through it, and the two helpers it shows the job's state with.
#include <QCheckBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>

#include "ui/platform.h"
#include "ui/scaled_progress_bar.h"
#include "window_bench.h"

class MainWindowTest : public QObject {
    Q_OBJECT

    WindowBench bench_;

    QWidget& window() const { return bench_.main(); }

    QList<bool> frames_enabled() const {
        return {control(window(), "fm_change")->isEnabled(),
                control(window(), "fm_set")->isEnabled()};
    }

    QByteArray content(const char* name) const {
        QFile file(bench_.path(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }

    bool job_running() const {
        return control<QTimer>(window(), "timer1")->isActive() ||
               control<QTimer>(window(), "timer2")->isActive();
    }

    QStringList framed_fields() const {
        QStringList framed;
        for (const char* name : {"txt_source", "txt_except", "txt_change"}) {
            if (bench_.field(name)->hasFrame()) {
                framed << QString::fromLatin1(name);
            }
        }
        return framed;
    }

  private slots:
    void init() {
        QVERIFY(bench_.set_up({u"changes.txt=cat|dog|\r\nsat|sit|\r\n"_s,
                               u"docs/a.txt=The cat sat. Cat concat cats"_s,
                               u"docs/b.txt=cat\r\nsat\r\n"_s, u"docs/c.txt=cat sat"_s,
                               u"docs/d.txt=tomcat sat"_s}));
    }
    void cleanup() { bench_.tear_down(); }

    void window_as_it_opens() {
        // A fixed size, given in twips (15 to the pixel), in the middle of the screen's free
        // area, with a close box only; the focus and its frame in the first field.
        const QPoint off =
            window().geometry().center() - window().screen()->availableGeometry().center();
        QCOMPARE(window().size(), QSize(5475, 3915) / 15);
        QVERIFY(window().minimumSize() == window().maximumSize() && off.manhattanLength() <= 2);
        QCOMPARE(window().windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
                 Qt::WindowCloseButtonHint);
        QCOMPARE(bench_.focus(), u"txt_source"_s);
        QCOMPARE(framed_fields(), QStringList{u"txt_source"_s});
        // Matching as the window opens: case matched, not whole words only.
        QVERIFY(control<QCheckBox>(window(), "chk_dxx")->isChecked() &&
                !control<QCheckBox>(window(), "chk_qzpp")->isChecked());
    }

    void tab_cycle_data() {
        QTest::addColumn<QString>("source_text");
        QTest::addColumn<QString>("cycle");
        const QString all =
            u"cm_choosedir cm_choosefile txt_except cm_except txt_change cm_change "
            "chk_dxx chk_qzpp cm_start ls_fileinfo ls_status txt_source"_s;
        QTest::newRow("exclusion open") << u"/srv/docs*;"_s << all;
        QTest::newRow("exclusion closed")
            << QString() << QString(all).remove(u"txt_except cm_except "_s);
    }

    // Tab goes round the enabled controls; only the field with the focus has a frame, and it
    // keeps it when another window takes the activation.
    void tab_cycle() {
        QFETCH(QString, source_text);
        QFETCH(QString, cycle);
        bench_.field("txt_source")->setText(source_text);
        QStringList visited;
        while (visited.size() <= cycle.count(u' ')) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << bench_.focus();
            QCOMPARE(framed_fields().join(u' '),
                     visited.back().startsWith(u"txt_") ? visited.back() : QString());
        }
        QCOMPARE(visited.join(u' '), cycle);
        QFocusEvent deactivated(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(bench_.field("txt_source"), &deactivated);
        QCOMPARE(framed_fields(), QStringList{u"txt_source"_s});
    }

    void exclusion_gate() {
        QLineEdit* except = bench_.field("txt_except");
        except->setText(u"/srv/docs/old.txt;"_s);
        // Open and shut in turn, so that a gate that does not run fails.
        for (const auto& [text, open] : {std::pair{u"/srv/a.txt;/srv/docs*;"_s, true},
                                         {u"/srv/a.txt;/srv/b.txt;"_s, false},
                                         {u"**"_s, true},
                                         {u"/srv/docs*"_s, false},
                                         {u"/a*b*"_s, true},
                                         {QString(), false}}) {
            bench_.field("txt_source")->setText(text);
            QCOMPARE(except->isEnabled(), open);
            QCOMPARE(control(window(), "cm_except")->isEnabled(), open);
        }
        QCOMPARE(except->text(), u"/srv/docs/old.txt;"_s);  // closing the gate keeps the text
    }

    void whole_job() {
        bench_.fill(u"@/docs/*;|@/docs/c.txt;|@/changes.txt"_s);
        QLineEdit* source = bench_.field("txt_source");
        control<QCheckBox>(window(), "chk_qzpp")->setChecked(true);
        control<QCheckBox>(window(), "chk_dxx")->setChecked(false);

        bench_.click("cm_start");
        QCOMPARE(frames_enabled(), QList<bool>({false, false}));

        // While the job runs the inputs stay locked, and a click on the start button starts nothing
        // (a new start would empty the log and ask the clock again).
        bool checked_while_running = false;
        const QDeadlineTimer deadline(20000);
        while (job_running()) {
            QVERIFY2(!deadline.hasExpired(), "the job does not end");
            QApplication::processEvents();
            const auto lines = items(window(), "ls_status").size();
            if (!checked_while_running && lines >= 4 && job_running()) {
                QCOMPARE(frames_enabled(), QList<bool>({false, false}));
                bench_.click("cm_start");
                QTest::keyClicks(source, u"x"_s);
                QCOMPARE(items(window(), "ls_status").size(), lines);
                QCOMPARE(bench_.clock_calls, lines);
                QCOMPARE(source->text(), bench_.expand(u"@/docs/*;"_s));
                checked_while_running = true;
            }
        }
        QVERIFY(checked_while_running);

        // Whole words, case ignored; c.txt is left out.
        QCOMPARE(content("docs/a.txt"), "The dog sit. dog concat cats");
        QCOMPARE(content("docs/b.txt"), "dog\r\nsit\r\n");
        QCOMPARE(content("docs/c.txt"), "cat sat");
        QCOMPARE(content("docs/d.txt"), "tomcat sit");
        QCOMPARE(items(window(), "ls_status"),
                 bench_
                     .expand(u"正在为替换做准备，请稍候--#1|完成对替换内容来源的读取--#2|"
                             "完成对除去文件列表的读取--#3|完成替换的准备工作，即将开始替换--#4|"
                             "完成文件@/docs/a.txt的替换--#5|完成文件@/docs/b.txt的替换--#6|"
                             "跳过了文件@/docs/c.txt的替换--#7|完成文件@/docs/d.txt的替换--#8|"
                             "完成了对所有文件的替换--#9"_s)
                     .split(u'|'));
        QCOMPARE(items(window(), "ls_fileinfo"),
                 QStringList(
                     {u"类型--文件夹/文件"_s, u"包含文件--4"_s, u"除去文件--1"_s, u"大小--1kb"_s}));
        // 28 + 10 + 10 bytes worked on with two entries each, after a start at 100.
        const auto* bar = control<QProgressBar>(window(), "progressbar");
        QCOMPARE(bar->maximum(), 48 * 2 + 100);
        QCOMPARE(bar->value(), bar->maximum());

        QCOMPARE(frames_enabled(), QList<bool>({true, true}));
        QCOMPARE(bench_.field("txt_except")->text(), QString());
        QCOMPARE(QApplication::focusWidget(), source);
        QVERIFY(source->hasFrame());

        // A start without targets is refused with a box; it empties the log and the bar.
        bench_.fill(u"|/srv/b.txt;|@/changes.txt"_s);
        // Close the modal box from the loop it runs; the guard cancels the timer if none comes.
        QString seen;
        QObject guard;
        QTimer::singleShot(0, &guard, [&seen] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                seen = box->text();
                box->reject();
            }
        });
        bench_.click("cm_start");

        QCOMPARE(seen, u"请选择要替换的文件和替换来源"_s);
        QVERIFY(items(window(), "ls_status").isEmpty() && items(window(), "ls_fileinfo").isEmpty());
        QCOMPARE(bar->value(), 0);
        QCOMPARE(bench_.clock_calls, 9);
        QCOMPARE(frames_enabled(), QList<bool>({true, true}));
        QCOMPARE(bench_.fields(), bench_.expand(u"|/srv/b.txt;|@/changes.txt"_s));
    }

    void progress_bar_scale() {
        // The job's doubles, beyond int on a fixed scale; refused values change nothing.
        wendrel::ui::ScaledProgressBar bar;
        const auto shown = [&bar] { return QList<int>{bar.maximum(), bar.value()}; };
        const int scale = wendrel::ui::ScaledProgressBar::kScaledRange;
        QVERIFY(bar.set_maximum(4e9) && bar.set_progress(1e9));
        QVERIFY(!bar.set_progress(4.1e9) && !bar.set_progress(-1) && !bar.set_progress(qQNaN()));
        QVERIFY(!bar.set_maximum(0) && !bar.set_maximum(qInf()));
        QCOMPARE(shown(), QList<int>({scale, scale / 4}));
        QVERIFY(bar.set_maximum(10));  // a lower maximum brings the value down with it
        QCOMPARE(shown(), QList<int>({10, 10}));
    }

    void time_without_zone() {
        namespace platform = wendrel::ui::platform;
        QCOMPARE(platform::without_time_zone(u"tHH'h't mm 'o''clock'\u202Ftttt"_s),
                 u"HH'h'mm 'o''clock'"_s);
        const QString now = QString::fromStdString(platform::local_time_text());
        QVERIFY2(!now.contains(QDateTime::currentDateTime().timeZoneAbbreviation()),
                 qPrintable(now));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
