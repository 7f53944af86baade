// Times one job of many files through the window (timer ticks, list and progress updates,
// painting on the offscreen platform) against the same job driven by the core alone.
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

#include "core/job_observer.h"
#include "core/posix_file_system.h"
#include "core/replace_job.h"
#include "ui/main_window.h"

namespace {

// Ten entries; the sample text below holds the find texts of some of them several times.
const char kChanges[] =
    "alpha|omega|\r\nbeta|gamma|\r\ndelta|epsilon|\r\nred|blue|\r\ncat|dog|\r\n"
    "north|south|\r\nmissing|found|\r\nold|new|\r\nslow|fast|\r\nbig|small|\r\n";
const char kSample[] = "alpha beta delta red cat north old slow big words and more words. ";

class SilentObserver : public wendrel::core::JobObserver {
  public:
    void add_status_line(const std::string&) override {}
    void clear_status_log() override {}
    void add_file_info_line(const std::string&) override {}
    void clear_file_info() override {}
    void set_progress_max(double) override {}
    void set_progress_value(double) override {}
    void set_inputs_locked(bool) override {}
    void clear_except_field() override {}
    void focus_source_field() override {}
    void show_input_check(const std::string&) override {}
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

double through_window(const QString& folder, const QString& changes) {
    wendrel::ui::MainWindow window;
    window.show();
    QApplication::processEvents();
    window.findChild<QLineEdit*>(QStringLiteral("txt_source"))
        ->setText(folder + QStringLiteral("*;"));
    window.findChild<QLineEdit*>(QStringLiteral("txt_change"))->setText(changes);
    const auto* timer1 = window.findChild<QTimer*>(QStringLiteral("timer1"));
    const auto* timer2 = window.findChild<QTimer*>(QStringLiteral("timer2"));

    QElapsedTimer clock;
    clock.start();
    window.findChild<QPushButton*>(QStringLiteral("cm_start"))->click();
    const QDeadlineTimer deadline(600'000);
    while ((timer1->isActive() || timer2->isActive()) && !deadline.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents);
    }
    return clock.nsecsElapsed() / 1e6;
}

double through_core(const QString& folder, const QString& changes) {
    SilentObserver observer;
    wendrel::core::ReplaceJob job(observer, wendrel::core::PosixFileSystem::instance(),
                                  [] { return std::string("00:00:00"); });
    wendrel::core::JobInputs inputs;
    inputs.source = (folder + QStringLiteral("*;")).toStdString();
    inputs.change = changes.toStdString();
    QElapsedTimer clock;
    clock.start();
    job.start(inputs);
    job.run_to_end();
    return clock.nsecsElapsed() / 1e6;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int bytes = argc > 2 ? std::atoi(argv[2]) : 4096;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    QTextStream out(stdout);

    QTemporaryDir temp;
    const QString folder = QDir(temp.path()).filePath(QStringLiteral("targets"));
    const QString changes = QDir(temp.path()).filePath(QStringLiteral("changes.txt"));
    if (!temp.isValid() || !QDir().mkpath(folder) || !write_file(changes, kChanges)) {
        out << "cannot prepare the files\n";
        return 1;
    }

    std::vector<double> window_ms;
    std::vector<double> core_ms;
    for (int run = 0; run < std::max(runs, 1); ++run) {
        if (!write_targets(folder, files, bytes)) {
            out << "cannot write the targets\n";
            return 1;
        }
        window_ms.push_back(through_window(folder, changes));
        write_targets(folder, files, bytes);
        core_ms.push_back(through_core(folder, changes));
        out << "run " << run + 1 << ": window " << window_ms.back() << " ms, core "
            << core_ms.back() << " ms\n";
        out.flush();
    }
    out << files << " files of " << bytes << " bytes, 10 entries, platform "
        << QGuiApplication::platformName() << ": median window " << median(window_ms)
        << " ms, median core " << median(core_ms) << " ms\n";
    return 0;
}
