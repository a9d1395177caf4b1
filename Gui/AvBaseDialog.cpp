#include "AvBaseDialog.h"

#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QShowEvent>

AvBaseDialog::AvBaseDialog()
    : QDialog(nullptr)
{
    setWindowIcon(QIcon());
}

void AvBaseDialog::resetWindowIcon()
{
    setWindowIcon(QIcon());
}

void AvBaseDialog::centerOnScreen()
{
    centerWidgetOnScreen(this);
}

void AvBaseDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    resetWindowIcon();
    centerOnScreen();
}

QPoint centeredTopLeft(const QRect& screen, const QRect& widget)
{
    const int left = (screen.left() + screen.right()) / 2 - (widget.right() - widget.left()) / 2;
    const int top = (screen.top() + screen.bottom()) / 2 - (widget.bottom() - widget.top()) / 2;
    return QPoint(left, top);
}

void centerWidgetOnScreen(QWidget* widget)
{
    if (!widget)
        return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    widget->move(centeredTopLeft(screen->geometry(), widget->geometry()));
}
