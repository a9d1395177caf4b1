#include "AvMessageBox.h"

#include "AvBaseDialog.h"

#include <QShowEvent>

AvMessageBox::AvMessageBox(const QString& title, const QString& text, QMessageBox::StandardButtons buttons,
    QWidget* parent, Qt::WindowFlags flags)
    : QMessageBox(QMessageBox::NoIcon, title, text, buttons, parent, flags)
{
}

void AvMessageBox::showEvent(QShowEvent* event)
{
    QMessageBox::showEvent(event);
    if (!parentWidget())
        centerWidgetOnScreen(this);
}
