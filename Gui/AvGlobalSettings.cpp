#include "AvGlobalSettings.h"

#include "AvAccountState.h"
#include "AvUserPrompts.h"

#include "log/AvLog.h"
#include "settings/AvGlobalLibSettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSettings>

namespace {

const QString kOfflineModeKey = QStringLiteral("General/Offlinemode");
const QString kLanguageKey = QStringLiteral("General/Language");
const QString kFlagsGroup = QStringLiteral("Flags/");
const QString kContactsKey = QStringLiteral("Cache/Contacts");
const QString kKnownUsersKey = QStringLiteral("Cache/KnownUsers");
const QString kUnlockedUserKey = QStringLiteral("Cache/UnlockedUser");
const QString kEncryptedFolderPathsKey = QStringLiteral("Cache/EncryptedFolderPaths");
const QString kLastEncryptedFolderPathKey = QStringLiteral("Cache/LastEncryptedFolderPath");
const QString kTempDirKey = QStringLiteral("Cache/TempDir");
const QString kLastAddPathKey = QStringLiteral("Cache/LastAddPath");
const QString kLastSaveToPathKey = QStringLiteral("Cache/LastSaveToPath");
const QString kClearCacheKey = QStringLiteral("Cache/ClearCache");

QString readText(const QString& key)
{
    return QSettings().value(key).toString();
}

void writeValue(const QString& key, const QVariant& value)
{
    QSettings().setValue(key, value);
}

bool wholeTextMatches(const QString& pattern, const QString& text)
{
    return QRegularExpression(pattern).match(text).hasMatch();
}

// The library's data folder lies inside the user's Documents folder and is
// created one level deep only; a fresh Linux account may have no Documents
// folder, which would leave the program without log and key rings.
void ensureDocumentsFolder()
{
    const QByteArray home = qgetenv("HOME");
    if (!home.isEmpty())
        QDir().mkpath(QFile::decodeName(home) + QStringLiteral("/Documents"));
}

} // namespace

AvGlobalSettings::AvGlobalSettings()
{
    QCoreApplication::setOrganizationName(QStringLiteral("ardentvault.org"));
    QCoreApplication::setApplicationName(QStringLiteral("Ardentvault"));
}

AvGlobalSettings& AvGlobalSettings::instance()
{
    static AvGlobalSettings settings;
    return settings;
}

void AvGlobalSettings::initializeOnStartup()
{
    ensureDocumentsFolder();
    AvGlobalLibSettings& lib = AvGlobalLibSettings::instance();
    lib.offlineMode = getOfflineMode();
    lib.language = getLanguage();
}

bool AvGlobalSettings::getOfflineMode() const
{
    return QSettings().value(kOfflineModeKey, false).toBool();
}

void AvGlobalSettings::setOfflineMode(bool offline)
{
    writeValue(kOfflineModeKey, offline);
    AvGlobalLibSettings::instance().offlineMode = offline;
}

std::string AvGlobalSettings::getLanguage()
{
    if (!m_language.empty())
        return m_language;
    m_language = toUtf8String(readText(kLanguageKey));
    if (m_language.empty())
        return toUtf8String(QLocale::system().name());
    return m_language;
}

bool AvGlobalSettings::getFlag(const QString& name, bool defaultValue) const
{
    return QSettings().value(kFlagsGroup + name, defaultValue).toBool();
}

void AvGlobalSettings::setFlag(const QString& name, bool value)
{
    writeValue(kFlagsGroup + name, value);
}

bool AvGlobalSettings::getRunFlag(const QString& name, bool defaultValue) const
{
    return m_runFlags.value(name, defaultValue);
}

void AvGlobalSettings::setRunFlag(const QString& name, bool value)
{
    m_runFlags.insert(name, value);
}

QStringList AvGlobalSettings::appendedIfMissing(QStringList list, const QString& entry, bool& added)
{
    added = !list.contains(entry, Qt::CaseSensitive);
    if (added)
        list.append(entry);
    return list;
}

QStringList AvGlobalSettings::getContacts() const
{
    return QSettings().value(kContactsKey).toStringList();
}

void AvGlobalSettings::addContact(const QString& contact)
{
    bool added = false;
    const QStringList contacts = appendedIfMissing(getContacts(), contact, added);
    if (added)
        writeValue(kContactsKey, contacts);
}

QStringList AvGlobalSettings::getKnownUsers() const
{
    return QSettings().value(kKnownUsersKey).toStringList();
}

void AvGlobalSettings::addKnownUser(const QString& userName)
{
    bool added = false;
    const QStringList users = appendedIfMissing(getKnownUsers(), userName, added);
    if (added)
        writeValue(kKnownUsersKey, users);
    setFlag(QStringLiteral("WasUnlocked"), true);
}

QString AvGlobalSettings::getUnlockedUser() const
{
    // Older versions stored "<prefix>;<login>"; only the login is wanted.
    const QString stored = readText(kUnlockedUserKey);
    const qsizetype separator = stored.indexOf(QLatin1Char(';'));
    if (separator >= 0 && separator != stored.size() - 1)
        return stored.mid(separator + 1);
    return stored;
}

void AvGlobalSettings::setUnlockedUser(const QString& userName)
{
    writeValue(kUnlockedUserKey, userName);
}

QStringList AvGlobalSettings::getEncryptedFolderPaths() const
{
    return QSettings().value(kEncryptedFolderPathsKey).toStringList();
}

