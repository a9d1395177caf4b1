#include "AvUserPrompts.h"

#include "AvAccountState.h"
#include "AvFormDialog.h"
#include "AvGlobalSettings.h"
#include "AvMessageBox.h"

#include "crypto/SecureString.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>

namespace {

int runBox(QMessageBox::Icon icon, const QString& text, const QString& title, QMessageBox::StandardButtons buttons,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton)
{
    AvMessageBox box(title, text, buttons, nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box.setIcon(icon);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return box.exec();
}

QString errorMessage(const QString& text)
{
    return QStringLiteral("<P><font color='red'>") + text + QStringLiteral("</font>");
}

// The typed password as UTF-8 in a wiping string; the intermediate bytes are
// wiped as well.
SecureString passwordOf(const QLineEdit* edit)
{
    QByteArray bytes = edit->text().toUtf8();
    SecureString password(bytes.constData(), std::size_t(bytes.size()));
    std::fill(bytes.begin(), bytes.end(), '\0');
    return password;
}

// Keeps the run flag set while the password dialog is open, on every way out.
class AuthenticationDialogFlag
{
public:
    AuthenticationDialogFlag() { AvGlobalSettings::instance().setRunFlag(name(), true); }
    ~AuthenticationDialogFlag() { AvGlobalSettings::instance().setRunFlag(name(), false); }
    static QString name() { return QStringLiteral("AuthenticationDialogOpen"); }
};

} // namespace

void showInformation(const QString& text, const QString& title)
{
    runBox(QMessageBox::Information, text, title, QMessageBox::Ok);
}

void showWarning(const QString& text, const QString& title)
{
    runBox(QMessageBox::Warning, text, title, QMessageBox::Ok);
}

void showCritical(const QString& text, const QString& title)
{
    runBox(QMessageBox::Critical, text, title, QMessageBox::Ok);
}

bool askYesNo(const QString& text, bool boxChoosesDefault, const QString& title)
{
    return runBox(QMessageBox::Question, text, title, QMessageBox::Yes | QMessageBox::No,
               boxChoosesDefault ? QMessageBox::NoButton : QMessageBox::Yes)
        == QMessageBox::Yes;
}

bool askOnlineMode()
{
    AvGlobalSettings& settings = AvGlobalSettings::instance();
    if (!settings.getOfflineMode())
        return true;
    if (!askYesNo(
            QCoreApplication::translate("AvUserPrompts", "This action requires a connection to the Ardentvault server.")
                + QStringLiteral("<P>")
                + QCoreApplication::translate("AvUserPrompts", "Do you want to activate Online Mode now?"),
            true, QCoreApplication::translate("AvUserPrompts", "Online Mode Required")))
        return false;
    settings.setOfflineMode(false);
    return true;
}

void showUnlockRequired()
{
    runBox(QMessageBox::NoIcon, QCoreApplication::translate("AvUserPrompts", "Please sign in your account to proceed."),
        QCoreApplication::translate("AvUserPrompts", "Unlock Required"), QMessageBox::Ok);
}

void showNoAccess()
{
    const QString text = AvAccountState::isSignedIn()
        ? QCoreApplication::translate(
            "AvUserPrompts", "You are logged in as '%1'. This account does not have access to the file.")
              .arg(QString::fromUtf8(AvAccountState::loginName().c_str()))
        : QCoreApplication::translate("AvUserPrompts", "No access to the file. Please sign in to proceed.");
    showWarning(text, QCoreApplication::translate("AvUserPrompts", "No Access"));
}

void showInvalidFile(const QFile& file)
{
    runBox(QMessageBox::NoIcon,
        QCoreApplication::translate("AvUserPrompts", "The file %1 cannot be read.").arg(file.fileName()),
        QCoreApplication::translate("AvUserPrompts", "Invalid File"), QMessageBox::Ok);
}

int showConnectionFailed()
{
    runBox(QMessageBox::Warning,
        QCoreApplication::translate("AvUserPrompts",
            "A connection to the Ardentvault Server failed. Please check your Internet connectivity and firewall "
            "and unlock your Account again."),
        QCoreApplication::translate("AvUserPrompts", "Connection Failed"), QMessageBox::Cancel, QMessageBox::Cancel);
    return 0;
}

void changePasswordDialog()
{
    AvGlobalSettings& settings = AvGlobalSettings::instance();
    if (settings.getRunFlag(AuthenticationDialogFlag::name(), false))
        return;
    if (!AvAccountState::isSignedIn()) {
        showUnlockRequired();
        return;
    }
    const AuthenticationDialogFlag openFlag;

    AvFormDialog dialog;
    dialog.setWindowTitle(QCoreApplication::translate("AvUserPrompts", "Change Password"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->setContentsMargins(25, 20, 25, 11);

    auto* intro = new QLabel(QCoreApplication::translate("AvUserPrompts", "Please enter your old and new password"));
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* fields = new QFormLayout;
    const auto addPasswordRow = [&](const QString& label, const char* name) {
        auto* edit = new QLineEdit;
        edit->setObjectName(QLatin1String(name));
        edit->setEchoMode(QLineEdit::Password);
        fields->addRow(label, edit);
        return edit;
    };
    QLineEdit* oldEdit =
        addPasswordRow(QCoreApplication::translate("AvUserPrompts", "Old password"), "oldPasswordEdit");
    QLineEdit* newEdit =
        addPasswordRow(QCoreApplication::translate("AvUserPrompts", "New password"), "newPasswordEdit");
    QLineEdit* repeatEdit =
        addPasswordRow(QCoreApplication::translate("AvUserPrompts", "Repeat new password"), "repeatPasswordEdit");
    layout->addLayout(fields);

    const bool localAccount = AvAccountState::isLocalAccount();
    QCheckBox* recoveryBox = nullptr;
    if (!localAccount) {
        recoveryBox =
            new QCheckBox(QCoreApplication::translate("AvUserPrompts", "Enable Ardentvault password recovery"));
        recoveryBox->setObjectName(QStringLiteral("recoveryBox"));
        recoveryBox->setChecked(AvAccountState::passwordRecoveryEnabled());
        layout->addWidget(recoveryBox);
    }

    auto* message = new QLabel;
    message->setObjectName(QStringLiteral("messageLabel"));
    message->setWordWrap(true);
    layout->addWidget(message);
    layout->addSpacing(40);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);

    while (dialog.execFixedSize() != QDialog::Rejected) {
        const SecureString oldPassword = passwordOf(oldEdit);
        const SecureString newPassword = passwordOf(newEdit);
        const SecureString repeatedPassword = passwordOf(repeatEdit);
        const bool recovery = recoveryBox && recoveryBox->isChecked();

        if (repeatedPassword != newPassword) {
            message->setText(errorMessage(
                QCoreApplication::translate("AvUserPrompts", "New password and repeated new password don't match")));
            continue;
        }
        const std::string result = AvAccountState::changePassword(oldPassword, newPassword, recovery);
        if (result == "OK")
            break;
        if (result == "Denied") {
            message->setText(errorMessage(QCoreApplication::translate("AvUserPrompts", "Access denied")));
        } else if (result == "Error") {
            message->setText(errorMessage(QCoreApplication::translate(
                "AvUserPrompts", "Connection failed. Please check your Internet connection and try again.")));
        } else if (result == "Offlinemode") {
            if (askOnlineMode() && AvAccountState::changePassword(oldPassword, newPassword, recovery) == "OK")
                break;
        }
    }
}
