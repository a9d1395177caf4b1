#include "ArdentvaultApplication.h"
#include "AvDeleteCacheDir_Mac.h"
#include "AvTray.h"
#include "AvUserPrompts.h"

#include "AvGuiTest.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>

namespace {

class AvTranslationsTest : public AvGuiTest
{
protected:
    QStringList menuTexts()
    {
        AvTray tray;
        QStringList texts;
        for (const QAction* entry : tray.menu()->actions()) {
            if (!entry->isSeparator() && !entry->text().isEmpty())
                texts << entry->text();
        }
        return texts;
    }
};

TEST_F(AvTranslationsTest, GermanLocaleTranslatesTrayDialogsAndToolkit)
{
    QTranslator program;
    QTranslator toolkit;
    ArdentvaultApplication::installTranslations(program, toolkit, QStringLiteral("de_DE"));
    EXPECT_FALSE(program.isEmpty());
    EXPECT_FALSE(toolkit.isEmpty());

    EXPECT_EQ(menuTexts(),
        (QStringList{ QStringLiteral("Abmelden"), QStringLiteral("Anmelden"), QStringLiteral("Einstellungen"),
            QStringLiteral("Konto erstellen"), QStringLiteral("Erste Schritte"), QStringLiteral("Hilfe-Center"),
            QStringLiteral("Über Ardentvault"), QStringLiteral("Beenden") }));

    AvDeleteCacheDir_Mac question;
    EXPECT_EQ(question.windowTitle(), QStringLiteral("Cache leeren"));

    QString yesText;
    AvNextDialog answer([&](QWidget* box) {
        yesText = static_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->text();
        clickStandardButton(box, QMessageBox::No);
    });
    askYesNo(QStringLiteral("?"), false, QStringLiteral("t"));
    EXPECT_EQ(yesText, QStringLiteral("&Ja"));

    AvNextDialog unlock([](QWidget* box) { clickStandardButton(box, QMessageBox::Ok); });
    showUnlockRequired();
    EXPECT_EQ(unlock.title(), QStringLiteral("Anmeldung erforderlich"));
}

TEST_F(AvTranslationsTest, OtherLocalesKeepEnglish)
{
    for (const char* locale : { "fr_FR", "en_US", "C" }) {
        QTranslator program;
        QTranslator toolkit;
        ArdentvaultApplication::installTranslations(program, toolkit, QLatin1String(locale));
        EXPECT_TRUE(program.isEmpty()) << locale;
        EXPECT_TRUE(toolkit.isEmpty()) << locale;
        EXPECT_TRUE(menuTexts().contains(QStringLiteral("Exit"))) << locale;
    }
}

TEST_F(AvTranslationsTest, LanguageOnlyLocaleFindsGermanToo)
{
    QTranslator program;
    QTranslator toolkit;
    ArdentvaultApplication::installTranslations(program, toolkit, QStringLiteral("de_AT"));
    EXPECT_TRUE(menuTexts().contains(QStringLiteral("Beenden")));
}

} // namespace
