#pragma once

// AvAboutDialog: the about box with the program's version and build date and
// links to the home and support pages. The tray creates one and keeps it.

#include "AvBaseDialog.h"

#include <memory>

namespace Ui {
class AboutDialog_Mac;
}

class AvAboutDialog : public AvBaseDialog
{
public:
    AvAboutDialog();
    ~AvAboutDialog() override;

private:
    std::unique_ptr<Ui::AboutDialog_Mac> m_form;
};
