#pragma once

#include <QWidget>

namespace wendrel::ui {

/// fm_about: the product name with its edition, our credit and a contact. It goes away at the
/// next key press, when it loses the focus, or by its close box, and is destroyed on closing.
class AboutBox : public QWidget {
    Q_OBJECT

  public:
    AboutBox();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
};

}  // namespace wendrel::ui
