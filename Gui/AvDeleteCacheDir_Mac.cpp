#include "AvDeleteCacheDir_Mac.h"

#include "ui_DeleteCacheDir_Mac.h"

AvDeleteCacheDir_Mac::AvDeleteCacheDir_Mac()
    : m_form(std::make_unique<Ui::DeleteCacheDir_Mac>())
{
    m_form->setupUi(this);
}

AvDeleteCacheDir_Mac::~AvDeleteCacheDir_Mac() = default;

bool AvDeleteCacheDir_Mac::dontShowAgain() const
{
    return m_form->showAgain_chkBox->checkState() == Qt::Checked;
}
