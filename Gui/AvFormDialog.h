#pragma once

// AvFormDialog: the dialog look all forms share, a warm white background with
// a grey band along the bottom for the buttons, and execFixedSize, which runs
// a dialog modally at exactly the size its layout asks for, centred on the
// primary screen.

#include "AvBaseDialog.h"

class AvFormDialog : public AvBaseDialog
{
    Q_OBJECT

public:
    AvFormDialog();

    // Fixes the dialog at its size hint, centres it and runs it modally;
    // returns what exec() returns.
    int execFixedSize();
};
