#pragma once

// AvGlobalSettings: the application's per-user settings, one process-wide
// object reached through instance(). Persistent values live in the toolkit's
// native settings store (organization "ardentvault.org", application
// "Ardentvault"); every accessor opens the store afresh and closes it again,
// so nothing but the language is cached and several windows never disagree.
// Run flags live in memory only and keep a window from being opened twice.
// The header also carries the small helpers every window shares: text
// conversions to and from the library's byte strings, input validators,
// folder emptying and file-name helpers. User-interface thread only.

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <string>

class AvGlobalSettings : public QObject
{
    Q_OBJECT

public:
    static AvGlobalSettings& instance();

    // Pushes the stored offline mode and the language into the library
    // settings; the first thing the application does at start-up.
    void initializeOnStartup();

    bool getOfflineMode() const;
    // Also switches the library's offline mode.
    void setOfflineMode(bool offline);

    // "General/Language", else the system locale's name (not cached then).
    std::string getLanguage();

    bool getFlag(const QString& name, bool defaultValue) const;
    void setFlag(const QString& name, bool value);

    bool getRunFlag(const QString& name, bool defaultValue) const;
    void setRunFlag(const QString& name, bool value);

    QStringList getContacts() const;
    void addContact(const QString& contact);

    QStringList getKnownUsers() const;
    // Also sets the flag "WasUnlocked", whether or not the name was listed.
    void addKnownUser(const QString& userName);

    QString getUnlockedUser() const;
    void setUnlockedUser(const QString& userName);

    QStringList getEncryptedFolderPaths() const;
    void addEncryptedFolderPath(const QString& path);

    QString getLastEncryptedFolderPath() const;
    void setLastEncryptedFolderPath(const QString& path);

    // The cache folder for unvaulted copies; an unset value becomes the data
    // folder's "Cache", which is then created and stored.
    QString getTempDir();
    // Creates the folder when missing (a failure is only logged) and stores
    // the path in every case.
    void setTempDir(const QString& path);

    QString getLastAddPath() const;
    void setLastAddPath(const QString& path);

    QString getLastSaveToPath() const;
    void setLastSaveToPath(const QString& path);

    bool getClearCacheOnQuit() const;
    void setClearCacheOnQuit(bool clear);

    // Signs out and forgets every cached value (the groups "Cache" and
    // "Account"); with `ask` the user confirms first. False when not confirmed.
    bool clearCache(bool ask);

private:
    AvGlobalSettings();

    static QStringList appendedIfMissing(QStringList list, const QString& entry, bool& added);

    std::string m_language;
    QMap<QString, bool> m_runFlags;
};

// UTF-8 bytes of a text: how paths and names travel to the library.
std::string toUtf8String(const QString& text);
// One character per byte (Latin-1): names and messages coming from the library.
QString fromByteString(const std::string& bytes);

// At least 10 characters with a digit, a lower-case and an upper-case letter.
bool isStrongPassword(const QString& password);
// Something, "@", something, ".", something.
bool isEmailAddress(const QString& text);
// 6 to 30 digits once every blank is removed: a numeric account ID.
bool isUserId(const QString& text);

// Deletes every file below `folder` and keeps the folders. Symbolic links are
// removed as links, never followed. Always true.
bool clearDirectory(const QString& folder);
// The first free "stem (<suffix>N)<ext2><ext1>" beside `path`, N from 1.
QString uniqueFileName(const QString& path, const QString& suffix);
// `folder` joined with the file name of `path`.
QString pathInFolder(const QString& path, const QString& folder);
// The data folder's "Assets/First Steps.pdf" (translated name); creates "Assets".
QString firstStepsDocumentPath();
