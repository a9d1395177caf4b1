#include "crypto/AvCredentials.h"

#include "log/AvLog.h"
#include "settings/AvGlobalLibSettings.h"
#include "util/AvBase64.h"
#include "util/AvStrings.h"

#include <sqlite3.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

namespace {

constexpr std::string_view kUserIdSaltPrefix = "QWMT283#";
constexpr std::string_view kServerPasswordSalt = "ZUh4K&9w";
constexpr std::string_view kAesMaterialSalt = "pRn#%XQB";
constexpr unsigned kPasswordIterations = 1000;

struct DatabaseCloser
{
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StatementFinalizer
{
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Opens an existing key-ring file for reading; never creates one.
Database openExistingKeyRing(const std::string& path)
{
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    Database db(raw);
    if (rc != SQLITE_OK)
        db.reset();
    return db;
}

Statement prepare(sqlite3* db, const char* sql)
{
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return Statement();
    }
    return Statement(raw);
}

// Text of the first column of the first row, or empty.
std::string firstRowText(sqlite3_stmt* statement)
{
    if (sqlite3_step(statement) != SQLITE_ROW)
        return {};
    const unsigned char* text = sqlite3_column_text(statement, 0);
    const int size = sqlite3_column_bytes(statement, 0);
    if (text == nullptr || size <= 0)
        return {};
    return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size));
}

const uint8_t* bytes(std::string_view text)
{
    return reinterpret_cast<const uint8_t*>(text.data());
}

bool pbkdf2(uint8_t* out, size_t outLength, const uint8_t* secret, size_t secretLength, std::string_view salt,
    unsigned iterations)
{
    return Pbkdf2Sha512(secret, static_cast<uint32_t>(secretLength), bytes(salt), static_cast<uint32_t>(salt.size()),
        iterations, out, static_cast<uint32_t>(outLength));
}

std::string base64OfBytes(const CryptoPP::byte* data, size_t size)
{
    return base64Encode(std::string_view(reinterpret_cast<const char*>(data), size));
}

// The one remembered user id answer, and the key server lookup.
struct UserIdResolver
{
    std::mutex mutex;
    std::string cachedName;
    std::string cachedId;
    AvCredentials::UserIdLookup serverLookup;
};

UserIdResolver& resolver()
{
    static UserIdResolver instance;
    return instance;
}

std::string userIdFromKeyRing(const std::string& userName)
{
    Database db = openExistingKeyRing(AvGlobalLibSettings::instance().keyRingFilePath(userName));
    if (!db)
        return {};
    Statement statement = prepare(db.get(), "SELECT Value FROM Info WHERE Key='UserID'");
    if (!statement)
        return {};
    return base64Decode(firstRowText(statement.get()));
}

} // namespace

AvCredentials::AvCredentials() = default;

AvCredentials::AvCredentials(const std::string& userName, const SecureString& password, int autoLogin)
    : userName_(normalizeUserName(userName))
{
    userId_ = ResolveUserId(userName_);
    const std::string salt = std::string(kUserIdSaltPrefix) + normalizeUserName(userId_);
    derivedKey_.New(kDerivedKeySize);
    if (!pbkdf2(derivedKey_.data(), derivedKey_.size(), bytes(password), password.size(), salt, kPasswordIterations))
        derivedKey_.New(0);
    setFlag(autoLogin);
    DeriveSubkeys();
}

AvCredentials::AvCredentials(
    const std::string& userName, const std::string& firstHalfBase64, const std::string& secondHalfBase64, int autoLogin)
    : userName_(normalizeUserName(userName))
{
    userId_ = ResolveUserId(userName_);
    std::string first = base64Decode(firstHalfBase64);
    std::string second = base64Decode(secondHalfBase64);
    // Anything but two 32-byte halves cannot be the derived key; leave it absent
    // so sealing and opening fail instead of working with a wrong key.
    if (first.size() == kHalfSize && second.size() == kHalfSize) {
        derivedKey_.New(kDerivedKeySize);
        std::memcpy(derivedKey_.data(), first.data(), kHalfSize);
        std::memcpy(derivedKey_.data() + kHalfSize, second.data(), kHalfSize);
    }
    AvSecurity::secureWipe(first.data(), first.size());
    AvSecurity::secureWipe(second.data(), second.size());
    setFlag(autoLogin);
    DeriveSubkeys();
}

