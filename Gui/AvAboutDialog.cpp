#include "AvAboutDialog.h"

#include "ui_AboutDialog_Mac.h"

AvAboutDialog::AvAboutDialog()
    : m_form(std::make_unique<Ui::AboutDialog_Mac>())
{
    m_form->setupUi(this);
    setWindowFlags(Qt::WindowCloseButtonHint);
    m_form->version_ledit->setText(QStringLiteral("0.9.1737 OSX"));
    m_form->date_ledit->setText(QStringLiteral("2012/07/31 17:27:03"));
}

AvAboutDialog::~AvAboutDialog() = default;
