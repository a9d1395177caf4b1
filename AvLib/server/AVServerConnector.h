#pragma once

// AVServerConnector: the client side of the key server protocol. Every
// exchange is one HTTPS POST of a JSON object to "/keyrequest.aspx",
// answered by one JSON object with a string "Result". SendRequest adds the
// envelope ("User" and "Password" of the bound key ring's credentials when it
// has any, and always "Version"), writes the request compactly with sorted
// members and a final line feed, posts it and parses the answer; every kind
// of failure comes back as an answer of the same shape ("Result" and "Error"
// both "UnknownHostException" while the failure report is in effect, else
// both "Error"), and in offline mode nothing is sent at all. On top sit the
// commands, each building its request, sending it and reading the members it
// needs; they return the result text and never throw. A connector lives for
// one command, except the one the key ring owns (it implements the key
// ring's connector interface). The server's base URL comes from
// ARDENTVAULT_SERVER_URL and an extra trusted CA file from ARDENTVAULT_CA_FILE.

#include "crypto/SecureString.h"
#include "keyring/AvKeyringConnector.h"

#include <json/value.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

class AvCredentials;
class AvKeyring;

class AVServerConnector : public AvKeyringConnector
{
public:
    static constexpr const char* kVersion = "0.9.1737 OSX";
    static constexpr const char* kDefaultServerUrl = "https://keys.ardentvault.org:443";
    static constexpr const char* kRequestPath = "/keyrequest.aspx";
    static constexpr const char* kServerUrlVariable = "ARDENTVAULT_SERVER_URL";
    static constexpr const char* kCaFileVariable = "ARDENTVAULT_CA_FILE";
    // The response text PostRequest gives when the network could not carry
    // the exchange; it is not JSON, so SendRequest logs it as a parse failure.
    static constexpr const char* kNetworkErrorDomain = "NSURLErrorDomain";
    static constexpr std::chrono::seconds kTimeout{ 30 };

    // A connector without a key ring: requests carry no "User"/"Password".
    explicit AVServerConnector(bool reportConnectionFailure = true);
    // A connector that sends in the name of `keyring`'s account (when it has credentials).
    AVServerConnector(AvKeyring* keyring, bool reportConnectionFailure);
    ~AVServerConnector() override;

    AvKeyring* keyring() const { return m_keyring; }
    void setReportConnectionFailure(bool on) override { m_reportConnectionFailure = on; }
    bool reportConnectionFailure() const override { return m_reportConnectionFailure; }

    // ---- transport -----------------------------------------------------------

    // Completes, sends and parses one request. The answer always has a string
    // "Result". `suppressFailureReport` turns an unreachable server into
    // "Error" for this request.
    Json::Value SendRequest(Json::Value request, bool suppressFailureReport = false);
    // The HTTPS exchange: the answer body whatever the HTTP status, the
    // network error domain's name when the network failed, empty otherwise.
    virtual std::string PostRequest(const std::string& requestText);

    // The request text: no white space, members in ascending byte order, one
    // final line feed.
    static std::string writeRequest(const Json::Value& request);
    // Base URL (ARDENTVAULT_SERVER_URL or the default) + "/keyrequest.aspx".
    static std::string keyRequestUrl();

    // ---- commands --------------------------------------------------------------

    // "RegisterUser3". On "OK" `loginId` gets the new login id;
    // `validationRequired` is false only for "OK" without a "Validation" text.
    std::string RegisterUser(const std::string& email, const std::string& firstName, const std::string& lastName,
        std::string& loginId, bool& validationRequired);
    // "ValidateUser3": completes a registration with the verification code and
    // the account's first key (sealed private key and raw public key, both Base64).
    std::string ValidateUser(const std::string& email, const SecureString& newPassword, const std::string& verifier,
        bool passwordRecovery, std::uint64_t keyId, const std::string& privateKeyBase64,
        const std::string& publicKeyBase64);
    // "Authenticate3" with the key ring's login statistics; "RefreshKeys"
    // instead of "OK" when the server's key list differs from the ring.
    std::string Authenticate() override;
    // "GetUserkeys2": imports the server's key list and active key into the ring.
    std::string GetUserkeys() override;
    // "ChangePassword2": the ring's keys sealed with the new password's credentials.
    std::string ChangePassword(const SecureString& newPassword, bool passwordRecovery) override;
    // "GetUserPublicKey2" with the public key cache: "OK", "OK_FromCache",
    // "Err_NOID", or a failure text.
    std::string GetUserPublicKey(const std::string& userName) override;
    // "GetLoginID3": the numeric login id of an address; empty unless "OK".
    std::string GetLoginID(const std::string& email, std::string& loginId);
    // "PasswordRecovery2": without a code the server mails one; with the
    // right code the result is "OK:" followed by the server's partial password.
    std::string PasswordRecovery(const std::string& user, const std::string& recoveryCode);
    // "PasswordReset2", request form: without a code the server mails one;
    // with a code the server checks it.
    std::string PasswordReset(const std::string& user, const std::string& resetCode);
    // "PasswordReset2", complete form: a new password and a new first key.
    std::string PasswordReset(const std::string& user, const SecureString& newPassword, const std::string& resetCode,
        bool passwordRecovery, std::uint64_t keyId, const std::string& privateKeyBase64,
        const std::string& publicKeyBase64);
    // "UpdateAccount": names trimmed (written back); stored in the ring on "OK".
    std::string UpdateAccount(std::string& firstName, std::string& lastName);
    // "ConnectivityCheck": true exactly when the server answers "OK".
    bool ConnectivityCheck();
    // "UpgradeAccount"; "HasOutlook" is sent only when `loginStats` is given.
    std::string UpgradeAccount(const std::string& email, const std::string& firstName, const std::string& lastName,
        const std::array<int, 4>* loginStats = nullptr);
    // "SetUserkeys": the ring's keys with its own credentials and its active key.
    std::string SetUserkeys();
    // "Unittest_DBExecuteScalar": the answer's "SqlResult" on "OK", else the result.
    std::string DBExecuteScalar(const std::string& sql);

    // How commands read answer members: a string as it is, a boolean as
    // "true"/"false", anything else (missing, number, array, object) as "".
    static std::string memberText(const Json::Value& answer, const char* name);

private:
    Json::Value failureResponse(bool reportFailure) const;
    static Json::Value singleKeyList(
        std::uint64_t keyId, const std::string& privateKeyBase64, const std::string& publicKeyBase64);
    static void addNewPasswordFields(Json::Value& request, const AvCredentials& credentials, bool passwordRecovery);

    AvKeyring* m_keyring = nullptr;
    bool m_reportConnectionFailure = true;
};
