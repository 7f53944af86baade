// Whole jobs driven through the window: the start click, the two timers, the locks while a
// job runs, and the start that the input check refuses.
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <string>

#include "ui/main_window.h"
#include "window_probe.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray read_file(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool write_file(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

}  // namespace

class MainWindowJobTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void whole_job();
    void rejected_start_data();
    void rejected_start();

  private:
    QString path(const char* name) const { return QDir(temp_->path()).filePath(name); }
    void fill(const QString& source, const QString& except, const QString& change);
    void click_start() { QTest::mouseClick(control(*window_, "cm_start"), Qt::LeftButton); }
    bool running() const;

    std::unique_ptr<QTemporaryDir> temp_;
    int clock_calls_ = 0;
    std::unique_ptr<wendrel::ui::MainWindow> window_;
};

void MainWindowJobTest::init() {
    temp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(temp_->isValid() && QDir(temp_->path()).mkdir(u"docs"_s));
    QVERIFY(write_file(path("changes.txt"), "cat|dog|\r\nsat|sit|\r\n"));
    QVERIFY(write_file(path("docs/a.txt"), "The cat sat. Cat concat cats"));
    QVERIFY(write_file(path("docs/b.txt"), "cat\r\nsat\r\n"));
    QVERIFY(write_file(path("docs/c.txt"), "cat sat"));
    QVERIFY(write_file(path("docs/d.txt"), "tomcat sat"));

    // Every status line asks the clock once, so numbered times show the order of the calls.
    clock_calls_ = 0;
    window_ = std::make_unique<wendrel::ui::MainWindow>(
        [this] { return "@" + std::to_string(++clock_calls_); });
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

void MainWindowJobTest::cleanup() {
    window_.reset();
    temp_.reset();
}

void MainWindowJobTest::fill(const QString& source, const QString& except, const QString& change) {
    control<QLineEdit>(*window_, "txt_source")->setText(source);
    control<QLineEdit>(*window_, "txt_except")->setText(except);
    control<QLineEdit>(*window_, "txt_change")->setText(change);
}

bool MainWindowJobTest::running() const {
    return control<QTimer>(*window_, "timer1")->isActive() ||
           control<QTimer>(*window_, "timer2")->isActive();
}

void MainWindowJobTest::whole_job() {
    fill(path("docs/*;"), path("docs/c.txt;"), path("changes.txt"));
    control<QCheckBox>(*window_, "chk_qzpp")->setChecked(true);
    QSignalSpy timer1_ticks(control<QTimer>(*window_, "timer1"), &QTimer::timeout);
    QSignalSpy timer2_ticks(control<QTimer>(*window_, "timer2"), &QTimer::timeout);
    const auto* change_frame = control(*window_, "fm_change");
    const auto* set_frame = control(*window_, "fm_set");
    auto* source = control<QLineEdit>(*window_, "txt_source");

    click_start();
    QVERIFY(control<QTimer>(*window_, "timer1")->isActive());
    QVERIFY(!change_frame->isEnabled() && !set_frame->isEnabled());

    // While the job runs the inputs stay locked, and a click on the start button starts nothing
    // (a new start would empty the log and ask the clock again).
    bool checked_while_running = false;
    const QDeadlineTimer deadline(20000);
    while (running()) {
        QVERIFY2(!deadline.hasExpired(), "the job does not end");
        QApplication::processEvents();
        const auto lines = items(*window_, "ls_status").size();
        if (!checked_while_running && lines >= 4 && running()) {
            QVERIFY(!change_frame->isEnabled() && !set_frame->isEnabled());
            click_start();
            QTest::keyClicks(source, u"x"_s);
            QCOMPARE(items(*window_, "ls_status").size(), lines);
            QCOMPARE(clock_calls_, lines);
            QCOMPARE(source->text(), path("docs/*;"));
            checked_while_running = true;
        }
    }
    QVERIFY(checked_while_running);

    // Whole words, case matched; c.txt is left out.
    QCOMPARE(read_file(path("docs/a.txt")), QByteArray("The dog sit. Cat concat cats"));
    QCOMPARE(read_file(path("docs/b.txt")), QByteArray("dog\r\nsit\r\n"));
    QCOMPARE(read_file(path("docs/c.txt")), QByteArray("cat sat"));
    QCOMPARE(read_file(path("docs/d.txt")), QByteArray("tomcat sit"));
    QCOMPARE(
        items(*window_, "ls_status"),
        QStringList({u"正在为替换做准备，请稍候--@1"_s, u"完成对替换内容来源的读取--@2"_s,
                     u"完成对除去文件列表的读取--@3"_s, u"完成替换的准备工作，即将开始替换--@4"_s,
                     u"完成文件"_s + path("docs/a.txt") + u"的替换--@5"_s,
                     u"完成文件"_s + path("docs/b.txt") + u"的替换--@6"_s,
                     u"跳过了文件"_s + path("docs/c.txt") + u"的替换--@7"_s,
                     u"完成文件"_s + path("docs/d.txt") + u"的替换--@8"_s,
                     u"完成了对所有文件的替换--@9"_s}));
    QCOMPARE(items(*window_, "ls_fileinfo"), QStringList({u"类型--文件夹/文件"_s, u"包含文件--4"_s,
                                                          u"除去文件--1"_s, u"大小--1kb"_s}));
    // 28 + 10 + 10 bytes worked on with two entries each, after a start at 100.
    const auto* bar = control<QProgressBar>(*window_, "progressbar");
    QCOMPARE(bar->maximum(), 48 * 2 + 100);
    QCOMPARE(bar->value(), bar->maximum());
    // One job tick per timer event: three loads and the tick that skips c.txt and ends the
    // job; one entry per tick.
    QCOMPARE(timer1_ticks.count(), 4);
    QCOMPARE(timer2_ticks.count(), 6);

    QVERIFY(change_frame->isEnabled() && set_frame->isEnabled());
    QCOMPARE(control<QLineEdit>(*window_, "txt_except")->text(), QString());
    QCOMPARE(control<QLineEdit>(*window_, "txt_change")->text(), path("changes.txt"));
    QCOMPARE(QApplication::focusWidget(), source);
    QVERIFY(source->hasFrame());
}

void MainWindowJobTest::rejected_start_data() {
    QTest::addColumn<bool>("with_source");
    QTest::addColumn<bool>("with_change");
    QTest::newRow("no targets") << false << true;
    QTest::newRow("no replacement content") << true << false;
    QTest::newRow("nothing") << false << false;
}

void MainWindowJobTest::rejected_start() {
    QFETCH(bool, with_source);
    QFETCH(bool, with_change);

    // A finished job first, so that the rejected start has a log and a bar to reset.
    fill(path("docs/a.txt;"), QString(), path("changes.txt"));
    click_start();
    QTRY_VERIFY_WITH_TIMEOUT(!running(), 20000);
    QCOMPARE(items(*window_, "ls_status").size(), 6);
    const QByteArray a_before = read_file(path("docs/a.txt"));

    fill(with_source ? path("docs/*;") : QString(), path("docs/b.txt;"),
         with_change ? path("changes.txt") : QString());
    // The box is modal: close it from a timer once it is up, and note what it showed.
    QStringList seen;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, this, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box && box->isVisible() && seen.isEmpty()) {
                QAbstractButton* ok = box->button(QMessageBox::Ok);
                seen << box->text() << box->windowTitle() << QString::number(box->icon())
                     << QString::number(box->buttons().size()) << (ok ? u"OK"_s : u"no OK"_s);
                ok ? ok->click() : box->reject();
            }
        }
    });
    poll.start();
    click_start();

    QCOMPARE(seen, QStringList({u"请选择要替换的文件和替换来源"_s, u"Wendrel"_s,
                                QString::number(QMessageBox::NoIcon), u"1"_s, u"OK"_s}));
    QVERIFY(items(*window_, "ls_status").isEmpty() && items(*window_, "ls_fileinfo").isEmpty());
    QCOMPARE(control<QProgressBar>(*window_, "progressbar")->value(), 0);
    QCOMPARE(clock_calls_, 6);
    QVERIFY(control(*window_, "fm_change")->isEnabled() &&
            control(*window_, "fm_set")->isEnabled());
    QVERIFY(!running());
    QCOMPARE(control<QLineEdit>(*window_, "txt_except")->text(), path("docs/b.txt;"));
    QCOMPARE(read_file(path("docs/a.txt")), a_before);
}

QTEST_MAIN(MainWindowJobTest)
#include "main_window_job_test.moc"
