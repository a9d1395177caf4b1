#include "ArdentvaultApplication.h"

#include "ArdentvaultPortable.h"
#include "AvAccountProcedures.h"
#include "AvGlobalSettings.h"
#include "AvTray.h"

#include "AvGuiTest.h"

#include "keyring/AvKeyring.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileOpenEvent>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <vector>

namespace fs = std::filesystem;

namespace {

// What the start-up showed, in order, with the state of the main window and
// the tray icon at that moment.
struct StartupStep
{
    std::string procedure;
    bool mainWindowVisible;
    bool trayIconVisible;
};

bool mainWindowVisible()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (qobject_cast<ArdentvaultPortable*>(widget))
            return widget->isVisible();
    }
    return false;
}

class ArdentvaultApplicationTest : public AvGuiTest
{
protected:
    bool needsApplication() const override { return false; }

    void SetUp() override
    {
        AvGuiTest::SetUp();
        const auto record = [this](const char* procedure) {
            m_steps.push_back(
                { procedure, mainWindowVisible(), AvTray::instance() && AvTray::instance()->trayIcon()->isVisible() });
        };
        AvAccountProcedures::replaceForTests(
            [=] {
                record("sign-in");
                return AvKeyring::instance().unlocked;
            },
            [=] { record("setup wizard"); });
    }
    void TearDown() override
    {
        m_application.reset();
        AvAccountProcedures::replaceForTests({}, {});
        AvGuiTest::TearDown();
    }

    ArdentvaultApplication& start(const std::vector<std::string>& arguments = {})
    {
        m_arguments = { "ardentvault" };
        m_arguments.insert(m_arguments.end(), arguments.begin(), arguments.end());
        m_argv.clear();
        for (std::string& argument : m_arguments)
            m_argv.push_back(argument.data());
        m_argv.push_back(nullptr);
        m_argc = int(m_arguments.size());
        m_application = std::make_unique<ArdentvaultApplication>(m_argc, m_argv.data());
        return *m_application;
    }

    std::unique_ptr<AvNextDialog> answerDeleteCacheQuestion()
    {
        return std::make_unique<AvNextDialog>(
            [](QWidget* window) { window->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Yes)->click(); });
    }

    std::vector<StartupStep> m_steps;
    std::vector<std::string> m_arguments;
    std::vector<char*> m_argv;
    int m_argc = 0;
    std::unique_ptr<ArdentvaultApplication> m_application;
};

TEST_F(ArdentvaultApplicationTest, FirstRunRunsTheSetupWizardBeforeTheMainWindowShows)
{
    ArdentvaultApplication& app = start();
    ASSERT_EQ(m_steps.size(), 1u);
    EXPECT_EQ(m_steps[0].procedure, "setup wizard");
    EXPECT_FALSE(m_steps[0].mainWindowVisible);
    EXPECT_TRUE(app.mainWindow()->isVisible());
    EXPECT_TRUE(app.tray()->trayIcon()->isVisible());
}

TEST_F(ArdentvaultApplicationTest, LaterRunHidesTheTrayIconAroundSignIn)
{
    AvGlobalSettings::instance().setFlag(QStringLiteral("WasUnlocked"), true);
    ArdentvaultApplication& app = start();
    ASSERT_EQ(m_steps.size(), 1u);
    EXPECT_EQ(m_steps[0].procedure, "sign-in");
    EXPECT_FALSE(m_steps[0].trayIconVisible);
    EXPECT_FALSE(m_steps[0].mainWindowVisible);
    EXPECT_TRUE(app.tray()->trayIcon()->isVisible());
    EXPECT_TRUE(app.mainWindow()->isVisible());
    EXPECT_EQ(app.mainWindow()->signInAction()->text(), QStringLiteral("Sign in"));
}

