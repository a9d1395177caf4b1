#include "AvGlobalSettings.h"

#include "AvGuiTest.h"

#include "keyring/AvKeyring.h"
#include "settings/AvGlobalLibSettings.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QMessageBox>
#include <QSettings>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

class AvGlobalSettingsTest : public AvGuiTest
{
protected:
    AvGlobalSettings& settings() { return AvGlobalSettings::instance(); }
    QString path(const std::string& relative) const { return QString::fromStdString(home() + "/" + relative); }
    void touch(const std::string& relative) const
    {
        fs::create_directories(fs::path(home() + "/" + relative).parent_path());
        ASSERT_TRUE(writeWholeFile(home() + "/" + relative, "x"));
    }
    bool exists(const std::string& relative) const { return fs::exists(fs::symlink_status(home() + "/" + relative)); }
};

TEST_F(AvGlobalSettingsTest, UniqueFileNameCountsUpFromOneBeforeBothExtensions)
{
    touch("docs/report.pdf.avlt");
    EXPECT_EQ(
        uniqueFileName(path("docs/report.pdf.avlt"), QStringLiteral("Copy ")), path("docs/report (Copy 1).pdf.avlt"));

    touch("docs/report (Copy 1).pdf.avlt");
    EXPECT_EQ(
        uniqueFileName(path("docs/report.pdf.avlt"), QStringLiteral("Copy ")), path("docs/report (Copy 2).pdf.avlt"));
}

