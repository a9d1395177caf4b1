#include "AvFormDialog.h"

#include <QIcon>

AvFormDialog::AvFormDialog()
{
    setWindowIcon(QIcon());
    setStyleSheet(QStringLiteral("AvFormDialog { background-color: rgb(251, 250, 248);"
                                 " border-bottom-width: 48px; border-bottom-style: solid;"
                                 " border-bottom-color: rgb(220,220,220); }"));
}

int AvFormDialog::execFixedSize()
{
    // A dialog run again (with a message added) must be free to take its new
    // size hint.
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    adjustSize();
    setFixedSize(width(), height());
    centerWidgetOnScreen(this);
    return exec();
}