AvCredentials::AvCredentials(const AvCredentials& other, int autoLogin)
    : derivedKey_(other.derivedKey_)
    , userName_(other.userName_)
    , userId_(other.userId_)
{
    setFlag(autoLogin);
    DeriveSubkeys();
}

AvCredentials::AvCredentials(const std::string& userName, const CryptoPP::SecByteBlock& derivedKey, int autoLogin)
    : userName_(normalizeUserName(userName))
{
    userId_ = ResolveUserId(userName_);
    if (derivedKey.size() == kDerivedKeySize)
        derivedKey_ = derivedKey;
    setFlag(autoLogin);
    DeriveSubkeys();
}

void AvCredentials::setFlag(int autoLogin)
{
    autoLogin_ = autoLogin;
    loginStats_ = { autoLogin, 0, 0, 0 };
}

void AvCredentials::DeriveSubkeys()
{
    DestroyAes(aesKey_);
    serverPassword_.New(0);
    if (!isValid())
        return;

    CryptoPP::SecByteBlock serverPassword(kServerPasswordSize);
    CryptoPP::SecByteBlock material(AvAesRecord::kRawSize); // wiped when it goes out of scope
    if (!pbkdf2(serverPassword.data(), serverPassword.size(), derivedKey_.data(), derivedKey_.size(),
            kServerPasswordSalt, 1)
        || !pbkdf2(material.data(), material.size(), derivedKey_.data(), derivedKey_.size(), kAesMaterialSalt, 1)) {
        derivedKey_.New(0);
        return;
    }
    serverPassword_ = serverPassword;
    RawToAes(aesKey_, material.data(), static_cast<uint32_t>(material.size()));
}

std::string AvCredentials::serverPasswordText() const
{
    if (serverPassword_.empty())
        return {};
    return base64OfBytes(serverPassword_.data(), serverPassword_.size());
}

std::string AvCredentials::partialPasswordText() const
{
    if (!isValid())
        return {};
    return base64OfBytes(derivedKey_.data(), kHalfSize);
}

std::string AvCredentials::secondHalfText() const
{
    if (!isValid())
        return {};
    return base64OfBytes(derivedKey_.data() + kHalfSize, kHalfSize);
}

std::string AvCredentials::ResolveUserId(const std::string& userName)
{
    // A local account is named by its id.
    if (isNumericId(userName))
        return userName;
    if (trimSpaces(userName).empty())
        return {};

    UserIdResolver& state = resolver();
    UserIdLookup serverLookup;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (userName == state.cachedName && !state.cachedId.empty())
            return state.cachedId;
        serverLookup = state.serverLookup;
    }

    std::string userId = userIdFromKeyRing(userName);
    if (userId.empty() && serverLookup)
        userId = serverLookup(userName);

    if (!userId.empty()) {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.cachedName = userName;
        state.cachedId = userId;
    }
    return userId;
}

std::string AvCredentials::StoredPartialPassword(const std::string& userName)
{
    AvGlobalLibSettings& settings = AvGlobalLibSettings::instance();
    if (settings.dataFolderPath().empty())
        return {};
    Database db = openExistingKeyRing(settings.keyRingFilePath(userName));
    if (!db)
        return {};
    Statement statement = prepare(db.get(), "SELECT PartialPassword FROM PwRec");
    if (!statement) {
        AV_LOG(AvLog::Error) << "AVCredentials - - Keys.PartialPW.Select.Failed";
        return {};
    }
    return firstRowText(statement.get());
}

void AvCredentials::setServerUserIdLookup(UserIdLookup lookup)
{
    UserIdResolver& state = resolver();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.serverLookup = std::move(lookup);
}

void AvCredentials::clearUserIdCache()
{
    UserIdResolver& state = resolver();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.cachedName.clear();
    state.cachedId.clear();
}
