#include "AvAboutDialog.h"
#include "AvBaseDialog.h"
#include "AvDeleteCacheDir_Mac.h"
#include "AvFormDialog.h"
#include "AvMessageBox.h"
#include "AvOverwriteDialog.h"
#include "AvRetryDialog.h"

#include "AvGuiTest.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFrame>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

class AvDialogsTest : public AvGuiTest
{
};

TEST(AvCentring, IntegerRuleOnOddAndNegativeScreens)
{
    const struct
    {
        QRect screen;
        QRect widget;
        QPoint expected;
    } cases[] = {
        // 1001 wide: right edge 1000, centre 500; a 101-wide widget spans 100.
        { QRect(0, 0, 1001, 601), QRect(0, 0, 101, 51), QPoint(450, 275) },
        { QRect(0, 0, 1000, 600), QRect(7, 9, 100, 50), QPoint(450, 275) },
        // Halves are truncated towards zero, also below zero.
        { QRect(-1001, 0, 1002, 600), QRect(0, 0, 2, 2), QPoint(-500, 299) },
        { QRect(-1001, -601, 1001, 601), QRect(0, 0, 1, 1), QPoint(-501, -301) },
        // A widget larger than the screen starts left of it.
        { QRect(0, 0, 800, 600), QRect(0, 0, 1001, 701), QPoint(-101, -51) },
    };
    for (const auto& c : cases)
        EXPECT_EQ(centeredTopLeft(c.screen, c.widget), c.expected) << c.screen.width() << "x" << c.screen.height();
}

TEST_F(AvDialogsTest, BaseDialogIsCentredAgainOnEveryShow)
{
    AvBaseDialog dialog;
    dialog.resize(201, 101);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();

    dialog.show();
    const QPoint centred = centeredTopLeft(screen, dialog.geometry());
    EXPECT_EQ(dialog.pos(), centred);
    EXPECT_TRUE(dialog.windowIcon().isNull());
    EXPECT_EQ(dialog.parentWidget(), nullptr);

    dialog.hide();
    dialog.move(3, 4);
    dialog.show();
    EXPECT_EQ(dialog.pos(), centred);
}

TEST_F(AvDialogsTest, MessageBoxWithParentKeepsStandardPlacement)
{
    QWidget parent;
    parent.setGeometry(5, 5, 300, 200);
    AvMessageBox box(QStringLiteral("t"), QStringLiteral("x"), QMessageBox::Ok, &parent);
    box.move(1, 2);
    AvNextDialog answer([](QWidget* window) {
        EXPECT_NE(window->pos(), centeredTopLeft(QGuiApplication::primaryScreen()->geometry(), window->geometry()));
        clickStandardButton(window, QMessageBox::Ok);
    });
    box.exec();
    EXPECT_TRUE(answer.answered());
}

TEST_F(AvDialogsTest, MessageBoxWithoutParentIsCentred)
{
    AvMessageBox box(QStringLiteral("t"), QStringLiteral("x"), QMessageBox::Ok);
    AvNextDialog answer([](QWidget* window) {
        EXPECT_EQ(window->pos(), centeredTopLeft(QGuiApplication::primaryScreen()->geometry(), window->geometry()));
        clickStandardButton(window, QMessageBox::Ok);
    });
    box.exec();
    EXPECT_TRUE(answer.answered());
}

TEST_F(AvDialogsTest, FormDialogRunsAtItsFixedSizeHint)
{
    AvFormDialog dialog;
    EXPECT_TRUE(dialog.styleSheet().contains(QStringLiteral("AvFormDialog { background-color: rgb(251, 250, 248);")));
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(QStringLiteral("A form"));
    label->setMinimumSize(150, 40);
    layout->addWidget(label);
    QSize shownSize;
    AvNextDialog answer([&](QWidget* window) {
        shownSize = window->size();
        EXPECT_EQ(window->minimumSize(), window->maximumSize());
        static_cast<QDialog*>(window)->done(5);
    });
    EXPECT_EQ(dialog.execFixedSize(), 5);
    EXPECT_EQ(shownSize, layout->sizeHint());
}

TEST_F(AvDialogsTest, FormDialogPaintsTheSharedLook)
{
    AvFormDialog dialog;
    dialog.resize(200, 120);
    dialog.show();
    const QImage picture = dialog.grab().toImage();
    EXPECT_EQ(QColor(picture.pixel(100, 10)), QColor(251, 250, 248));
    // The grey band along the bottom.
    EXPECT_EQ(QColor(picture.pixel(100, 119)), QColor(220, 220, 220));
    EXPECT_EQ(QColor(picture.pixel(100, 120 - 48)), QColor(220, 220, 220));
    EXPECT_EQ(QColor(picture.pixel(100, 120 - 49)), QColor(251, 250, 248));
}