TEST_F(AvGlobalSettingsTest, UniqueFileNameTable)
{
    const struct
    {
        std::string file;
        std::string expected;
    } cases[] = {
        { "name", "name (Copy 1)" },
        { "notes.txt", "notes (Copy 1).txt" },
        // The folder's dot is no extension of the file.
        { "dir.d/name", "dir.d/name (Copy 1)" },
        { "archive.tar.gz.avlt", "archive.tar (Copy 1).gz.avlt" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(uniqueFileName(path(c.file), QStringLiteral("Copy ")), path(c.expected)) << c.file;
}

TEST_F(AvGlobalSettingsTest, PathInFolderKeepsOnlyTheFileName)
{
    EXPECT_EQ(pathInFolder(QStringLiteral("/a/b/report.pdf"), QStringLiteral("/target")),
        QStringLiteral("/target/report.pdf"));
    EXPECT_EQ(pathInFolder(QStringLiteral("/a/b/report.pdf"), QStringLiteral("/target/")),
        QStringLiteral("/target/report.pdf"));
}

TEST(AvGlobalSettingsValidators, IsUserIdTable)
{
    const struct
    {
        const char* text;
        bool expected;
    } cases[] = {
        { "123456", true },
        { "123 456 789", true },
        { " 123 456 ", true },
        { "123456789012345678901234567890", true },
        { "1234567890123456789012345678901", false },
        { "12345", false },
        { "123 45", false },
        { "123 4a6 789", false },
        { "", false },
        { "     ", false },
        { "alice@example.com", false },
    };
    for (const auto& c : cases)
        EXPECT_EQ(isUserId(QString::fromUtf8(c.text)), c.expected) << c.text;
}

TEST(AvGlobalSettingsValidators, IsStrongPasswordTable)
{
    const struct
    {
        const char* text;
        bool expected;
    } cases[] = {
        { "Abcdefgh1", false }, // nine characters
        { "Abcdefgh12", true }, // ten
        { "abcdefgh12", false }, // no upper-case letter
        { "ABCDEFGH12", false }, // no lower-case letter
        { "Abcdefghij", false }, // no digit
        { "12 Secret pass", true },
    };
    for (const auto& c : cases)
        EXPECT_EQ(isStrongPassword(QString::fromUtf8(c.text)), c.expected) << c.text;
}

TEST(AvGlobalSettingsValidators, IsEmailAddressTable)
{
    const struct
    {
        const char* text;
        bool expected;
    } cases[] = {
        { "alice@example.com", true },
        { "a@b.c", true },
        { "", false },
        { "alice@example", false },
        { "@example.com", false },
        { "alice.example.com", false },
    };
    for (const auto& c : cases)
        EXPECT_EQ(isEmailAddress(QString::fromUtf8(c.text)), c.expected) << c.text;
}

TEST(AvGlobalSettingsConversions, Utf8OutLatin1In)
{
    EXPECT_EQ(toUtf8String(QStringLiteral("Bücher")),
        "B\xc3\xbc"
        "cher");
    EXPECT_EQ(fromByteString("B\xfc"
                             "cher"),
        QStringLiteral("Bücher"));
}

TEST_F(AvGlobalSettingsTest, UnlockedUserDropsAnOldPrefixOnly)
{
    const struct
    {
        const char* stored;
        const char* expected;
    } cases[] = {
        { "abc;", "abc;" },
        { "abc;name;x", "name;x" },
        { "plain", "plain" },
        { ";x", "x" },
        { "", "" },
    };
    for (const auto& c : cases) {
        settings().setUnlockedUser(QString::fromUtf8(c.stored));
        EXPECT_EQ(settings().getUnlockedUser(), QString::fromUtf8(c.expected)) << c.stored;
    }
}

TEST_F(AvGlobalSettingsTest, ContactsAreComparedCaseSensitively)
{
    settings().addContact(QStringLiteral("Bob@example.com"));
    settings().addContact(QStringLiteral("bob@example.com"));
    settings().addContact(QStringLiteral("Bob@example.com"));
    EXPECT_EQ(settings().getContacts(),
        (QStringList{ QStringLiteral("Bob@example.com"), QStringLiteral("bob@example.com") }));
}

TEST_F(AvGlobalSettingsTest, AddKnownUserAlwaysMarksTheComputerAsUsed)
{
    EXPECT_FALSE(settings().getFlag(QStringLiteral("WasUnlocked"), false));
    settings().addKnownUser(QStringLiteral("123456"));
    EXPECT_TRUE(settings().getFlag(QStringLiteral("WasUnlocked"), false));

    settings().setFlag(QStringLiteral("WasUnlocked"), false);
    settings().addKnownUser(QStringLiteral("123456"));
    EXPECT_EQ(settings().getKnownUsers(), QStringList{ QStringLiteral("123456") });
    EXPECT_TRUE(settings().getFlag(QStringLiteral("WasUnlocked"), false));
}

TEST_F(AvGlobalSettingsTest, EncryptedFolderHistoryHasNoDuplicates)
{
    settings().addEncryptedFolderPath(QStringLiteral("/a"));
    settings().addEncryptedFolderPath(QStringLiteral("/A"));
    settings().addEncryptedFolderPath(QStringLiteral("/a"));
    EXPECT_EQ(settings().getEncryptedFolderPaths(), (QStringList{ QStringLiteral("/a"), QStringLiteral("/A") }));
}

TEST_F(AvGlobalSettingsTest, DefaultsOfAnEmptyStore)
{
    EXPECT_FALSE(settings().getOfflineMode());
    EXPECT_TRUE(settings().getClearCacheOnQuit());
    EXPECT_TRUE(settings().getFlag(QStringLiteral("Unknown"), true));
    EXPECT_TRUE(settings().getContacts().isEmpty());
    EXPECT_TRUE(settings().getLastAddPath().isEmpty());
    EXPECT_TRUE(settings().getLastSaveToPath().isEmpty());
    EXPECT_TRUE(settings().getLastEncryptedFolderPath().isEmpty());
}

TEST_F(AvGlobalSettingsTest, ValuesPersistUnderTheirKeys)
{
    settings().setLastAddPath(QStringLiteral("/add"));
    settings().setLastSaveToPath(QStringLiteral("/save"));
    settings().setLastEncryptedFolderPath(QStringLiteral("/vault"));
    settings().setClearCacheOnQuit(false);
    settings().setFlag(QStringLiteral("NotShowDeleteCacheWarning"), true);

    const QSettings store;
    EXPECT_EQ(store.value(QStringLiteral("Cache/LastAddPath")).toString(), QStringLiteral("/add"));
    EXPECT_EQ(store.value(QStringLiteral("Cache/LastSaveToPath")).toString(), QStringLiteral("/save"));
    EXPECT_EQ(store.value(QStringLiteral("Cache/LastEncryptedFolderPath")).toString(), QStringLiteral("/vault"));
    EXPECT_FALSE(store.value(QStringLiteral("Cache/ClearCache")).toBool());
    EXPECT_TRUE(store.value(QStringLiteral("Flags/NotShowDeleteCacheWarning")).toBool());
    // The store lives in the test's home, never in the user's.
    EXPECT_TRUE(store.fileName().startsWith(QString::fromStdString(home())));
}

TEST_F(AvGlobalSettingsTest, RunFlagsLiveInMemory)
{
    EXPECT_TRUE(settings().getRunFlag(QStringLiteral("PreferenceDialogOpen"), true));
    settings().setRunFlag(QStringLiteral("PreferenceDialogOpen"), true);
    EXPECT_TRUE(settings().getRunFlag(QStringLiteral("PreferenceDialogOpen"), false));
    settings().setRunFlag(QStringLiteral("PreferenceDialogOpen"), false);
    EXPECT_FALSE(settings().getRunFlag(QStringLiteral("PreferenceDialogOpen"), true));
    EXPECT_FALSE(QSettings().contains(QStringLiteral("Flags/PreferenceDialogOpen")));
}

TEST_F(AvGlobalSettingsTest, OfflineModeReachesTheLibrary)
{
    settings().setOfflineMode(true);
    EXPECT_TRUE(AvGlobalLibSettings::instance().offlineMode);
    AvGlobalLibSettings::instance().offlineMode = false;
    settings().initializeOnStartup();
    EXPECT_TRUE(AvGlobalLibSettings::instance().offlineMode);
    settings().setOfflineMode(false);
    EXPECT_FALSE(AvGlobalLibSettings::instance().offlineMode);
}

TEST_F(AvGlobalSettingsTest, LanguageFallsBackToTheSystemLocaleUntilOneIsStored)
{
    // One test for the whole sequence: a stored language is cached for the
    // rest of the process.
    EXPECT_EQ(settings().getLanguage(), QLocale::system().name().toStdString());
    QSettings().setValue(QStringLiteral("General/Language"), QStringLiteral("de_DE"));
    EXPECT_EQ(settings().getLanguage(), "de_DE");
    QSettings().setValue(QStringLiteral("General/Language"), QStringLiteral("fr_FR"));
    EXPECT_EQ(settings().getLanguage(), "de_DE");
    settings().initializeOnStartup();
    EXPECT_EQ(AvGlobalLibSettings::instance().language, "de_DE");
}

TEST_F(AvGlobalSettingsTest, StartupCreatesTheDocumentsFolderOfAFreshAccount)
{
    fs::remove_all(home() + "/Documents");
    settings().initializeOnStartup();
    EXPECT_TRUE(fs::is_directory(home() + "/Documents"));
}

TEST_F(AvGlobalSettingsTest, TempDirDefaultIsCreatedAndRecreatedAfterClearCache)
{
    const QString expected = QString::fromStdString(dataFolder() + "Cache");
    EXPECT_EQ(settings().getTempDir(), expected);
    EXPECT_TRUE(QDir(expected).exists());
    EXPECT_EQ(QSettings().value(QStringLiteral("Cache/TempDir")).toString(), expected);

    ASSERT_TRUE(settings().clearCache(false));
    EXPECT_FALSE(QSettings().contains(QStringLiteral("Cache/TempDir")));
    ASSERT_TRUE(QDir(expected).removeRecursively());

    EXPECT_EQ(settings().getTempDir(), expected);
    EXPECT_TRUE(QDir(expected).exists());
    EXPECT_EQ(QSettings().value(QStringLiteral("Cache/TempDir")).toString(), expected);
}

TEST_F(AvGlobalSettingsTest, StoredTempDirIsReturnedUnchecked)
{
    QSettings().setValue(QStringLiteral("Cache/TempDir"), path("elsewhere"));
    EXPECT_EQ(settings().getTempDir(), path("elsewhere"));
    EXPECT_FALSE(exists("elsewhere"));
}

TEST_F(AvGlobalSettingsTest, UncreatableTempDirIsLoggedAndStoredAnyway)
{
    touch("blocker");
    const QString impossible = path("blocker/Cache");
    settings().setTempDir(impossible);
    EXPECT_EQ(QSettings().value(QStringLiteral("Cache/TempDir")).toString(), impossible);
    const std::string log = readWholeFile(dataFolder() + "Ardentvault.log");
    EXPECT_NE(log.find(" Error creating Temp directory: " + impossible.toStdString()), std::string::npos) << log;
}

TEST_F(AvGlobalSettingsTest, ClearCacheForgetsCacheAndAccountGroupsAndSignsOut)
{
    settings().setOfflineMode(true);
    settings().setFlag(QStringLiteral("WasUnlocked"), true);
    settings().addContact(QStringLiteral("bob@example.com"));
    settings().setUnlockedUser(QStringLiteral("123456"));
    QSettings().setValue(QStringLiteral("Account/Password"), QStringLiteral("old"));
    signInAs("123456");

    ASSERT_TRUE(settings().clearCache(false));

    const QSettings store;
    EXPECT_FALSE(store.contains(QStringLiteral("Cache/Contacts")));
    EXPECT_FALSE(store.contains(QStringLiteral("Cache/UnlockedUser")));
    EXPECT_FALSE(store.contains(QStringLiteral("Account/Password")));
    EXPECT_TRUE(store.value(QStringLiteral("General/Offlinemode")).toBool());
    EXPECT_TRUE(store.value(QStringLiteral("Flags/WasUnlocked")).toBool());
    EXPECT_FALSE(AvKeyring::instance().unlocked);
    settings().setOfflineMode(false);
}

TEST_F(AvGlobalSettingsTest, ClearCacheAsksFirstAndNoKeepsEverything)
{
    settings().addContact(QStringLiteral("bob@example.com"));
    signInAs("123456");
    AvNextDialog no([](QWidget* box) { clickStandardButton(box, QMessageBox::No); });
    EXPECT_FALSE(settings().clearCache(true));
    EXPECT_TRUE(no.answered());
    EXPECT_EQ(no.text(),
        QStringLiteral("Do you want to clear the Ardentvault cache, stored passwords and login credentials?"));
    EXPECT_EQ(settings().getContacts().size(), 1);
    EXPECT_TRUE(AvKeyring::instance().unlocked);

    AvNextDialog yes([](QWidget* box) { clickStandardButton(box, QMessageBox::Yes); });
    EXPECT_TRUE(settings().clearCache(true));
    EXPECT_TRUE(settings().getContacts().isEmpty());
}

TEST_F(AvGlobalSettingsTest, ClearDirectoryDeletesFilesAndKeepsFolders)
{
    touch("cache/a.txt");
    touch("cache/.hidden");
    touch("cache/sub/b.txt");
    touch("cache/sub/deeper/.c");
    EXPECT_TRUE(clearDirectory(path("cache")));
    EXPECT_FALSE(exists("cache/a.txt"));
    EXPECT_FALSE(exists("cache/.hidden"));
    EXPECT_FALSE(exists("cache/sub/b.txt"));
    EXPECT_FALSE(exists("cache/sub/deeper/.c"));
    EXPECT_TRUE(fs::is_directory(home() + "/cache/sub/deeper"));
}

TEST_F(AvGlobalSettingsTest, ClearDirectoryRemovesLinksWithoutFollowingThem)
{
    touch("precious/keep.txt");
    touch("cache/x.txt");
    fs::create_directory_symlink(home() + "/precious", home() + "/cache/link");
    fs::create_directory_symlink(home() + "/cache", home() + "/cache/loop");
    fs::create_symlink(home() + "/precious/keep.txt", home() + "/cache/file-link");
    fs::create_symlink(home() + "/nowhere", home() + "/cache/dangling");

    EXPECT_TRUE(clearDirectory(path("cache")));
    EXPECT_TRUE(exists("precious/keep.txt"));
    for (const char* gone : { "cache/x.txt", "cache/link", "cache/loop", "cache/file-link", "cache/dangling" })
        EXPECT_FALSE(exists(gone)) << gone;
}

TEST_F(AvGlobalSettingsTest, ClearDirectoryOfAnEmptyNameLeavesTheWorkingDirectory)
{
    const std::string data = dataFolder();
    ASSERT_TRUE(writeWholeFile(data + "Ardentvault.log", "log"));
    fs::current_path(data);
    EXPECT_TRUE(clearDirectory(QString()));
    EXPECT_TRUE(fs::exists(data + "Ardentvault.log"));
}

TEST_F(AvGlobalSettingsTest, FirstStepsDocumentLivesInAssets)
{
    const QString expected = QString::fromStdString(dataFolder() + "Assets/First Steps.pdf");
    EXPECT_EQ(firstStepsDocumentPath(), expected);
    EXPECT_TRUE(fs::is_directory(dataFolder() + "Assets"));
}

} // namespace
