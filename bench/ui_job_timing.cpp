// Times one job of many files through the window (timer ticks, list and progress updates,
// painting on the offscreen platform) against the same job driven by the core alone, and gives
// the time per tick of each. Two jobs: ten entries that match in every file (each file is
// rewritten and synced) and ten entries that match nowhere (every tick is overhead only). A
// bare 0 ms timer on the same event loop shows what the loop alone costs per timeout.
// Usage: wendrel_ui_timing [FILES [BYTES [RUNS]]]   (defaults: 1000 files of 4096 bytes, 3 runs)
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/replace_job.h"
#include "counting_observer.h"
#include "ui/main_window.h"

namespace {

// Ten entries; the sample text below holds the find texts of some of them several times.
const char kMatchingChanges[] =
    "alpha|omega|\r\nbeta|gamma|\r\ndelta|epsilon|\r\nred|blue|\r\ncat|dog|\r\n"
    "north|south|\r\nmissing|found|\r\nold|new|\r\nslow|fast|\r\nbig|small|\r\n";
// Ten entries of which the sample holds none: no file is written back.
const char kAbsentChanges[] =
    "Zq0|Vw0|\r\nZq1|Vw1|\r\nZq2|Vw2|\r\nZq3|Vw3|\r\nZq4|Vw4|\r\n"
    "Zq5|Vw5|\r\nZq6|Vw6|\r\nZq7|Vw7|\r\nZq8|Vw8|\r\nZq9|Vw9|\r\n";
constexpr int kEntries = 10;
const char kSample[] = "alpha beta delta red cat north old slow big words and more words. ";

struct Timing {
    double ms = 0;
    long ticks = 0;
    double us_per_tick() const { return ticks > 0 ? ms * 1000 / static_cast<double>(ticks) : 0; }
};

bool write_file(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool write_targets(const QString& folder, int files, int bytes) {
    QByteArray content;
    while (content.size() < bytes) {
        content += kSample;
    }
    content.truncate(bytes);
    for (int i = 0; i < files; ++i) {
        if (!write_file(QDir(folder).filePath(QStringLiteral("f%1.txt").arg(i, 5, 10, QChar(u'0'))),
                        content)) {
            return false;
        }
    }
    return true;
}

// Ticks are counted from the timers' own timeouts, so the count is what the window ran.
// A hidden window runs the same ticks and updates the same controls but paints nothing, which
// separates the cost of painting from that of the rest of the window.
Timing through_window(const QString& folder, const QString& changes, bool shown) {
    wendrel::ui::MainWindow window;
    window.setVisible(shown);
    QApplication::processEvents();
    window.findChild<QLineEdit*>(QStringLiteral("txt_source"))
        ->setText(folder + QStringLiteral("*;"));
    window.findChild<QLineEdit*>(QStringLiteral("txt_change"))->setText(changes);
    auto* timer1 = window.findChild<QTimer*>(QStringLiteral("timer1"));
    auto* timer2 = window.findChild<QTimer*>(QStringLiteral("timer2"));
    Timing timing;
    QObject::connect(timer1, &QTimer::timeout, &window, [&timing] { ++timing.ticks; });
    QObject::connect(timer2, &QTimer::timeout, &window, [&timing] { ++timing.ticks; });

    QElapsedTimer clock;
    clock.start();
    window.findChild<QPushButton*>(QStringLiteral("cm_start"))->click();
    const QDeadlineTimer deadline(600'000);
    while ((timer1->isActive() || timer2->isActive()) && !deadline.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents);
    }
    timing.ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    return timing;
}

Timing through_core(const QString& folder, const QString& changes, int& failed) {
    wendrel::bench::CountingObserver observer;
    wendrel::core::ReplaceJob job(observer);
    wendrel::core::JobInputs inputs;
    inputs.source = (folder + QStringLiteral("*;")).toStdString();
    inputs.change = changes.toStdString();
    Timing timing;
    QElapsedTimer clock;
    clock.start();
    job.start(inputs);
    while (job.running()) {
        if (job.timer1_on() ? job.tick_timer1() : job.tick_timer2()) {
            ++timing.ticks;
        } else {
            job.wait_for_write_back();
        }
    }
    timing.ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    failed = static_cast<int>(observer.not_completed);
    return timing;
}

// The event loop's own cost: a bare 0 ms timer that does nothing, driven by the same loop as
// the window's job. The window's figures can be no better than this.
Timing bare_timer(long timeouts) {
    QTimer timer;
    timer.setInterval(0);
    Timing timing;
    QObject::connect(&timer, &QTimer::timeout, &timer, [&timing, &timer, timeouts] {
        if (++timing.ticks == timeouts) {
            timer.stop();
        }
    });
    QElapsedTimer clock;
    clock.start();
    timer.start();
    while (timer.isActive()) {
        QApplication::processEvents(QEventLoop::AllEvents);
    }
    timing.ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    return timing;
}

Timing median(std::vector<Timing> values) {
    std::sort(values.begin(), values.end(),
              [](const Timing& a, const Timing& b) { return a.ms < b.ms; });
    return values[values.size() / 2];
}

// Runs one job RUNS times each way on fresh files; false when a job did not do what it should.
bool time_job(QTextStream& out, const QString& title, const QString& folder, const QString& changes,
              int files, int bytes, int runs) {
    const long expected_ticks = static_cast<long>(files) * (kEntries + 1) + 1;
    std::vector<Timing> window;
    std::vector<Timing> hidden;
    std::vector<Timing> core;
    std::vector<Timing> bare;
    for (int run = 0; run < runs; ++run) {
        int failed = 0;
        if (!write_targets(folder, files, bytes)) {
            out << "cannot write the targets\n";
            return false;
        }
        window.push_back(through_window(folder, changes, true));
        write_targets(folder, files, bytes);
        hidden.push_back(through_window(folder, changes, false));
        write_targets(folder, files, bytes);
        core.push_back(through_core(folder, changes, failed));
        if (failed != 0 || core.back().ticks != expected_ticks ||
            window.back().ticks != expected_ticks || hidden.back().ticks != expected_ticks) {
            out << title << ": a job did not run " << expected_ticks << " ticks or failed a file ("
                << window.back().ticks << " window ticks, " << core.back().ticks << " core ticks, "
                << failed << " failed)\n";
            return false;
        }
        bare.push_back(bare_timer(expected_ticks));
        out << title << " run " << run + 1 << ": window " << window.back().ms
            << " ms, hidden window " << hidden.back().ms << " ms, core " << core.back().ms
            << " ms, bare timer " << bare.back().ms << " ms\n";
        out.flush();
    }
    const Timing w = median(window);
    const Timing c = median(core);
    out << title << ": " << files << " files of " << bytes << " bytes, " << kEntries << " entries, "
        << expected_ticks << " ticks, platform " << QGuiApplication::platformName()
        << ": median window " << w.ms << " ms (" << w.us_per_tick() << " us a tick), hidden window "
        << median(hidden).us_per_tick() << " us a tick, median core " << c.ms << " ms ("
        << c.us_per_tick() << " us a tick), bare 0 ms timer " << median(bare).us_per_tick()
        << " us a timeout\n";
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int bytes = argc > 2 ? std::atoi(argv[2]) : 4096;
    const int runs = std::max(argc > 3 ? std::atoi(argv[3]) : 3, 1);
    QTextStream out(stdout);
    if (files < 1 || bytes < 1) {
        out << "usage: wendrel_ui_timing [FILES [BYTES [RUNS]]]\n";
        return 2;
    }

    QTemporaryDir temp;
    const QString folder = QDir(temp.path()).filePath(QStringLiteral("targets"));
    const QString matching = QDir(temp.path()).filePath(QStringLiteral("matching.txt"));
    const QString absent = QDir(temp.path()).filePath(QStringLiteral("absent.txt"));
    if (!temp.isValid() || !QDir().mkpath(folder) || !write_file(matching, kMatchingChanges) ||
        !write_file(absent, kAbsentChanges)) {
        out << "cannot prepare the files\n";
        return 1;
    }
    const bool ok =
        time_job(out, QStringLiteral("matching"), folder, matching, files, bytes, runs) &&
        time_job(out, QStringLiteral("no match"), folder, absent, files, bytes, runs);
    return ok ? 0 : 1;
}
