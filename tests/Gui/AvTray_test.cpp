#include "AvTray.h"

#include "AvAccountProcedures.h"
#include "AvGlobalSettings.h"

#include "AvGuiTest.h"

#include "keyring/AvKeyring.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QUrl>

#include <filesystem>
#include <memory>

namespace fs = std::filesystem;

namespace {

// Receives what the program hands to the desktop to open.
class AvOpenedUrls : public QObject
{
    Q_OBJECT

public:
    AvOpenedUrls()
    {
        for (const char* scheme : { "file", "https" })
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
    }
    ~AvOpenedUrls() override
    {
        for (const char* scheme : { "file", "https" })
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
    }

    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls << url; }
};

class AvTrayTest : public AvGuiTest
{
protected:
    void SetUp() override
    {
        AvGuiTest::SetUp();
        AvAccountProcedures::replaceForTests(
            [this] {
                ++m_signIns;
                return AvKeyring::instance().unlocked;
            },
            [this] { ++m_wizardRuns; });
        m_tray = std::make_unique<AvTray>();
    }
    void TearDown() override
    {
        m_tray.reset();
        AvAccountProcedures::replaceForTests({}, {});
        AvGuiTest::TearDown();
    }

    QAction* action(const char* name) const { return m_tray->menu()->findChild<QAction*>(QLatin1String(name)); }

    std::unique_ptr<AvTray> m_tray;
    int m_signIns = 0;
    int m_wizardRuns = 0;
};

TEST_F(AvTrayTest, MenuOrder)
{
    QStringList texts;
    for (const QAction* entry : m_tray->menu()->actions())
        texts << (entry->isSeparator() ? QStringLiteral("--") : entry->text());
    EXPECT_EQ(texts,
        (QStringList{ QString(), QStringLiteral("Sign out"), QStringLiteral("Sign in"), QStringLiteral("--"),
            QStringLiteral("Preferences"), QStringLiteral("Create account"), QStringLiteral("First steps"),
            QStringLiteral("Help center"), QStringLiteral("About Ardentvault"), QStringLiteral("--"),
            QStringLiteral("Exit") }));
    EXPECT_EQ(AvTray::instance(), m_tray.get());
    EXPECT_EQ(m_tray->trayIcon()->toolTip(), QStringLiteral("Ardentvault"));
    EXPECT_TRUE(m_tray->trayIcon()->isVisible());
    EXPECT_FALSE(m_tray->trayIcon()->icon().isNull()) << "the embedded :/trayicon16";
}

TEST_F(AvTrayTest, SetActionsEnabledMaskBits)
{
    const struct
    {
        quint32 bit;
        const char* entry;
    } cases[] = {
        { 0x1, "signOutAction" },
        { 0x2, "signInAction" },
        { 0x4, "preferencesAction" },
        { 0x8, "createAccountAction" },
        { 0x10000, "firstStepsAction" },
        { 0x20000, "helpCenterAction" },
        { 0x40000, "aboutAction" },
        { 0x400000, "exitAction" },
    };
    for (const auto& c : cases) {
        AvTray::setActionsEnabled(false, c.bit);
        for (const auto& other : cases)
            EXPECT_EQ(action(other.entry)->isEnabled(), other.bit != c.bit) << c.entry << " / " << other.entry;
        AvTray::setActionsEnabled(true, c.bit);
    }

    // Bits without an entry change nothing, the icon included.
    AvTray::setActionsEnabled(false, 0x10 | 0x8000 | 0x800000);
    for (const auto& c : cases)
        EXPECT_TRUE(action(c.entry)->isEnabled()) << c.entry;
    EXPECT_TRUE(m_tray->trayIcon()->isVisible());

    AvTray::setActionsEnabled(false, 0xffff);
    EXPECT_FALSE(action("signInAction")->isEnabled());
    EXPECT_TRUE(action("firstStepsAction")->isEnabled());
    AvTray::setActionsEnabled(true, 0xffff);

    AvTray::setActionsEnabled(false, 0);
    EXPECT_FALSE(m_tray->trayIcon()->isVisible());
    AvTray::setActionsEnabled(true, 0);
    EXPECT_TRUE(m_tray->trayIcon()->isVisible());
}

TEST_F(AvTrayTest, ClickShowsEntriesForTheSignInState)
{
    for (const bool signedIn : { false, true }) {
        if (signedIn)
            signInAs("123456");
        m_tray->iconActivated(QSystemTrayIcon::Trigger);
        EXPECT_TRUE(m_tray->menu()->isVisible());
        EXPECT_EQ(action("idAction")->isVisible(), signedIn);
        EXPECT_EQ(action("signOutAction")->isVisible(), signedIn);
        EXPECT_EQ(action("signInAction")->isVisible(), !signedIn);
        EXPECT_EQ(action("createAccountAction")->isVisible(), !signedIn);
        m_tray->menu()->close();
    }
}

TEST_F(AvTrayTest, DoubleClickSignsInOnlyWhenSignedOut)
{
    m_tray->iconActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(m_signIns, 1);
    signInAs("123456");
    m_tray->iconActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(m_signIns, 1);
    m_tray->iconActivated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(m_signIns, 1);
    EXPECT_FALSE(m_tray->menu()->isVisible());
}

