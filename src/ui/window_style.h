#pragma once

#include <QProxyStyle>

namespace wendrel::ui {

/// The desktop's own style with two changes that the window's tight design needs: a frame's
/// caption stands at the frame's top edge, so that it clears the control the design puts right
/// under it; and a push button or a list that holds the keyboard focus is ringed in the
/// desktop's highlight colour, which a small picture button or an empty list would otherwise
/// hardly show.
class WindowStyle : public QProxyStyle {
    Q_OBJECT

  public:
    /// Follows the application's style; owned by `parent`.
    explicit WindowStyle(QObject* parent);

    /// Gives `window` and every control in it a style of this kind, owned by `window`.
    static void apply_to(QWidget& window);

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                         SubControl sub_control, const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
};

}  // namespace wendrel::ui
