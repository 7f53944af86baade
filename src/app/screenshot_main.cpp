// Runs a small job through the window on sample files in a temporary folder and saves a
// picture of the window as it stands at the end. Usage: wendrel_screenshot OUTPUT.png
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include "ui/main_window.h"

namespace {

bool write_file(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool write_samples(const QDir& root) {
    if (!root.mkpath(QStringLiteral("docs"))) {
        return false;
    }
    const QDir docs(root.filePath(QStringLiteral("docs")));
    return write_file(docs.filePath(QStringLiteral("notes.txt")),
                      "The cat sat on the mat.\nCat food is in the cupboard.\n") &&
           write_file(docs.filePath(QStringLiteral("readme.txt")),
                      QByteArray("colour and flavour of the catalogue\n").repeated(40)) &&
           write_file(docs.filePath(QStringLiteral("todo.txt")), "feed the cat\n") &&
           write_file(root.filePath(QStringLiteral("changes.txt")),
                      "cat|dog|\r\ncolour|color|\r\nflavour|flavor|\r\n");
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: wendrel_screenshot OUTPUT.png\n";
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);

    QTemporaryDir temp;
    const QDir root(temp.path());
    if (!temp.isValid() || !write_samples(root)) {
        err << "cannot write the sample files\n";
        return 1;
    }

    wendrel::ui::MainWindow window;
    window.show();
    const QString docs = root.filePath(QStringLiteral("docs"));
    window.findChild<QLineEdit*>(QStringLiteral("txt_source"))
        ->setText(docs + QStringLiteral("*;"));
    window.findChild<QLineEdit*>(QStringLiteral("txt_except"))
        ->setText(QDir(docs).filePath(QStringLiteral("todo.txt")) + QStringLiteral(";"));
    window.findChild<QLineEdit*>(QStringLiteral("txt_change"))
        ->setText(root.filePath(QStringLiteral("changes.txt")));
    window.findChild<QCheckBox*>(QStringLiteral("chk_qzpp"))->setChecked(true);
    window.findChild<QPushButton*>(QStringLiteral("cm_start"))->click();

    const auto* timer1 = window.findChild<QTimer*>(QStringLiteral("timer1"));
    const auto* timer2 = window.findChild<QTimer*>(QStringLiteral("timer2"));
    const QDeadlineTimer deadline(30'000);
    while (timer1->isActive() || timer2->isActive()) {
        if (deadline.hasExpired()) {
            err << "the job did not end\n";
            return 1;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    // Show the end of the log, as a user would scroll to it.
    window.findChild<QListWidget*>(QStringLiteral("ls_status"))->scrollToBottom();
    QApplication::processEvents();

    if (!window.grab().save(output, "PNG")) {
        err << "cannot save " << output << "\n";
        return 1;
    }
    return 0;
}