void AvGlobalSettings::addEncryptedFolderPath(const QString& path)
{
    bool added = false;
    writeValue(kEncryptedFolderPathsKey, appendedIfMissing(getEncryptedFolderPaths(), path, added));
}

QString AvGlobalSettings::getLastEncryptedFolderPath() const
{
    return readText(kLastEncryptedFolderPathKey);
}

void AvGlobalSettings::setLastEncryptedFolderPath(const QString& path)
{
    writeValue(kLastEncryptedFolderPathKey, path);
}

QString AvGlobalSettings::getTempDir()
{
    const QString stored = readText(kTempDirKey);
    if (!stored.isEmpty())
        return stored;
    const QString defaultFolder =
        QFile::decodeName(AvGlobalLibSettings::instance().dataFolderPath().c_str()) + QStringLiteral("Cache");
    setTempDir(defaultFolder);
    return defaultFolder;
}

void AvGlobalSettings::setTempDir(const QString& path)
{
    if (!QDir(path).exists() && !QDir().mkpath(path)) {
        AV_LOG(AvLog::Error) << " Error creating Temp directory: " << toUtf8String(path);
    }
    writeValue(kTempDirKey, path);
}

QString AvGlobalSettings::getLastAddPath() const
{
    return readText(kLastAddPathKey);
}

void AvGlobalSettings::setLastAddPath(const QString& path)
{
    writeValue(kLastAddPathKey, path);
}

QString AvGlobalSettings::getLastSaveToPath() const
{
    return readText(kLastSaveToPathKey);
}

void AvGlobalSettings::setLastSaveToPath(const QString& path)
{
    writeValue(kLastSaveToPathKey, path);
}

bool AvGlobalSettings::getClearCacheOnQuit() const
{
    return QSettings().value(kClearCacheKey, true).toBool();
}

void AvGlobalSettings::setClearCacheOnQuit(bool clear)
{
    writeValue(kClearCacheKey, clear);
}

bool AvGlobalSettings::clearCache(bool ask)
{
    if (ask
        && !askYesNo(tr("Do you want to clear the Ardentvault cache, stored passwords and login credentials?"), false,
            tr("Ardentvault")))
        return false;
    AvAccountState::signOut();
    QSettings settings;
    settings.remove(QStringLiteral("Cache"));
    // Written by older versions only.
    settings.remove(QStringLiteral("Account"));
    return true;
}

std::string toUtf8String(const QString& text)
{
    return text.toUtf8().toStdString();
}

QString fromByteString(const std::string& bytes)
{
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

bool isStrongPassword(const QString& password)
{
    return wholeTextMatches(QStringLiteral("^.*(?=.{%1,})(?=.*\\d)(?=.*[a-z])(?=.*[A-Z]).*$").arg(10), password);
}

bool isEmailAddress(const QString& text)
{
    return !text.isEmpty() && wholeTextMatches(QStringLiteral("^.+@.+\\..+$"), text);
}

bool isUserId(const QString& text)
{
    QString compact = text;
    compact.remove(QLatin1Char(' '));
    // ASCII digits only, as the library's own test for numeric IDs.
    return !compact.isEmpty() && wholeTextMatches(QStringLiteral("^[0-9]{6,30}$"), compact);
}

bool clearDirectory(const QString& folder)
{
    // An empty name would mean the working directory, which is the data
    // folder with the key rings in it.
    if (folder.isEmpty())
        return true;
    const QDir dir(QDir(folder).absolutePath());
    // Hidden entries too: a cached copy may start with a dot. System lists
    // dangling links so that they go as well.
    const QFileInfoList entries = dir.entryInfoList(
        QDir::Dirs | QDir::Files | QDir::Drives | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        // A link is removed itself: following it would delete files outside
        // the cache, and a link to a parent would never end.
        if (entry.isDir() && !entry.isSymLink())
            clearDirectory(entry.absoluteFilePath());
        else
            QFile::remove(entry.absoluteFilePath());
    }
    return true;
}

QString uniqueFileName(const QString& path, const QString& suffix)
{
    const QFileInfo info(path);
    const QString fileName = info.fileName();

    const auto splitExtension = [](const QString& name, QString& extension) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        extension = dot < 0 ? QString() : name.mid(dot);
        return dot < 0 ? name : name.left(dot);
    };
    QString lastExtension;
    QString innerExtension;
    const QString stem = splitExtension(splitExtension(fileName, lastExtension), innerExtension);

    const QDir folder = info.dir();
    for (int number = 1;; ++number) {
        const QString candidate =
            QStringLiteral("%1 (%2%3)%4%5").arg(stem, suffix, QString::number(number), innerExtension, lastExtension);
        const QString candidatePath = folder.filePath(candidate);
        if (!QFileInfo::exists(candidatePath))
            return candidatePath;
    }
}

QString pathInFolder(const QString& path, const QString& folder)
{
    return QDir(folder).filePath(QFileInfo(path).fileName());
}

QString firstStepsDocumentPath()
{
    const QString assets =
        QFile::decodeName(AvGlobalLibSettings::instance().dataFolderPath().c_str()) + QStringLiteral("Assets");
    if (!QDir(assets).exists())
        QDir().mkpath(assets);
    return assets + QLatin1Char('/') + QCoreApplication::translate("AvGlobalSettings", "First Steps.pdf");
}
