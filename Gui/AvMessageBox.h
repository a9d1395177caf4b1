#pragma once

// AvMessageBox: the application's message box. A box without a parent is
// centred on the primary screen when shown, like every dialog of the
// application; a box with a parent keeps the standard placement.

#include <QMessageBox>

class QShowEvent;

class AvMessageBox : public QMessageBox
{
    Q_OBJECT

public:
    AvMessageBox(const QString& title, const QString& text, QMessageBox::StandardButtons buttons,
        QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);

protected:
    void showEvent(QShowEvent* event) override;
};