TEST_F(ArdentvaultApplicationTest, SignedInRunAsksNothingAndShowsTheAccount)
{
    signInAs("123456789");
    ArdentvaultApplication& app = start();
    EXPECT_TRUE(m_steps.empty());
    const QAction* id = app.tray()->menu()->findChild<QAction*>(QStringLiteral("idAction"));
    EXPECT_EQ(id->text(), QStringLiteral("ID: 123 456 789"));
    EXPECT_EQ(app.mainWindow()->signInAction()->text(), QStringLiteral("Sign out"));
}

TEST_F(ArdentvaultApplicationTest, StartWritesTheBannerAndShowsThePlainMainWindow)
{
    ArdentvaultApplication& app = start();
    const std::string log = readWholeFile(home() + "/Documents/Ardentvault/Ardentvault.log");
    EXPECT_NE(log.find("Ardentvault Start: "), std::string::npos) << log;
    EXPECT_NE(log.find("Version          : 0.9.1737 OSX"), std::string::npos) << log;
    EXPECT_EQ(app.mainWindow()->windowTitle(), QStringLiteral("Ardentvault"));
    EXPECT_EQ(app.mainWindow()->size(), QSize(800, 600));
    EXPECT_EQ(app.mainWindow()->minimumSize(), QSize(800, 600));
    EXPECT_TRUE(app.quitOnLastWindowClosed());
    EXPECT_EQ(QCoreApplication::organizationName(), QStringLiteral("ardentvault.org"));
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Ardentvault"));
}

TEST_F(ArdentvaultApplicationTest, FileOpenEventIsKeptAndHandled)
{
    ArdentvaultApplication& app = start();
    QFileOpenEvent event(QStringLiteral("/data/report.pdf.avlt"));
    EXPECT_TRUE(QCoreApplication::sendEvent(&app, &event));
    EXPECT_EQ(app.pendingOpenFile(), QStringLiteral("/data/report.pdf.avlt"));
}

TEST_F(ArdentvaultApplicationTest, CommandLinePathArrivesAsFileOpenAgainstTheStartFolder)
{
    fs::current_path(home());
    ArdentvaultApplication& app = start({ "docs/report.pdf.avlt" });
    EXPECT_TRUE(app.pendingOpenFile().isEmpty());
    QCoreApplication::processEvents();
    EXPECT_EQ(app.pendingOpenFile(), QString::fromStdString(home() + "/docs/report.pdf.avlt"));
}

TEST_F(ArdentvaultApplicationTest, ExitEndsTheEventLoopAfterEmptyingTheCache)
{
    ArdentvaultApplication& app = start();
    const std::string cache = AvGlobalSettings::instance().getTempDir().toStdString();
    ASSERT_TRUE(writeWholeFile(cache + "/opened.txt", "plain"));

    auto answer = answerDeleteCacheQuestion();
    QTimer::singleShot(0, app.tray()->exitAction(), &QAction::trigger);
    EXPECT_EQ(app.exec(), 0);
    EXPECT_TRUE(answer->answered());
    EXPECT_FALSE(fs::exists(cache + "/opened.txt"));
    EXPECT_TRUE(fs::is_directory(cache));
}

TEST_F(ArdentvaultApplicationTest, CloseEventAndClosingTheMainWindowQuitThroughExit)
{
    ArdentvaultApplication& app = start();
    const std::string cache = AvGlobalSettings::instance().getTempDir().toStdString();

    ASSERT_TRUE(writeWholeFile(cache + "/a.txt", "plain"));
    auto first = answerDeleteCacheQuestion();
    QEvent close(QEvent::Close);
    EXPECT_TRUE(QCoreApplication::sendEvent(&app, &close));
    EXPECT_TRUE(first->answered());
    EXPECT_FALSE(fs::exists(cache + "/a.txt"));

    ASSERT_TRUE(writeWholeFile(cache + "/b.txt", "plain"));
    auto second = answerDeleteCacheQuestion();
    QTimer::singleShot(0, app.mainWindow(), &QWidget::close);
    EXPECT_EQ(app.exec(), 0);
    EXPECT_TRUE(second->answered());
    EXPECT_FALSE(fs::exists(cache + "/b.txt"));
}

} // namespace
