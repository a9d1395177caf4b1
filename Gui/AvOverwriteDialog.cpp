#include "AvOverwriteDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QLabel* wrappedLabel(const QString& text, int pointSize)
{
    auto* label = new QLabel(text);
    label->setFont(QFont(QStringLiteral("Arial"), pointSize));
    label->setWordWrap(true);
    return label;
}

} // namespace

AvOverwriteDialog::AvOverwriteDialog(const QFile& existingFile)
{
    setWhatsThis(
        tr("Problem during encryption: There is an encrypted .avlt file with the same name in the file system."));
    setWindowTitle(tr("File Exists"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(wrappedLabel(tr("There is a file with the same name in the directory."), 10));
    layout->addWidget(wrappedLabel(tr("Filepath: %1").arg(existingFile.fileName()), 8));

    // Action roles: the box itself must neither accept nor reject, every
    // button picks its own answer.
    auto* buttons = new QDialogButtonBox(Qt::Horizontal);
    const auto addButton = [&](const QString& text, const char* name, void (AvOverwriteDialog::*slot)()) {
        QPushButton* button = buttons->addButton(text, QDialogButtonBox::ActionRole);
        button->setObjectName(QLatin1String(name));
        connect(button, &QPushButton::clicked, this, slot);
    };
    addButton(tr("&Overwrite"), "overwriteButton", &AvOverwriteDialog::setOverwrite);
    addButton(tr("&Skip"), "skipButton", &AvOverwriteDialog::setNoOverwrite);
    addButton(tr("&Make Copy"), "copyButton", &AvOverwriteDialog::setCopy);
    addButton(tr("&Cancel"), "cancelButton", &AvOverwriteDialog::setCancel);
    layout->addWidget(buttons);

    m_rememberBox = new QCheckBox(tr("&Remember decision"));
    m_rememberBox->setObjectName(QStringLiteral("rememberBox"));
    layout->addWidget(m_rememberBox);
}

AvOverwriteDialog::mode AvOverwriteDialog::ask(const QFile& existingFile)
{
    AvOverwriteDialog dialog(existingFile);
    const int result = dialog.execFixedSize();
    return result == 0 ? Cancel : static_cast<mode>(result);
}

void AvOverwriteDialog::finishWith(mode single)
{
    done(m_rememberBox->isChecked() ? single + 1 : single);
}

void AvOverwriteDialog::setOverwrite()
{
    finishWith(Overwrite);
}

void AvOverwriteDialog::setNoOverwrite()
{
    finishWith(NoOverwrite);
}

void AvOverwriteDialog::setCopy()
{
    finishWith(Copy);
}

void AvOverwriteDialog::setCancel()
{
    done(Cancel);
}
