#include <QApplication>

#include "core/file_size_signal.h"
#include "ui/main_window.h"

int main(int argc, char* argv[]) {
    wendrel::core::FileSizeSignal::ignore();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Wendrel"));
    wendrel::ui::MainWindow window;
    window.show();
    return QApplication::exec();
}
