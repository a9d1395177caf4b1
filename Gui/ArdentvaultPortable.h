#pragma once

// ArdentvaultPortable: the program's main window. This is its frame: title,
// size, the sign-in action that follows the key ring's state, closing as a
// request to quit, and on desktops without a status area the tray's menu in
// the menu bar. The folder browser fills it.

#include <QMainWindow>

class AvTray;
class QAction;
class QCloseEvent;

class ArdentvaultPortable : public QMainWindow
{
    Q_OBJECT

public:
    explicit ArdentvaultPortable(AvTray* tray);

    // A vaulted file handed over by the desktop.
    void openFile(const QString& path);
    // Icon and text of the sign-in action from the key ring's state.
    void updateSignInAction();

    QAction* signInAction() const { return m_signInAction; }

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void actionLogIn();

private:
    AvTray* m_tray;
    QAction* m_signInAction = nullptr;
};
