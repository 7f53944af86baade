#include <QApplication>
#include <QLocale>
#include <QTranslator>

#include "core/file_size_signal.h"
#include "ui/main_window.h"
#include "ui/platform.h"

int main(int argc, char* argv[]) {
    wendrel::core::FileSizeSignal::ignore();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Wendrel"));
    // Qt's own texts in the user's language; the window's own captions are Chinese as designed.
    QTranslator qt_texts;
    if (wendrel::ui::platform::load_qt_translations(qt_texts, QLocale::system())) {
        QApplication::installTranslator(&qt_texts);
    }
    wendrel::ui::MainWindow window;
    window.show();
    return QApplication::exec();
}
