#include "ArdentvaultPortable.h"

#include "AvAccountState.h"
#include "AvTray.h"

#include <QAction>
#include <QCloseEvent>
#include <QIcon>
#include <QMenuBar>
#include <QSystemTrayIcon>
#include <QToolBar>

ArdentvaultPortable::ArdentvaultPortable(AvTray* tray)
    : QMainWindow(nullptr)
    , m_tray(tray)
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(tr("Ardentvault"));
    resize(800, 600);
    setMinimumSize(800, 600);
    setCentralWidget(new QWidget(this));

    auto* toolBar = new QToolBar(QStringLiteral("toolBar"), this);
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setIconSize(QSize(25, 25));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    addToolBar(Qt::TopToolBarArea, toolBar);
    addToolBarBreak(Qt::TopToolBarArea);
    m_signInAction = toolBar->addAction(QIcon(QStringLiteral(":/Symbol Security.ico")), tr("Sign in"));
    m_signInAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(m_signInAction, &QAction::triggered, this, &ArdentvaultPortable::actionLogIn);

    // Without a status area the tray's commands would be out of reach.
    if (m_tray && !QSystemTrayIcon::isSystemTrayAvailable())
        menuBar()->addMenu(m_tray->menu());
}

void ArdentvaultPortable::openFile(const QString& path)
{
    // Showing the file's folder and opening the file is the folder browser's
    // work; the frame has no list to show it in.
    Q_UNUSED(path);
}

void ArdentvaultPortable::updateSignInAction()
{
    if (AvAccountState::isSignedIn()) {
        m_signInAction->setIcon(QIcon(QStringLiteral(":/Symbol Security Unlocked.ico")));
        m_signInAction->setText(tr("Sign out"));
    } else {
        m_signInAction->setIcon(QIcon(QStringLiteral(":/Symbol Security.ico")));
        m_signInAction->setText(tr("Sign in"));
    }
}

void ArdentvaultPortable::actionLogIn()
{
    if (!m_tray)
        return;
    if (AvAccountState::isSignedIn())
        m_tray->lockSlot();
    else
        m_tray->unlockDialogSlot();
    updateSignInAction();
}

void ArdentvaultPortable::closeEvent(QCloseEvent* event)
{
    if (m_tray)
        m_tray->exitAction()->trigger();
    event->accept();
}
