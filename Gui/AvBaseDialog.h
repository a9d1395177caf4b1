#pragma once

// AvBaseDialog: the base of every dialog of the application. It is a
// top-level window without a parent or window icon and places itself in the
// middle of the primary screen each time it is shown, wherever the user moved
// it before. centerWidgetOnScreen is the placement rule shared with windows
// that do not derive from it (wizards, message boxes).

#include <QDialog>
#include <QPoint>
#include <QRect>

class QShowEvent;

class AvBaseDialog : public QDialog
{
    Q_OBJECT

public:
    AvBaseDialog();

    virtual void resetWindowIcon();
    virtual void centerOnScreen();

protected:
    void showEvent(QShowEvent* event) override;
};

// Moves the widget to the middle of the primary screen; nothing for null.
void centerWidgetOnScreen(QWidget* widget);

// The top-left corner that centres `widget` on `screen`. Both rectangles are
// taken with inclusive corners and halved with integer division towards zero,
// so odd sizes round the same way on every screen.
QPoint centeredTopLeft(const QRect& screen, const QRect& widget);
