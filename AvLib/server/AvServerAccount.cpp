#include "server/AvServerAccount.h"

#include "crypto/AvCredentials.h"
#include "keyring/AvKeyring.h"
#include "log/AvLog.h"
#include "server/AVServerConnector.h"
#include "util/AvBase64.h"
#include "util/AvStrings.h"

#include <array>
#include <cstdint>

namespace {

constexpr std::uint32_t kKeyBufferSize = 1000;

// The first key pair of an account as it travels: sealed private key and raw
// public key, both Base64. The buffers are wiped when it goes.
struct UploadKey
{
    std::uint64_t keyId = 0;
    std::string privateKeyBase64;
    std::string publicKeyBase64;

    bool generate(const std::string& name, const SecureString& password)
    {
        std::array<std::uint8_t, kKeyBufferSize> sealed{};
        std::array<std::uint8_t, kKeyBufferSize> publicKey{};
        std::uint32_t sealedLength = kKeyBufferSize;
        std::uint32_t publicLength = kKeyBufferSize;
        keyId =
            AvKeyring::GeneratePrivateKey(name, password, sealed.data(), sealedLength, publicKey.data(), publicLength);
        if (keyId != 0) {
            privateKeyBase64 =
                base64Encode(std::string_view(reinterpret_cast<const char*>(sealed.data()), sealedLength));
            publicKeyBase64 =
                base64Encode(std::string_view(reinterpret_cast<const char*>(publicKey.data()), publicLength));
        }
        AvSecurity::secureWipe(sealed.data(), sealed.size());
        return keyId != 0;
    }
};

} // namespace

std::string AvServerAccount::RegisterAccount(const std::string& email, const std::string& firstName,
    const std::string& lastName, std::string& loginId, bool& validationRequired)
{
    AVServerConnector connector(true);
    return connector.RegisterUser(
        normalizeUserName(email), capitalizeName(firstName), capitalizeName(lastName), loginId, validationRequired);
}

std::string AvServerAccount::ValidateAccount(const std::string& email, const std::string& loginId, std::string& code,
    const SecureString& password, bool passwordRecovery)
{
    code = trimSpaces(code);
    const std::string user = normalizeUserName(email);
    const std::string id = trimSpaces(loginId);
    if (!isNumericId(id)) {
        AV_LOG(AvLog::Error) << "AvServerconnector - ValidateAccount without login id for " << user;
        return "Error";
    }
    // The keys are sealed for the login id, the verifier is made for the
    // address; both must come from the same id or the account never opens.
    const AvCredentials addressCredentials(user, password, 0);
    if (addressCredentials.userId() != id) {
        AV_LOG(AvLog::Error) << "AvServerconnector - ValidateAccount login id mismatch for " << user;
        return "Error";
    }

    AvKeyring& ring = AvKeyring::instance();
    UploadKey key;
    if (ring.AccountKind() == AvKeyring::LocalAccount) {
        // Upgrade: the local account's active key pair moves to the new account.
        const AvCredentials idCredentials(id, password, 0);
        key.keyId = ring.activeCryptKeyID;
        key.privateKeyBase64 = base64Encode(ring.ExportPrivateKey(key.keyId, &idCredentials));
        key.publicKeyBase64 = base64Encode(ring.ExportPublicKey(key.keyId));
        if (key.keyId == 0 || key.privateKeyBase64.empty() || key.publicKeyBase64.empty())
            return "Error";
    } else if (!key.generate(id, password)) {
        return "Error";
    }

    AVServerConnector connector(true);
    return connector.ValidateUser(
        user, password, code, passwordRecovery, key.keyId, key.privateKeyBase64, key.publicKeyBase64);
}

std::string AvServerAccount::ResetPassword(
    std::string& userName, std::string& code, const SecureString& newPassword, bool passwordRecovery)
{
    userName = normalizeUserName(userName);
    AVServerConnector connector(true);
    if (code.empty())
        return connector.PasswordReset(userName, std::string());

    code = trimSpaces(code);
    AV_LOG(AvLog::Info) << "Initialize Password Reset of UserId: " << userName;
    UploadKey key;
    if (!key.generate(userName, newPassword))
        return "Error";
    AV_LOG(AvLog::Warning) << "New Private Key with KeyId: " << key.keyId << "generated";
    return connector.PasswordReset(
        userName, newPassword, code, passwordRecovery, key.keyId, key.privateKeyBase64, key.publicKeyBase64);
}

bool AvServerAccount::HasRecoveryKey(const std::string& userName)
{
    return !AvCredentials::StoredPartialPassword(normalizeUserName(userName)).empty();
}

std::string AvServerAccount::RequestRecoveryCode(const std::string& userName)
{
    AVServerConnector connector(true);
    return connector.PasswordRecovery(normalizeUserName(userName), std::string());
}

std::string AvServerAccount::RecoverPassword(
    const std::string& userName, const std::string& code, const SecureString& newPassword)
{
    const std::string user = normalizeUserName(userName);
    const std::string localHalf = AvCredentials::StoredPartialPassword(user);
    if (localHalf.empty())
        return "Unavailable";

    AVServerConnector connector(true);
    const std::string answer = connector.PasswordRecovery(user, trimSpaces(code));
    if (answer.compare(0, 3, "OK:") != 0)
        return answer;
    if (answer.size() == 3)
        return "Error"; // "OK" without the server's half

    const AvCredentials recovered(user, localHalf, answer.substr(3), 0);
    if (!recovered.isValid())
        return "Denied";
    AvKeyring& ring = AvKeyring::instance();
    ring.Unlock(recovered);
    if (!ring.unlocked)
        return "Denied";
    return ring.ChangePassword(recovered, newPassword, true);
}