TEST_F(AvDialogsTest, OverwriteAnswersEveryButtonWithAndWithoutRemember)
{
    const struct
    {
        const char* button;
        bool remember;
        AvOverwriteDialog::mode expected;
    } cases[] = {
        { "overwriteButton", false, AvOverwriteDialog::Overwrite },
        { "overwriteButton", true, AvOverwriteDialog::OverwriteAlways },
        { "skipButton", false, AvOverwriteDialog::NoOverwrite },
        { "skipButton", true, AvOverwriteDialog::NoOverwriteAlways },
        { "copyButton", false, AvOverwriteDialog::Copy },
        { "copyButton", true, AvOverwriteDialog::CopyAlways },
        { "cancelButton", false, AvOverwriteDialog::Cancel },
        { "cancelButton", true, AvOverwriteDialog::Cancel },
    };
    const QFile existing(QStringLiteral("/data/report.pdf.avlt"));
    for (const auto& c : cases) {
        QString labels;
        AvNextDialog answer([&](QWidget* window) {
            for (const QLabel* label : window->findChildren<QLabel*>())
                labels += label->text() + QLatin1Char('|');
            if (c.remember)
                window->findChild<QCheckBox*>(QStringLiteral("rememberBox"))->setChecked(true);
            clickButton(window, QLatin1String(c.button));
        });
        EXPECT_EQ(AvOverwriteDialog::ask(existing), c.expected) << c.button << " remember " << c.remember;
        EXPECT_EQ(answer.title(), QStringLiteral("File Exists"));
        EXPECT_EQ(labels,
            QStringLiteral("There is a file with the same name in the directory.|"
                           "Filepath: /data/report.pdf.avlt|"));
    }
}

TEST_F(AvDialogsTest, OverwriteClosedWindowIsCancel)
{
    for (const bool remember : { false, true }) {
        AvNextDialog answer([&](QWidget* window) {
            window->findChild<QCheckBox*>(QStringLiteral("rememberBox"))->setChecked(remember);
            static_cast<QDialog*>(window)->reject();
        });
        EXPECT_EQ(AvOverwriteDialog::ask(QFile(QStringLiteral("/x"))), AvOverwriteDialog::Cancel);
        EXPECT_TRUE(answer.answered());
    }
}

TEST_F(AvDialogsTest, RetryAnswersAndHasNoRememberBox)
{
    const struct
    {
        const char* button;
        int expected;
    } cases[] = { { "retryButton", 1 }, { "skipButton", 2 }, { "cancelButton", 3 }, { nullptr, 3 } };
    for (const auto& c : cases) {
        AvNextDialog answer([&](QWidget* window) {
            EXPECT_EQ(window->findChild<QCheckBox*>(), nullptr);
            const QLabel* label = window->findChild<QLabel*>();
            EXPECT_EQ(label->text(), QStringLiteral("No access on file /data/locked.txt."));
            if (c.button)
                clickButton(window, QLatin1String(c.button));
            else
                static_cast<QDialog*>(window)->reject();
        });
        EXPECT_EQ(AvRetryDialog::ask(QFile(QStringLiteral("/data/locked.txt"))), c.expected);
        EXPECT_EQ(answer.title(), QStringLiteral("File Access Denied"));
    }
}

TEST_F(AvDialogsTest, DeleteCacheQuestionFormAndAnswers)
{
    const struct
    {
        QDialogButtonBox::StandardButton button;
        bool tick;
        int expected;
    } cases[] = {
        { QDialogButtonBox::Yes, false, 1 }, { QDialogButtonBox::No, true, 0 },
        { QDialogButtonBox::NoButton, false, 0 }, // closed
    };
    for (const auto& c : cases) {
        AvDeleteCacheDir_Mac question;
        EXPECT_EQ(question.windowTitle(), QStringLiteral("Clear cache"));
        for (const char* name : { "label", "showAgain_chkBox", "buttonBox", "frame" })
            EXPECT_NE(question.findChild<QWidget*>(QLatin1String(name)), nullptr) << name;
        AvNextDialog answer([&](QWidget* window) {
            window->findChild<QCheckBox*>(QStringLiteral("showAgain_chkBox"))->setChecked(c.tick);
            auto* box = window->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
            if (c.button == QDialogButtonBox::NoButton)
                static_cast<QDialog*>(window)->reject();
            else
                box->button(c.button)->click();
        });
        EXPECT_EQ(question.exec(), c.expected);
        EXPECT_EQ(question.dontShowAgain(), c.tick);
    }
}

TEST_F(AvDialogsTest, AboutBoxShowsVersionAndDate)
{
    AvAboutDialog about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Ardentvault"));
    const auto* version = about.findChild<QLineEdit*>(QStringLiteral("version_ledit"));
    const auto* date = about.findChild<QLineEdit*>(QStringLiteral("date_ledit"));
    ASSERT_TRUE(version && date);
    EXPECT_EQ(version->text(), QStringLiteral("0.9.1737 OSX"));
    EXPECT_EQ(date->text(), QStringLiteral("2012/07/31 17:27:03"));
    EXPECT_FALSE(version->isEnabled());
    EXPECT_FALSE(version->hasFrame());
    const auto* icon = about.findChild<QLabel*>(QStringLiteral("icon_lbl"));
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->pixmap().isNull()) << "the embedded :/icon";
    const auto* support = about.findChild<QLabel*>(QStringLiteral("label_Support"));
    ASSERT_NE(support, nullptr);
    EXPECT_TRUE(support->openExternalLinks());
}

} // namespace
