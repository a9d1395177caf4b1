#include "AvTray.h"

#include "AvAboutDialog.h"
#include "AvAccountProcedures.h"
#include "AvAccountState.h"
#include "AvDeleteCacheDir_Mac.h"
#include "AvGlobalSettings.h"
#include "AvUserPrompts.h"

#include "log/AvLog.h"
#include "util/AvStrings.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QThread>
#include <QUrl>

namespace {

AvTray* g_tray = nullptr;

const char* const kSupportPage = "https://www.ardentvault.org/support";

} // namespace

AvTray::AvTray()
    : m_menu(std::make_unique<QMenu>())
    , m_trayIcon(std::make_unique<QSystemTrayIcon>())
    , m_aboutDialog(std::make_unique<AvAboutDialog>())
{
    m_menu->setTitle(tr("Ardentvault"));
    m_idAction = addEntry(QString(), "idAction", &AvTray::copyIDToClipboardSlot);
    m_idAction->setVisible(false);
    m_signOutAction = addEntry(tr("Sign out"), "signOutAction", &AvTray::lockSlot);
    m_signInAction = addEntry(tr("Sign in"), "signInAction", &AvTray::unlockDialogSlot);
    m_menu->addSeparator();
    m_preferencesAction = addEntry(tr("Preferences"), "preferencesAction", &AvTray::showPreferencesDialogSlot);
    m_createAccountAction = addEntry(tr("Create account"), "createAccountAction", &AvTray::showSetupWizardSlot);
    m_firstStepsAction = addEntry(tr("First steps"), "firstStepsAction", &AvTray::showFirstStepsPDFSlot);
    m_helpCenterAction = addEntry(tr("Help center"), "helpCenterAction", &AvTray::showHelpCenterSlot);
    m_aboutAction = addEntry(tr("About Ardentvault"), "aboutAction", &AvTray::showAboutDialogSlot);
    m_menu->addSeparator();
    m_exitAction = addEntry(tr("Exit"), "exitAction", &AvTray::quitSlot);
    connect(m_menu.get(), &QMenu::aboutToShow, this, &AvTray::updateEntriesVisibility);

    const QIcon icon(QStringLiteral(":/trayicon16"));
    setWindowIcon(icon);
    m_trayIcon->setIcon(icon);
    m_trayIcon->setToolTip(tr("Ardentvault"));
    connect(m_trayIcon.get(), &QSystemTrayIcon::activated, this, &AvTray::iconActivated);
    m_trayIcon->show();

    g_tray = this;
}

AvTray::~AvTray()
{
    if (g_tray == this)
        g_tray = nullptr;
}

AvTray* AvTray::instance()
{
    return g_tray;
}

QAction* AvTray::addEntry(const QString& text, const char* objectName, void (AvTray::*slot)())
{
    QAction* action = m_menu->addAction(text);
    action->setObjectName(QLatin1String(objectName));
    connect(action, &QAction::triggered, this, slot);
    return action;
}

void AvTray::setActionsEnabled(bool enable, quint32 mask)
{
    AvTray* tray = instance();
    if (!tray)
        return;
    if (mask == 0) {
        tray->m_trayIcon->setVisible(enable);
        return;
    }
    const std::pair<quint32, QAction*> entries[] = {
        { 0x1, tray->m_signOutAction },
        { 0x2, tray->m_signInAction },
        { 0x4, tray->m_preferencesAction },
        { 0x8, tray->m_createAccountAction },
        { 0x10000, tray->m_firstStepsAction },
        { 0x20000, tray->m_helpCenterAction },
        { 0x40000, tray->m_aboutAction },
        { 0x400000, tray->m_exitAction },
    };
    for (const auto& [bit, action] : entries) {
        if (mask & bit)
            action->setEnabled(enable);
    }
}

void AvTray::updateIdAction()
{
    if (AvTray* tray = instance())
        tray->showAvIDSlot();
}

void AvTray::updateEntriesVisibility()
{
    const bool signedIn = AvAccountState::isSignedIn();
    m_idAction->setVisible(signedIn);
    m_signOutAction->setVisible(signedIn);
    m_signInAction->setVisible(!signedIn);
    m_createAccountAction->setVisible(!signedIn);
}

void AvTray::unlockDialogSlot()
{
    if (AvAccountProcedures::signIn())
        showAvIDSlot();
}

void AvTray::lockSlot()
{
    AvAccountState::signOut();
    showAvIDSlot();
}

void AvTray::showPreferencesDialogSlot()
{
    // The preferences dialog joins the tray when it is built; until then the
    // entry has nothing to show.
}

void AvTray::showSetupWizardSlot()
{
    AvAccountProcedures::runSetupWizard();
    showAvIDSlot();
}

void AvTray::showHelpCenterSlot()
{
    QDesktopServices::openUrl(QUrl(QLatin1String(kSupportPage)));
}

void AvTray::showAboutDialogSlot()
{
    if (!m_aboutDialog->isVisible())
        m_aboutDialog->show();
}

void AvTray::showFirstStepsPDFSlot()
{
    const QString path = firstStepsDocumentPath();
    showInformation(tr("PDFPATH: %1").arg(path), tr("Ardentvault"));
    // Nothing installs the document yet; handing a missing file to the
    // desktop would only bring up an error from another program.
    if (!QFileInfo::exists(path)) {
        AV_LOG(AvLog::Warning) << "PortableMainWindow - First steps document missing: " << toUtf8String(path);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString AvTray::displayedAccountId()
{
    const QString login = QString::fromUtf8(AvAccountState::loginName().c_str());
    if (isUserId(login))
        return QString::fromStdString(formatIdForDisplay(compactNumericId(toUtf8String(login))));
    return login;
}

void AvTray::showAvIDSlot()
{
    if (!AvAccountState::isSignedIn()) {
        m_idAction->setVisible(false);
        return;
    }
    const QString login = QString::fromUtf8(AvAccountState::loginName().c_str());
    m_idAction->setText(isUserId(login) ? tr("ID: ") + displayedAccountId() : login);
    m_idAction->setVisible(true);
}

void AvTray::copyIDToClipboardSlot()
{
    if (AvAccountState::isSignedIn())
        QGuiApplication::clipboard()->setText(displayedAccountId());
}

void AvTray::askAndEmptyCache()
{
    AvGlobalSettings& settings = AvGlobalSettings::instance();
    if (!settings.getFlag(QStringLiteral("NotShowDeleteCacheWarning"), false)) {
        AvDeleteCacheDir_Mac question;
        settings.setClearCacheOnQuit(question.exec() == QDialog::Accepted);
        if (question.dontShowAgain())
            settings.setFlag(QStringLiteral("NotShowDeleteCacheWarning"), true);
    }
    if (settings.getClearCacheOnQuit())
        clearDirectory(settings.getTempDir());
}

void AvTray::quitSlot()
{
    // Closing the main window while the question is open leads here again.
    if (m_quitting)
        return;
    m_quitting = true;
    askAndEmptyCache();
    // Asking a loop to exit when none runs would make every later loop, a
    // dialog's included, return at once.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
    m_quitting = false;
}

void AvTray::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::Trigger:
        updateEntriesVisibility();
        if (m_menu->isVisible())
            m_menu->close();
        m_menu->activateWindow();
        m_menu->popup(QCursor::pos());
        break;
    case QSystemTrayIcon::DoubleClick:
        if (!AvAccountState::isSignedIn())
            AvAccountProcedures::signIn();
        break;
    default:
        break;
    }
}
