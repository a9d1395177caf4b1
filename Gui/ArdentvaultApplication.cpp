#include "ArdentvaultApplication.h"

#include "ArdentvaultPortable.h"
#include "AvAccountProcedures.h"
#include "AvAccountState.h"
#include "AvGlobalSettings.h"
#include "AvTray.h"

#include "log/AvLog.h"

#include <QAction>
#include <QDir>
#include <QFileOpenEvent>
#include <QIcon>
#include <QLocale>
#include <QTranslator>

ArdentvaultApplication::ArdentvaultApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    // The library moves the working directory into the data folder.
    const QString startFolder = QDir::currentPath();

    AvGlobalSettings::instance().initializeOnStartup();
    AvLog::writeStartBanner();

    QTranslator programTexts;
    QTranslator toolkitTexts;
    installTranslations(programTexts, toolkitTexts, QLocale::system().name());

    m_tray = std::make_unique<AvTray>();
    m_mainWindow = std::make_unique<ArdentvaultPortable>(m_tray.get());

    chooseFirstInteraction();
    if (AvAccountState::isSignedIn())
        AvTray::updateIdAction();

    setWindowIcon(QIcon());
    setQuitOnLastWindowClosed(true);
    m_mainWindow->setUnifiedTitleAndToolBarOnMac(true);
    m_mainWindow->updateSignInAction();
    m_mainWindow->show();

    postCommandLineFile(startFolder);
}

ArdentvaultApplication::~ArdentvaultApplication()
{
    // The main window refers to the tray.
    m_mainWindow.reset();
    m_tray.reset();
}

void ArdentvaultApplication::chooseFirstInteraction()
{
    if (AvAccountState::isSignedIn())
        return;
    if (!AvGlobalSettings::instance().getFlag(QStringLiteral("WasUnlocked"), false)) {
        AvAccountProcedures::runSetupWizard();
        return;
    }
    AvTray::setActionsEnabled(false, 0);
    AvAccountProcedures::signIn();
    AvTray::setActionsEnabled(true, 0);
}

void ArdentvaultApplication::installTranslations(
    QTranslator& programTexts, QTranslator& toolkitTexts, const QString& localeName)
{
    const QString folder = applicationDirPath();
    const auto install = [&](QTranslator& translator, const QString& name) {
        if (translator.load(name.arg(localeName), folder) && !translator.isEmpty())
            installTranslator(&translator);
    };
    install(programTexts, QStringLiteral(":/ArdentvaultPortable/app_portable_%1"));
    install(toolkitTexts, QStringLiteral(":/ArdentvaultPortable/qt_%1"));
}

void ArdentvaultApplication::postCommandLineFile(const QString& startFolder)
{
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument.isEmpty() || argument.startsWith(QLatin1Char('-')))
            continue;
        postEvent(this, new QFileOpenEvent(QDir(startFolder).absoluteFilePath(argument)));
        return;
    }
}

bool ArdentvaultApplication::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Close:
        if (m_tray)
            m_tray->exitAction()->trigger();
        return true;
    case QEvent::FileOpen:
        m_pendingOpenFile = static_cast<QFileOpenEvent*>(event)->file();
        if (m_mainWindow)
            m_mainWindow->openFile(m_pendingOpenFile);
        return true;
    default:
        return QApplication::event(event);
    }
}
