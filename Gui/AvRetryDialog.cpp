#include "AvRetryDialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

AvRetryDialog::AvRetryDialog(const QFile& inaccessibleFile)
{
    setWhatsThis(tr("Problem during encryption process: No access to the file."));
    setWindowTitle(tr("File Access Denied"));

    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(tr("No access on file %1.").arg(inaccessibleFile.fileName()));
    label->setWordWrap(true);
    layout->addWidget(label);

    auto* buttons = new QDialogButtonBox(Qt::Horizontal);
    const auto addButton = [&](const QString& text, const char* name, void (AvRetryDialog::*slot)()) {
        QPushButton* button = buttons->addButton(text, QDialogButtonBox::ActionRole);
        button->setObjectName(QLatin1String(name));
        connect(button, &QPushButton::clicked, this, slot);
    };
    addButton(tr("&Retry"), "retryButton", &AvRetryDialog::setRetry);
    addButton(tr("&Skip"), "skipButton", &AvRetryDialog::setContinue);
    addButton(tr("&Cancel"), "cancelButton", &AvRetryDialog::setCancel);
    layout->addWidget(buttons);
}

int AvRetryDialog::ask(const QFile& inaccessibleFile)
{
    AvRetryDialog dialog(inaccessibleFile);
    const int result = dialog.execFixedSize();
    return result == 0 ? Cancel : result;
}

void AvRetryDialog::setRetry()
{
    done(Retry);
}

void AvRetryDialog::setContinue()
{
    done(Continue);
}

void AvRetryDialog::setCancel()
{
    done(Cancel);
}