TEST_F(AvTrayTest, IdEntryGroupsANumericIdAndCopiesIt)
{
    signInAs("123456789");
    AvTray::updateIdAction();
    EXPECT_TRUE(action("idAction")->isVisible());
    EXPECT_EQ(action("idAction")->text(), QStringLiteral("ID: 123 456 789"));
    action("idAction")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("123 456 789"));

    signInAs("alice@example.com");
    AvTray::updateIdAction();
    EXPECT_EQ(action("idAction")->text(), QStringLiteral("alice@example.com"));
    action("idAction")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("alice@example.com"));

    signOut();
    QApplication::clipboard()->setText(QStringLiteral("unchanged"));
    action("idAction")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("unchanged"));
    AvTray::updateIdAction();
    EXPECT_FALSE(action("idAction")->isVisible());
}

TEST_F(AvTrayTest, SignOutForgetsTheAccountAndHidesTheId)
{
    signInAs("123456");
    AvTray::updateIdAction();
    action("signOutAction")->trigger();
    EXPECT_FALSE(AvKeyring::instance().unlocked);
    EXPECT_FALSE(action("idAction")->isVisible());
}

TEST_F(AvTrayTest, SignInAndCreateAccountRunTheirProcedures)
{
    action("signInAction")->trigger();
    EXPECT_EQ(m_signIns, 1);
    action("createAccountAction")->trigger();
    EXPECT_EQ(m_wizardRuns, 1);
}

TEST_F(AvTrayTest, FirstStepsShowsThePathAndOpensAnInstalledDocument)
{
    AvOpenedUrls opened;
    AvNextDialog answer([](QWidget* box) { clickStandardButton(box, QMessageBox::Ok); });
    action("firstStepsAction")->trigger();
    EXPECT_EQ(answer.title(), QStringLiteral("Ardentvault"));
    EXPECT_EQ(answer.text(), QStringLiteral("PDFPATH: ") + firstStepsDocumentPath());
    // Not installed: nothing is handed to the desktop.
    EXPECT_TRUE(opened.urls.isEmpty());

    ASSERT_TRUE(writeWholeFile(firstStepsDocumentPath().toStdString(), "%PDF-1.4"));
    AvNextDialog again([](QWidget* box) { clickStandardButton(box, QMessageBox::Ok); });
    action("firstStepsAction")->trigger();
    EXPECT_EQ(opened.urls, QList<QUrl>{ QUrl::fromLocalFile(firstStepsDocumentPath()) });
}

TEST_F(AvTrayTest, HelpCenterOpensTheSupportPage)
{
    AvOpenedUrls opened;
    action("helpCenterAction")->trigger();
    ASSERT_EQ(opened.urls.size(), 1);
    EXPECT_EQ(opened.urls.front().scheme(), QStringLiteral("https"));
}

class AvTrayQuitTest : public AvTrayTest
{
protected:
    void SetUp() override
    {
        AvTrayTest::SetUp();
        m_cache = dataFolder() + "Cache";
        AvGlobalSettings::instance().getTempDir();
        fs::create_directories(m_cache + "/sub");
        ASSERT_TRUE(writeWholeFile(m_cache + "/sub/opened.txt", "plain"));
    }
    bool cacheEmptied() const { return !fs::exists(m_cache + "/sub/opened.txt") && fs::is_directory(m_cache + "/sub"); }
    // Answers the delete-cache question; `button` null closes it.
    std::unique_ptr<AvNextDialog> answerQuestion(QDialogButtonBox::StandardButton button, bool dontAskAgain)
    {
        return std::make_unique<AvNextDialog>([=](QWidget* window) {
            window->findChild<QCheckBox*>(QStringLiteral("showAgain_chkBox"))->setChecked(dontAskAgain);
            if (button == QDialogButtonBox::NoButton)
                static_cast<QDialog*>(window)->reject();
            else
                window->findChild<QDialogButtonBox*>()->button(button)->click();
        });
    }

    std::string m_cache;
};

TEST_F(AvTrayQuitTest, ExitAsksAndEmptiesTheCacheOnYes)
{
    auto answer = answerQuestion(QDialogButtonBox::Yes, false);
    m_tray->exitAction()->trigger();
    EXPECT_EQ(answer->title(), QStringLiteral("Clear cache"));
    EXPECT_TRUE(cacheEmptied());
    EXPECT_TRUE(AvGlobalSettings::instance().getClearCacheOnQuit());
    EXPECT_FALSE(AvGlobalSettings::instance().getFlag(QStringLiteral("NotShowDeleteCacheWarning"), false));
}

TEST_F(AvTrayQuitTest, NoOrClosingKeepsTheCacheAndIsRemembered)
{
    for (const auto button : { QDialogButtonBox::No, QDialogButtonBox::NoButton }) {
        auto answer = answerQuestion(button, false);
        m_tray->exitAction()->trigger();
        EXPECT_TRUE(answer->answered());
        EXPECT_FALSE(cacheEmptied());
        EXPECT_FALSE(QSettings().value(QStringLiteral("Cache/ClearCache")).toBool());
    }
}

TEST_F(AvTrayQuitTest, DontShowAgainSkipsTheQuestionNextTime)
{
    auto first = answerQuestion(QDialogButtonBox::No, true);
    m_tray->exitAction()->trigger();
    EXPECT_TRUE(AvGlobalSettings::instance().getFlag(QStringLiteral("NotShowDeleteCacheWarning"), false));

    // The remembered "No" holds: nothing asked, nothing deleted.
    auto second = answerQuestion(QDialogButtonBox::Yes, false);
    m_tray->exitAction()->trigger();
    EXPECT_FALSE(second->answered());
    EXPECT_FALSE(cacheEmptied());

    AvGlobalSettings::instance().setClearCacheOnQuit(true);
    m_tray->exitAction()->trigger();
    EXPECT_TRUE(cacheEmptied());
}

} // namespace

#include "AvTray_test.moc"
