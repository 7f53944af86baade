#include "ui/about_box.h"

#include <QEvent>
#include <QPushButton>

#include "ui/platform.h"

namespace wendrel::ui {

using namespace Qt::Literals::StringLiterals;

AboutBox::AboutBox()
    : QWidget(nullptr, Qt::Tool | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(u"fm_about"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(u"Wendrel V.Demo"_s);
    setFont(platform::dialog_font());
    setFixedSize(platform::from_twips(0, 0, 2715, 1395).size());
    platform::centre_on_screen(*this);
    // With its only control disabled, the window itself holds the focus, and so sees every
    // key and notices when the focus goes elsewhere.
    setFocusPolicy(Qt::StrongFocus);

    auto* command1 = new QPushButton(this);
    command1->setObjectName(u"Command1"_s);
    command1->setGeometry(rect());
    command1->setText(u"WendrelV.Demo\nBy the Wendrel team\nContact:\nwendrel@localhost"_s);
    command1->setEnabled(false);
}

void AboutBox::keyPressEvent(QKeyEvent* /*event*/) {
    close();
}

void AboutBox::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
        close();
    }
    QWidget::changeEvent(event);
}

}  // namespace wendrel::ui
