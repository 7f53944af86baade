// Runs a small job through the window on sample files in a temporary folder and saves
// pictures for the README: the window as it stands at the end of the job, the file chooser,
// the directory chooser and the about box. Usage: wendrel_screenshot OUTPUT_FOLDER
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include "ui/folder_list.h"
#include "ui/main_window.h"

namespace {

bool write_file(const QString& path, const QByteArray& content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

bool write_samples(const QDir& root) {
    if (!root.mkpath(QStringLiteral("docs/drafts")) || !root.mkpath(QStringLiteral("archive"))) {
        return false;
    }
    const QDir docs(root.filePath(QStringLiteral("docs")));
    return write_file(docs.filePath(QStringLiteral("notes.txt")),
                      "The cat sat on the mat.\nCat food is in the cupboard.\n") &&
           write_file(docs.filePath(QStringLiteral("readme.txt")),
                      QByteArray("colour and flavour of the catalogue\n").repeated(40)) &&
           write_file(docs.filePath(QStringLiteral("todo.txt")), "feed the cat\n") &&
           // A file nobody may write: the log shows its failure line with the reason.
           write_file(docs.filePath(QStringLiteral("zz-locked.txt")), "the cat's own file\n") &&
           QFile::setPermissions(docs.filePath(QStringLiteral("zz-locked.txt")),
                                 QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther) &&
           write_file(root.filePath(QStringLiteral("changes.txt")),
                      "cat|dog|\r\ncolour|color|\r\nflavour|flavor|\r\n");
}

// What a mouse does, sent straight to the widget under it.
void mouse(QWidget* target, QEvent::Type type, QPoint at) {
    QMouseEvent event(type, at, target->mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void click(QWidget* target, QPoint at) {
    mouse(target, QEvent::MouseButtonPress, at);
    mouse(target, QEvent::MouseButtonRelease, at);
}

void double_click(QWidget* target, QPoint at) {
    click(target, at);
    mouse(target, QEvent::MouseButtonDblClick, at);
    mouse(target, QEvent::MouseButtonRelease, at);
}

QPoint centre_of_item(QListWidget* list, const QListWidgetItem* item) {
    return list->visualItemRect(item).center();
}

QWidget* open_window(const char* name) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->objectName() == QLatin1String(name)) {
            return widget;
        }
    }
    return nullptr;
}

bool save(QWidget* window, const QDir& output, const char* name, QTextStream& err) {
    QApplication::processEvents();
    const QString path = output.filePath(QString::fromLatin1(name));
    if (!window || !window->grab().save(path, "PNG")) {
        err << "cannot save " << path << "\n";
        return false;
    }
    return true;
}

bool run_job(wendrel::ui::MainWindow& window, const QDir& root, QTextStream& err) {
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
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    // The log and the bar paint their last change within a frame of it.
    const QDeadlineTimer settled(100);
    while (!settled.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    // Show the end of the log, as a user would scroll to it.
    window.findChild<QListWidget*>(QStringLiteral("ls_status"))->scrollToBottom();
    return true;
}

// The file chooser in target mode, opened on the sample folder with one file clicked.
bool save_file_chooser(wendrel::ui::MainWindow& window, const QDir& root, const QDir& output,
                       QTextStream& err) {
    window.findChild<QPushButton*>(QStringLiteral("cm_choosefile"))->click();
    QWidget* chooser = open_window("fm_choosefile");
    auto* dir = chooser ? chooser->findChild<wendrel::ui::FolderList*>() : nullptr;
    auto* file = chooser ? chooser->findChild<QListWidget*>(QStringLiteral("file")) : nullptr;
    if (!dir || !file || !dir->set_path(root.filePath(QStringLiteral("docs")))) {
        err << "the file chooser did not open on the samples\n";
        return false;
    }
    QApplication::processEvents();
    const QList<QListWidgetItem*> notes = file->findItems(QStringLiteral("notes.txt"), {});
    if (!notes.isEmpty()) {
        click(file->viewport(), centre_of_item(file, notes.front()));
    }
    const bool saved = save(chooser, output, "choosefile.png", err);
    chooser->close();
    return saved;
}

// The directory chooser after a double-click on the sample folder.
bool save_dir_chooser(wendrel::ui::MainWindow& window, const QDir& root, const QDir& output,
                      QTextStream& err) {
    window.findChild<QPushButton*>(QStringLiteral("cm_choosedir"))->click();
    QWidget* chooser = open_window("fm_choosedir");
    auto* dir = chooser ? chooser->findChild<wendrel::ui::FolderList*>() : nullptr;
    if (!dir) {
        err << "the directory chooser did not open\n";
        return false;
    }
    QApplication::processEvents();
    const QString docs = root.filePath(QStringLiteral("docs"));
    for (int row = 0; row < dir->count(); ++row) {
        if (dir->item_path(row) == docs) {
            double_click(dir->viewport(), centre_of_item(dir, dir->item(row)));
            break;
        }
    }
    const bool saved = save(chooser, output, "choosedir.png", err);
    chooser->close();
    return saved;
}

bool save_about_box(wendrel::ui::MainWindow& window, const QDir& output, QTextStream& err) {
    auto* picture = window.findChild<QWidget*>(QStringLiteral("img_about"));
    click(picture, picture->rect().center());
    QWidget* about = open_window("fm_about");
    const bool saved = save(about, output, "about.png", err);
    if (about) {
        about->close();
    }
    return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QTextStream err(stderr);
    if (argc != 2) {
        err << "usage: wendrel_screenshot OUTPUT_FOLDER\n";
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));

    QTemporaryDir temp(QDir::temp().filePath(QStringLiteral("wendrel-samples-XXXXXX")));
    const QDir root(temp.path());
    if (!temp.isValid() || !write_samples(root)) {
        err << "cannot write the sample files\n";
        return 1;
    }
    // The choosers start in the process's current folder.
    QDir::setCurrent(root.path());

    wendrel::ui::MainWindow window;
    window.show();
    const bool ok = run_job(window, root, err) && save(&window, output, "screenshot.png", err) &&
                    save_file_chooser(window, root, output, err) &&
                    save_dir_chooser(window, root, output, err) &&
                    save_about_box(window, output, err);
    return ok ? 0 : 1;
}
