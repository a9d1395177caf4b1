#pragma once

// AvTray: the program's icon in the desktop's status area and its menu with
// the account's ID, sign in and out, preferences, account creation, help, the
// about box and Exit. One tray exists per process, created at start-up and
// reachable through instance(); the main window forwards its account commands
// here. Where the desktop has no status area the icon stays invisible and the
// main window offers the same menu.

#include <QDialog>
#include <QSystemTrayIcon>

#include <memory>

class AvAboutDialog;
class QAction;
class QMenu;

class AvTray : public QDialog
{
    Q_OBJECT

public:
    AvTray();
    ~AvTray() override;

    // The tray once it is constructed, null before and after.
    static AvTray* instance();

    // With mask 0 shows or hides the icon; otherwise enables or disables the
    // entries whose bits are set (0x1 "Sign out", 0x2 "Sign in",
    // 0x4 "Preferences", 0x8 "Create account", 0x10000 "First steps",
    // 0x20000 "Help center", 0x40000 "About Ardentvault", 0x400000 "Exit").
    static void setActionsEnabled(bool enable, quint32 mask);
    // Refreshes the ID entry after a sign-in.
    static void updateIdAction();

    QMenu* menu() const { return m_menu.get(); }
    QSystemTrayIcon* trayIcon() const { return m_trayIcon.get(); }
    QAction* exitAction() const { return m_exitAction; }

    // Shows the ID entry and "Sign out" only while signed in, "Sign in" and
    // "Create account" only while signed out.
    void updateEntriesVisibility();

public slots:
    void unlockDialogSlot();
    void lockSlot();
    void showPreferencesDialogSlot();
    void showSetupWizardSlot();
    void showHelpCenterSlot();
    void showAboutDialogSlot();
    void showFirstStepsPDFSlot();
    void showAvIDSlot();
    void copyIDToClipboardSlot();
    void quitSlot();
    void iconActivated(QSystemTrayIcon::ActivationReason reason);

private:
    QAction* addEntry(const QString& text, const char* objectName, void (AvTray::*slot)());
    // The account's identifier as the ID entry shows it (without "ID: ").
    static QString displayedAccountId();
    void askAndEmptyCache();

    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    std::unique_ptr<AvAboutDialog> m_aboutDialog;
    QAction* m_idAction = nullptr;
    QAction* m_signInAction = nullptr;
    QAction* m_signOutAction = nullptr;
    QAction* m_preferencesAction = nullptr;
    QAction* m_createAccountAction = nullptr;
    QAction* m_firstStepsAction = nullptr;
    QAction* m_helpCenterAction = nullptr;
    QAction* m_aboutAction = nullptr;
    QAction* m_exitAction = nullptr;
    bool m_quitting = false;
};
