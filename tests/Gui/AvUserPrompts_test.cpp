#include "AvUserPrompts.h"

#include "AvGlobalSettings.h"

#include "AvGuiTest.h"

#include "settings/AvGlobalLibSettings.h"

#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

namespace {

class AvUserPromptsTest : public AvGuiTest
{
protected:
    void TearDown() override
    {
        AvGlobalSettings::instance().setOfflineMode(false);
        AvGuiTest::TearDown();
    }
};

TEST_F(AvUserPromptsTest, GenericBoxesCarryIconTitleAndText)
{
    const struct
    {
        void (*show)(const QString&, const QString&);
        QMessageBox::Icon icon;
    } cases[] = {
        { &showInformation, QMessageBox::Information },
        { &showWarning, QMessageBox::Warning },
        { &showCritical, QMessageBox::Critical },
    };
    for (const auto& c : cases) {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        AvNextDialog answer([&](QWidget* box) {
            icon = static_cast<QMessageBox*>(box)->icon();
            clickStandardButton(box, QMessageBox::Ok);
        });
        c.show(QStringLiteral("the text"), QStringLiteral("the title"));
        EXPECT_EQ(icon, c.icon);
        EXPECT_EQ(answer.title(), QStringLiteral("the title"));
        EXPECT_EQ(answer.text(), QStringLiteral("the text"));
    }
}

TEST_F(AvUserPromptsTest, AskYesNoDefaultButton)
{
    for (const bool boxChooses : { false, true }) {
        QAbstractButton* defaultButton = nullptr;
        QAbstractButton* yes = nullptr;
        AvNextDialog answer([&](QWidget* window) {
            auto* box = static_cast<QMessageBox*>(window);
            defaultButton = box->defaultButton();
            yes = box->button(QMessageBox::Yes);
            clickStandardButton(box, QMessageBox::No);
        });
        EXPECT_FALSE(askYesNo(QStringLiteral("?"), boxChooses, QStringLiteral("t")));
        if (!boxChooses) {
            EXPECT_EQ(defaultButton, yes);
        }
    }
    AvNextDialog yes([](QWidget* box) { clickStandardButton(box, QMessageBox::Yes); });
    EXPECT_TRUE(askYesNo(QStringLiteral("?"), false, QStringLiteral("t")));
}

TEST_F(AvUserPromptsTest, AskOnlineModeWhileOnlineAsksNothing)
{
    AvNextDialog unexpected([](QWidget* box) { static_cast<QDialog*>(box)->reject(); });
    EXPECT_TRUE(askOnlineMode());
    EXPECT_FALSE(unexpected.answered());
    EXPECT_FALSE(QSettings().contains(QStringLiteral("General/Offlinemode")));
}

TEST_F(AvUserPromptsTest, AskOnlineModeWhileOffline)
{
    const struct
    {
        int button;
        bool expected;
    } cases[] = { { QMessageBox::Yes, true }, { QMessageBox::No, false } };
    for (const auto& c : cases) {
        AvGlobalSettings::instance().setOfflineMode(true);
        AvNextDialog answer([&](QWidget* box) { clickStandardButton(box, c.button); });
        EXPECT_EQ(askOnlineMode(), c.expected);
        EXPECT_EQ(answer.title(), QStringLiteral("Online Mode Required"));
        EXPECT_EQ(answer.text(),
            QStringLiteral("This action requires a connection to the Ardentvault server.<P>"
                           "Do you want to activate Online Mode now?"));
        EXPECT_EQ(AvGlobalSettings::instance().getOfflineMode(), !c.expected);
        EXPECT_EQ(AvGlobalLibSettings::instance().offlineMode, !c.expected);
    }
}

TEST_F(AvUserPromptsTest, NoAccessNamesTheSignedInUser)
{
    AvNextDialog signedOut([](QWidget* box) { clickStandardButton(box, QMessageBox::Ok); });
    showNoAccess();
    EXPECT_EQ(signedOut.title(), QStringLiteral("No Access"));
    EXPECT_EQ(signedOut.text(), QStringLiteral("No access to the file. Please sign in to proceed."));

    signInAs("123456");
    AvNextDialog signedIn([](QWidget* box) { clickStandardButton(box, QMessageBox::Ok); });
    showNoAccess();
    EXPECT_EQ(signedIn.text(),
        QStringLiteral("You are logged in as '123456'. This account does not have access to the file."));

    // Names travel to the library as UTF-8 and must come back as such.
    signInAs("j\xc3\xbcrgen@beispiel.de");
    AvNextDialog nonAscii([](QWidget* box) { clickStandardButton(box, QMessageBox::Ok); });
    showNoAccess();
    EXPECT_EQ(nonAscii.text(),
        QStringLiteral("You are logged in as 'jürgen@beispiel.de'. This account does not have access to the file."));
}

TEST_F(AvUserPromptsTest, FixedPrompts)
{
    AvNextDialog unlock([](QWidget* box) { clickStandardButton(box, QMessageBox::Ok); });
    showUnlockRequired();
    EXPECT_EQ(unlock.title(), QStringLiteral("Unlock Required"));
    EXPECT_EQ(unlock.text(), QStringLiteral("Please sign in your account to proceed."));

    AvNextDialog invalid([](QWidget* box) { clickStandardButton(box, QMessageBox::Ok); });
    showInvalidFile(QFile(QStringLiteral("/data/broken.avlt")));
    EXPECT_EQ(invalid.title(), QStringLiteral("Invalid File"));
    EXPECT_EQ(invalid.text(), QStringLiteral("The file /data/broken.avlt cannot be read."));

    QList<QAbstractButton*> buttons;
    AvNextDialog failed([&](QWidget* box) {
        buttons = static_cast<QMessageBox*>(box)->buttons();
        clickStandardButton(box, QMessageBox::Cancel);
    });
    EXPECT_EQ(showConnectionFailed(), 0);
    EXPECT_EQ(failed.title(), QStringLiteral("Connection Failed"));
    EXPECT_EQ(buttons.size(), 1);
}

TEST_F(AvUserPromptsTest, ChangePasswordWhileSignedOutOnlyAsksToSignIn)
{
    AvNextDialog unlock([](QWidget* box) { clickStandardButton(box, QMessageBox::Ok); });
    changePasswordDialog();
    EXPECT_EQ(unlock.title(), QStringLiteral("Unlock Required"));
    EXPECT_FALSE(AvGlobalSettings::instance().getRunFlag(QStringLiteral("AuthenticationDialogOpen"), false));
}

TEST_F(AvUserPromptsTest, ChangePasswordDoesNotOpenOverASignIn)
{
    signInAs("123456");
    AvGlobalSettings::instance().setRunFlag(QStringLiteral("AuthenticationDialogOpen"), true);
    AvNextDialog unexpected([](QWidget* window) { static_cast<QDialog*>(window)->reject(); });
    changePasswordDialog();
    EXPECT_FALSE(unexpected.answered());
    AvGlobalSettings::instance().setRunFlag(QStringLiteral("AuthenticationDialogOpen"), false);
}

TEST_F(AvUserPromptsTest, ChangePasswordOfALocalAccountStopsMismatchesAndReportsDenial)
{
    signInAs("123456");
    // First round: the repeated password differs, which must not reach the
    // key ring. Second round: matching, but the old password is wrong.
    QStringList messages;
    bool recoveryBoxShown = true;
    bool flagWhileOpen = false;
    int round = 0;
    std::function<void(QWidget*)> answerRound;
    std::unique_ptr<AvNextDialog> next;
    answerRound = [&](QWidget* window) {
        auto* dialog = static_cast<QDialog*>(window);
        recoveryBoxShown = window->findChild<QCheckBox*>(QStringLiteral("recoveryBox")) != nullptr;
        flagWhileOpen = AvGlobalSettings::instance().getRunFlag(QStringLiteral("AuthenticationDialogOpen"), false);
        messages << window->findChild<QLabel*>(QStringLiteral("messageLabel"))->text();
        const auto type = [&](const char* name, const char* text) {
            window->findChild<QLineEdit*>(QLatin1String(name))->setText(QLatin1String(text));
        };
        ++round;
        if (round == 1) {
            type("oldPasswordEdit", "Secret-Pass1");
            type("newPasswordEdit", "New-Secret-22");
            type("repeatPasswordEdit", "New-Secret-23");
        } else if (round == 2) {
            type("oldPasswordEdit", "Wrong-Pass1");
            type("repeatPasswordEdit", "New-Secret-22");
        }
        if (round < 3) {
            next = std::make_unique<AvNextDialog>(answerRound);
            dialog->accept();
        } else {
            dialog->reject();
        }
    };
    next = std::make_unique<AvNextDialog>(answerRound);
    changePasswordDialog();

    ASSERT_EQ(round, 3);
    EXPECT_FALSE(recoveryBoxShown);
    EXPECT_TRUE(flagWhileOpen);
    EXPECT_EQ(messages.at(0), QString());
    EXPECT_EQ(messages.at(1),
        QStringLiteral("<P><font color='red'>New password and repeated new password don't match</font>"));
    EXPECT_EQ(messages.at(2), QStringLiteral("<P><font color='red'>Access denied</font>"));
    EXPECT_FALSE(AvGlobalSettings::instance().getRunFlag(QStringLiteral("AuthenticationDialogOpen"), false));
}

} // namespace
