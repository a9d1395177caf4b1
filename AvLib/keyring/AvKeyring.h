#pragma once

// AvKeyring: the key ring of the signed-in account, one per process
// (AvKeyring::instance()). It holds the account's credentials, its private
// keys, public keys (its own halves and other users' keys met so far), the
// file keys of the containers in use and the id of the active private key,
// the one new files are shared to. Private keys persist sealed with the
// credentials in the account's key-ring file (SQLite, tables PKeys, PwRec,
// Info, in the data folder's "Keys" folder); public keys fetched for other
// users persist in the shared cache "Publickeys.pref". On top of these sit the
// account operations: unlock, local account creation, password change and
// sign-out (Reset). Pointers returned by the Find functions point into the
// maps and stay valid until the entry is erased (Reset, or a newer public key
// replacing a user's old one). Nothing here throws or synchronises: the
// program never lets two threads use the key ring at once.

#include "crypto/AvCredentials.h"
#include "crypto/AvKeyAES.h"
#include "crypto/AvKeyPrivate.h"
#include "crypto/AvKeyPublic.h"
#include "crypto/SecureString.h"
#include "keyring/AvKeyringConnector.h"
#include "keyring/AvSqliteDb.h"

#include <json/json.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class AvKeyring
{
public:
    // Makes the key ring's connector to the key server, bound to the ring.
    using ConnectorFactory = std::function<std::unique_ptr<AvKeyringConnector>(AvKeyring&)>;

    // Account kinds reported by AccountKind().
    enum Kind { ServerAccount = 1, LocalAccount = 2, NotUnlocked = 3 };

    static AvKeyring& instance();

    AvKeyring(const AvKeyring&) = delete;
    AvKeyring& operator=(const AvKeyring&) = delete;

    // ---- state -----------------------------------------------------------

    // Signs out: forgets names, credentials and every key, and replaces the
    // connector. The key-ring file is not touched.
    void Reset();

    // The credentials' normalized user name and user id; empty without credentials.
    std::string userName() const;
    std::string userId() const;

    // ---- private key store -----------------------------------------------

    // Opens the key-ring file of `name` (or of userName() when empty). With
    // `create` false the file must exist. The tables are created when missing.
    AvSqliteDb openPrivateKeyDB(bool create, const std::string& name = {});
    // Reads every row the credentials open; returns how many keys of the file
    // are now in the ring (0 when the file is missing).
    int LoadKeys();
    // Writes every private key (sealed with the credentials), the Info rows
    // and the PwRec row. True when every key row was written.
    bool SaveKey();
    // Turns the PwRec row (the partial password) on or off in the file.
    void UsePasswordRecovery(bool on);
    // Opens one sealed key (credentials first, then the fallback credentials)
    // and adds it with its public half. True when the id is (now) in the ring.
    bool ImportKey(std::uint64_t keyId, std::string_view sealedKey, bool makeActive);
    // Imports a "Userkeys" list (JSON array of {"KeyID","PrivateKey"[,"PublicKey"]})
    // and makes `activeKeyId` active. True when the active key was set.
    bool ImportPrivateKey(const Json::Value& keyList, std::uint64_t activeKeyId);
    // The key sealed with `otherCredentials` (or the ring's credentials);
    // empty when the id is unknown or the key cannot be sealed.
    std::string ExportPrivateKey(std::uint64_t keyId, const AvCredentials* otherCredentials = nullptr);
    // The 132-byte raw public key; empty when the id is unknown.
    std::string ExportPublicKey(std::uint64_t keyId) const;
    // The "Userkeys" list of every private key, sealed with `otherCredentials`
    // (or the ring's credentials); the active key's entry also carries
    // "PublicKey". Nothing when any key cannot be exported: a partial list
    // must never be sent.
    std::optional<Json::Value> ExportKeys(const AvCredentials* otherCredentials = nullptr);
    // A new RSA key pair in the ring (public half without owner name). The
    // active key is left alone.
    std::uint64_t CreateKeyPair();
    // A new key pair for the key server, not kept: the private key sealed with
    // credentials of `name` and `password` goes to `sealedKey` (capacity at
    // least 1000), the raw public key to `publicKey` (capacity at least 500).
    // The lengths are capacities on entry and bytes written on return (0 on
    // failure). Returns the new key id, 0 on failure.
    static std::uint64_t GeneratePrivateKey(const std::string& name, const SecureString& password,
        std::uint8_t* sealedKey, std::uint32_t& sealedLength, std::uint8_t* publicKey, std::uint32_t& publicLength);
    AvKeyPrivate* FindPrivateKey(std::uint64_t keyId);
    const AvKeyPrivate* FindPrivateKey(std::uint64_t keyId) const;

    // ---- file keys ---------------------------------------------------------

    // A new random file key in the ring; returns its id.
    std::uint64_t NewFileKey();
    // Adds a file key from its 48-byte raw form (key then IV). True when the
    // id is (now) in the ring; false for any other length.
    bool ImportFileKey(std::uint64_t keyId, std::string_view keyBytes);
    AvKeyAES* FindFileKey(std::uint64_t keyId);

    // ---- public key directory ----------------------------------------------

    AvKeyPublic* FindPublicKey(std::uint64_t keyId);
    const AvKeyPublic* FindPublicKey(std::uint64_t keyId) const;
    // The first key (ascending id) whose owner is the normalized `name`.
    AvKeyPublic* FindPublicKeyByUser(const std::string& name);
    // Adds another user's key, replacing that user's previous key.
    bool ImportPublicKey(std::uint64_t keyId, const std::string& name, std::string_view rawKey);
    // Opens the public key cache "Publickeys.pref" in the data folder.
    AvSqliteDb openPublicKeyDB(bool create);
    // Puts the cached key of `name` (exactly as given) into the ring and returns it.
    AvKeyPublic* LoadPublicKey(const std::string& name);
    // Stores a key in the cache under its owner's name.
    bool SavePubKey(const AvKeyPublic& key);
    // Finds a user's key before sharing: in memory, else through the
    // connector's "GetUserPublicKey2" (which also consults the cache). "OK" or
    // "OK_FromCache" mean the key is now found by FindPublicKeyByUser(name).
    std::string LookupPublicKey(const std::string& name);

    // ---- account operations ------------------------------------------------

    // Signs in with `credentials`; "OK" unlocks the ring.
    std::string Unlock(const AvCredentials& credentials);
    std::string UnlockWithPassword(const std::string& name, const SecureString& password, int autoLogin = 0);
    int AccountKind() const;
    // Creates a local account (six-digit id) with its first key pair and
    // signs it in. Returns the id, empty on failure.
    std::string CreateLocalAccount(const SecureString& password);
    // Changes the password of the signed-in account and re-seals its keys.
    std::string ChangePassword(const SecureString& oldPassword, const SecureString& newPassword, bool passwordRecovery);
    std::string ChangePassword(
        const AvCredentials& oldCredentials, const SecureString& newPassword, bool passwordRecovery);

    // ---- key server seam ----------------------------------------------------

    // Installs how the ring makes its connector (an empty function removes it)
    // and makes a fresh one now.
    void setConnectorFactory(ConnectorFactory factory);

    // ---- fields --------------------------------------------------------------

    std::string firstName;
    std::string lastName;
    bool usePasswordRecovery = true;
    bool unlocked = false;
    std::unique_ptr<AvCredentials> credentials;
    std::map<std::uint64_t, AvKeyPrivate> privateKeys;
    std::map<std::uint64_t, AvKeyPublic> publicKeys;
    std::map<std::uint64_t, AvKeyAES> fileKeys;
    std::uint64_t activeCryptKeyID = 0;
    // Null while no factory is installed: the key server is then unreachable.
    std::unique_ptr<AvKeyringConnector> connector;

private:
    AvKeyring();
    ~AvKeyring();

    bool writeKeyRow(AvSqliteDb& db, std::uint64_t keyId, const std::string& sealedText, bool active);
    void writeInfoRows(AvSqliteDb& db);
    // Replaces the PwRec row as usePasswordRecovery says; false with SQLite's
    // text in `errorText` when a statement failed.
    bool writePasswordRecovery(AvSqliteDb& db, std::string& errorText);
    bool openSealedKey(std::uint64_t keyId, SecureString& buffer);
    std::string serverUnreachableResult(bool reportFailure) const;
    std::string changePasswordLocally(
        const AvCredentials& oldCredentials, const SecureString& newPassword, bool passwordRecovery);

    ConnectorFactory m_connectorFactory;
};
