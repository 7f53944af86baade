// Runs a small job through the window on sample files in a temporary folder and saves
// pictures for the README: the job's preview, the window as it stands at the end of the job,
// the window after the job was undone, the file chooser, the directory chooser and the about
// box. Usage: wendrel_screenshot OUTPUT_FOLDER
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTextStream>
#include <QTimer>
#include <QTranslator>
#include <QTreeWidget>
#include <algorithm>
#include <functional>

#include "ui/folder_list.h"
#include "ui/main_window.h"
#include "ui/platform.h"

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

void press_key(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
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

// Handles events until `ended` holds, then a little longer: the log and the bar paint their
// last change within a frame of it.
bool wait_for(const std::function<bool()>& ended, const char* what, QTextStream& err) {
    const QDeadlineTimer deadline(30'000);
    while (!ended()) {
        if (deadline.hasExpired()) {
            err << what << " did not end\n";
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    const QDeadlineTimer settled(100);
    while (!settled.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

bool timer_active(const QWidget& window, const char* name) {
    return window.findChild<QTimer*>(QString::fromLatin1(name))->isActive();
}

// Show the end of the log, as a user would scroll to it.
void scroll_log_to_end(wendrel::ui::MainWindow& window) {
    window.findChild<QListWidget*>(QStringLiteral("ls_status"))->scrollToBottom();
}

void fill_inputs(wendrel::ui::MainWindow& window, const QDir& root) {
    const QString docs = root.filePath(QStringLiteral("docs"));
    window.findChild<QLineEdit*>(QStringLiteral("txt_source"))
        ->setText(docs + QStringLiteral("*;"));
    window.findChild<QLineEdit*>(QStringLiteral("txt_except"))
        ->setText(QDir(docs).filePath(QStringLiteral("todo.txt")) + QStringLiteral(";"));
    window.findChild<QLineEdit*>(QStringLiteral("txt_change"))
        ->setText(root.filePath(QStringLiteral("changes.txt")));
    window.findChild<QCheckBox*>(QStringLiteral("chk_qzpp"))->setChecked(true);
}

// Chooses `entry` in the status log's context menu, as the menu key and Return would.
bool choose_in_log_menu(wendrel::ui::MainWindow& window, const QString& entry, QTextStream& err) {
    bool chosen = false;
    // The menu runs an event loop of its own and is answered from within it; the timer goes
    // with `answer` if the menu never opens.
    const QObject answer;
    QTimer::singleShot(0, &answer, [&chosen, &entry] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) {
            return;
        }
        for (QAction* action : menu->actions()) {
            if (action->text() == entry && action->isEnabled()) {
                menu->setActiveAction(action);
                press_key(menu, Qt::Key_Return, Qt::NoModifier);
                chosen = true;
                return;
            }
        }
        menu->close();
    });
    auto* log = window.findChild<QListWidget*>(QStringLiteral("ls_status"));
    const QPoint at = log->viewport()->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, at, log->mapToGlobal(at));
    QApplication::sendEvent(log, &event);
    if (!chosen) {
        err << "the status log's menu did not offer " << entry << "\n";
    }
    return chosen;
}

// The job's preview, opened from the log's menu (a Shift+click on 开始！ needs the keyboard's
// own state, which events sent to a widget do not set); it is shown once its dry run has
// ended, with the first file it would change chosen and that file's diff below the list.
bool save_preview(wendrel::ui::MainWindow& window, const QDir& output, QTextStream& err) {
    if (!choose_in_log_menu(window, QStringLiteral("预览"), err)) {
        return false;
    }
    QWidget* preview = open_window("fm_preview");
    if (!preview) {
        err << "the preview did not open\n";
        return false;
    }
    // Its only timer paces the dry run.
    const QList<QTimer*> pacing = preview->findChildren<QTimer*>(Qt::FindDirectChildrenOnly);
    const bool ended = wait_for(
        [&pacing] {
            return std::none_of(pacing.begin(), pacing.end(),
                                [](const QTimer* timer) { return timer->isActive(); });
        },
        "the preview's dry run", err);
    const auto* targets = preview->findChild<QTreeWidget*>(QStringLiteral("ls_targets"));
    const auto* diff = preview->findChild<QTextEdit*>(QStringLiteral("txt_diff"));
    const bool shown = ended && targets->currentItem() && !diff->document()->isEmpty();
    if (ended && !shown) {
        err << "the preview shows no change\n";
    }
    const bool saved = shown && save(preview, output, "preview.png", err);
    auto* close = preview->findChild<QPushButton*>(QStringLiteral("cm_close"));
    click(close, close->rect().center());
    return saved;
}

bool run_job(wendrel::ui::MainWindow& window, QTextStream& err) {
    window.findChild<QPushButton*>(QStringLiteral("cm_start"))->click();
    if (!wait_for(
            [&window] {
                return !timer_active(window, "timer1") && !timer_active(window, "timer2");
            },
            "the job", err)) {
        return false;
    }
    scroll_log_to_end(window);
    return true;
}

// Ctrl+Z right after the job, in the field that has the focus, takes the job back.
bool save_undo(wendrel::ui::MainWindow& window, const QDir& output, QTextStream& err) {
    QWidget* field = window.focusWidget();
    if (!qobject_cast<QLineEdit*>(field)) {
        err << "no field has the focus after the job\n";
        return false;
    }
    press_key(field, Qt::Key_Z, Qt::ControlModifier);
    if (!timer_active(window, "undo_timer")) {
        err << "Ctrl+Z did not start an undo\n";
        return false;
    }
    if (!wait_for([&window] { return !timer_active(window, "undo_timer"); }, "the undo", err)) {
        return false;
    }
    scroll_log_to_end(window);
    return save(&window, output, "undo.png", err);
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

// The box a start with an empty field brings up, on a Chinese desktop: Qt's own button text
// comes from its catalogue (确定), the message is the window's own.
bool save_input_check(const QDir& output, QTextStream& err) {
    QTranslator qt_texts;
    if (!wendrel::ui::platform::load_qt_translations(qt_texts,
                                                     QLocale(QLocale::Chinese, QLocale::China))) {
        err << "no Chinese catalogue of Qt's texts (qt6-translations-l10n)\n";
        return false;
    }
    QApplication::installTranslator(&qt_texts);
    wendrel::ui::MainWindow empty;
    empty.show();
    bool saved = false;
    QTimer::singleShot(0, &empty, [&] {
        QWidget* box = QApplication::activeModalWidget();
        saved = save(box, output, "input_check.png", err);
        if (box) {
            box->close();
        }
    });
    auto* start = empty.findChild<QPushButton*>(QStringLiteral("cm_start"));
    click(start, start->rect().center());
    QApplication::removeTranslator(&qt_texts);
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
    // The jobs' journals, kept for undo, and the fields' recalled values stay with the samples
    // and never mix with the user's.
    if (!qputenv("XDG_STATE_HOME", QFile::encodeName(root.filePath(QStringLiteral("state")))) ||
        !qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath(QStringLiteral("config"))))) {
        err << "cannot set XDG_STATE_HOME and XDG_CONFIG_HOME\n";
        return 1;
    }

    wendrel::ui::MainWindow window;
    window.show();
    fill_inputs(window, root);
    const bool ok = save_preview(window, output, err) && run_job(window, err) &&
                    save(&window, output, "screenshot.png", err) &&
                    save_undo(window, output, err) &&
                    save_file_chooser(window, root, output, err) &&
                    save_dir_chooser(window, root, output, err) &&
                    save_about_box(window, output, err) && save_input_check(output, err);
    return ok ? 0 : 1;
}
