#include "server/AVServerConnector.h"

#include "crypto/AvCredentials.h"
#include "keyring/AvKeyring.h"
#include "log/AvLog.h"
#include "server/AvHttpsPost.h"
#include "settings/AvGlobalLibSettings.h"
#include "util/AvBase64.h"
#include "util/AvStrings.h"

#include <json/reader.h>
#include <json/writer.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

namespace {

constexpr const char* kResult = "Result";
constexpr const char* kOk = "OK";
constexpr const char* kNoSuchUser = "GetUserPublicKey2.NoUserwithIDfound";
// A parse failure logs the answer; a hostile server must not fill the log.
constexpr std::size_t kMaxLoggedAnswer = 1000;

Json::Value newRequest(const char* command)
{
    Json::Value request(Json::objectValue);
    request["Command"] = command;
    return request;
}

std::string resultOf(const Json::Value& answer)
{
    return answer[kResult].asString(); // SendRequest guarantees a string
}

// Key ids in answers are unsigned decimal texts; anything else names no key.
std::optional<std::uint64_t> memberKeyId(const Json::Value& answer, const char* name)
{
    std::uint64_t keyId = 0;
    if (!textToKeyId(AVServerConnector::memberText(answer, name), keyId))
        return std::nullopt;
    return keyId;
}

bool isJsonInteger(const Json::Value& value)
{
    return value.type() == Json::intValue || value.type() == Json::uintValue;
}

bool isOne(const Json::Value& value)
{
    return value.type() == Json::intValue ? value.asLargestInt() == 1 : value.asLargestUInt() == 1;
}

bool isDigitsOnly(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Credentials for a new password are only usable when the account's id salted
// them: without it the server would store a verifier no later sign-in matches.
bool usableForNewPassword(const AvCredentials& credentials)
{
    return credentials.isValid() && !credentials.userId().empty();
}

std::string environmentText(const char* name)
{
    const char* value = std::getenv(name);
    return value ? trimSpaces(value) : std::string();
}

} // namespace

AVServerConnector::AVServerConnector(bool reportConnectionFailure)
    : m_reportConnectionFailure(reportConnectionFailure)
{
}

AVServerConnector::AVServerConnector(AvKeyring* keyring, bool reportConnectionFailure)
    : m_keyring(keyring)
    , m_reportConnectionFailure(reportConnectionFailure)
{
}

AVServerConnector::~AVServerConnector() = default;

// ---------------------------------------------------------------------------
// Transport

std::string AVServerConnector::writeRequest(const Json::Value& request)
{
    // The compact writer of the protocol: no white space at all, members in
    // jsoncpp's (byte-wise) key order, non-ASCII escaped, one final line feed.
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["commentStyle"] = "None";
    builder["enableYAMLCompatibility"] = false;
    builder["dropNullPlaceholders"] = false;
    builder["emitUTF8"] = false;
    return Json::writeString(builder, request) + "\n";
}

std::string AVServerConnector::keyRequestUrl()
{
    std::string base = environmentText(kServerUrlVariable);
    if (base.empty())
        base = kDefaultServerUrl;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return base + kRequestPath;
}

std::string AVServerConnector::memberText(const Json::Value& answer, const char* name)
{
    if (!answer.isObject())
        return {};
    const Json::Value& member = answer[name];
    if (member.isString())
        return member.asString();
    if (member.isBool())
        return member.asBool() ? "true" : "false";
    return {};
}

Json::Value AVServerConnector::failureResponse(bool reportFailure) const
{
    const char* text = reportFailure ? "UnknownHostException" : "Error";
    Json::Value response(Json::objectValue);
    response[kResult] = text;
    response["Error"] = text;
    return response;
}

Json::Value AVServerConnector::SendRequest(Json::Value request, bool suppressFailureReport)
{
    const bool reportFailure = !suppressFailureReport && m_reportConnectionFailure;

    if (AvGlobalLibSettings::instance().offlineMode) {
        if (!reportFailure) {
            AV_LOG(AvLog::Error) << "AvServerconnector - ServerConnector.SendRequest.Offlinemode";
        }
        Json::Value response(Json::objectValue);
        response[kResult] = "Error";
        response["Error"] = "Offlinemode";
        return response;
    }

    try {
        if (!request.isObject())
            request = Json::Value(Json::objectValue);
        if (m_keyring && m_keyring->credentials) {
            request["User"] = m_keyring->userId();
            request["Password"] = m_keyring->credentials->serverPasswordText();
        }
        request["Version"] = kVersion;

        const std::string answerText = PostRequest(writeRequest(request));
        if (answerText.empty()) {
            AV_LOG(AvLog::Error) << "AvServerconnector - SendRequest.POST.Failed2";
        } else {
            Json::CharReaderBuilder builder;
            builder["collectComments"] = true;
            const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
            Json::Value answer;
            std::string errors;
            if (reader->parse(answerText.data(), answerText.data() + answerText.size(), &answer, &errors)) {
                if (answer.isObject() && answer[kResult].isString())
                    return answer;
                AV_LOG(AvLog::Error) << "AvServerconnector - SendRequest.POST.Failed";
            } else {
                AV_LOG(AvLog::Error) << "AvServerconnectors - Parse fail: "
                                     << (answerText.size() > kMaxLoggedAnswer
                                                ? answerText.substr(0, kMaxLoggedAnswer) + "..."
                                                : answerText);
            }
        }
        if (reportFailure) {
            AV_LOG(AvLog::Error) << "AvServerconnector - Connection failed";
        }
    } catch (const std::exception&) {
        AV_LOG(AvLog::Error) << "AvServerconnector - SendRequest.POST.Catch";
    }
    return failureResponse(reportFailure);
}

std::string AVServerConnector::PostRequest(const std::string& requestText)
{
    const AvHttpsPost exchange(keyRequestUrl(), environmentText(kCaFileVariable), kTimeout);
    AvHttpsPost::Result result = exchange.post(requestText);
    switch (result.outcome) {
    case AvHttpsPost::Outcome::Answered:
        return std::move(result.body);
    case AvHttpsPost::Outcome::NetworkFailure:
        AV_LOG(AvLog::Warning) << "AvServerconnector - POST to " << keyRequestUrl() << " failed: " << result.detail;
        return kNetworkErrorDomain;
    case AvHttpsPost::Outcome::OtherFailure:
        break;
    }
    AV_LOG(AvLog::Warning) << "AvServerconnector - POST to " << keyRequestUrl() << " failed: " << result.detail;
    return {};
}

// ---------------------------------------------------------------------------
// Request pieces

Json::Value AVServerConnector::singleKeyList(
    std::uint64_t keyId, const std::string& privateKeyBase64, const std::string& publicKeyBase64)
{
    Json::Value key(Json::objectValue);
    key["KeyID"] = keyIdToText(keyId);
    key["PrivateKey"] = privateKeyBase64;
    key["PublicKey"] = publicKeyBase64;
    Json::Value list(Json::arrayValue);
    list.append(key);
    return list;
}

void AVServerConnector::addNewPasswordFields(
    Json::Value& request, const AvCredentials& credentials, bool passwordRecovery)
{
    request["NewPassword"] = credentials.serverPasswordText();
    if (passwordRecovery) {
        request["PasswordRecovery"] = 1;
        request["PartialPassword"] = credentials.secondHalfText();
    } else {
        request["PasswordRecovery"] = 0;
    }
}

// ---------------------------------------------------------------------------
// Commands

std::string AVServerConnector::RegisterUser(const std::string& email, const std::string& firstName,
    const std::string& lastName, std::string& loginId, bool& validationRequired)
{
    Json::Value request = newRequest("RegisterUser3");
    request["EMail"] = normalizeUserName(email);
    request["Firstname"] = firstName;
    request["Lastname"] = lastName;
    request["Language"] = AvGlobalLibSettings::instance().language;
    const Json::Value answer = SendRequest(request);
    const std::string result = resultOf(answer);
    validationRequired = true;
    if (result == kOk) {
        loginId = memberText(answer, "LoginID");
        validationRequired = answer["Validation"].isString();
    }
    return result;
}

std::string AVServerConnector::ValidateUser(const std::string& email, const SecureString& newPassword,
    const std::string& verifier, bool passwordRecovery, std::uint64_t keyId, const std::string& privateKeyBase64,
    const std::string& publicKeyBase64)
{
    const std::string user = normalizeUserName(email);
    const AvCredentials credentials(user, newPassword, 0);
    if (!usableForNewPassword(credentials)) {
        AV_LOG(AvLog::Error) << "AvServerconnector - ValidateUser3 without login id for " << user;
        return "Error";
    }
    Json::Value request = newRequest("ValidateUser3");
    request["User"] = user;
    request["Verifier"] = trimSpaces(verifier);
    request["ActiveKey"] = keyIdToText(keyId);
    request["Userkeys"] = singleKeyList(keyId, privateKeyBase64, publicKeyBase64);
    addNewPasswordFields(request, credentials, passwordRecovery);
    return resultOf(SendRequest(request));
}

std::string AVServerConnector::Authenticate()
{
    if (!m_keyring)
        return "Error";
    AvKeyring& ring = *m_keyring;
    const std::array<int, 4> stats = ring.credentials ? ring.credentials->loginStats() : std::array<int, 4>{};
    Json::Value request = newRequest("Authenticate3");
    request["EncryptedFilesCount"] = std::to_string(static_cast<unsigned int>(stats[1]));
    request["ManualLogin"] = stats[0] == 0;
    request["HasDB"] = stats[2];
    request["HasOutlook"] = stats[3];
    const Json::Value answer = SendRequest(request);
    const std::string result = resultOf(answer);
    AV_LOG(AvLog::Info) << "Authenticate " << ring.userName() << " " << result;
    if (result != kOk)
        return result;

    ring.firstName = memberText(answer, "Firstname");
    ring.lastName = memberText(answer, "Lastname");
    const Json::Value& recovery = answer["PasswordRecovery"];
    if (isJsonInteger(recovery))
        ring.UsePasswordRecovery(isOne(recovery));

    bool outdated = false;
    if (const std::optional<std::uint64_t> active = memberKeyId(answer, "ActiveKey"))
        outdated = *active != ring.activeCryptKeyID;
    const Json::Value& keyList = answer["Keylist"];
    if (!outdated && keyList.isArray()) {
        for (const Json::Value& entry : keyList) {
            std::uint64_t keyId = 0;
            if (entry.isString() && textToKeyId(entry.asString(), keyId) && ring.privateKeys.count(keyId) == 0) {
                outdated = true;
                break;
            }
        }
    }
    return outdated ? "RefreshKeys" : kOk;
}

std::string AVServerConnector::GetUserkeys()
{
    if (!m_keyring)
        return "Error";
    const Json::Value answer = SendRequest(newRequest("GetUserkeys2"));
    const std::string result = resultOf(answer);
    if (result == kOk) {
        m_keyring->ImportPrivateKey(answer["Userkeys"], memberKeyId(answer, "ActiveKey").value_or(0));
    } else {
        AV_LOG(AvLog::Error) << "AvServerconnector - GetUserKeys Error. Return Value from Server: " << result;
    }
    return result;
}

std::string AVServerConnector::ChangePassword(const SecureString& newPassword, bool passwordRecovery)
{
    if (!m_keyring || !m_keyring->credentials)
        return "Error";
    AvKeyring& ring = *m_keyring;
    const AvCredentials credentials(ring.userName(), newPassword, 0);
    if (!usableForNewPassword(credentials)) {
        AV_LOG(AvLog::Error) << "AvServerconnector - ChangePassword2 without login id for " << ring.userName();
        return "Error";
    }
    // A partial key list would make the server forget the missing keys.
    std::optional<Json::Value> keys = ring.ExportKeys(&credentials);
    if (!keys)
        return "Error";
    Json::Value request = newRequest("ChangePassword2");
    request["Userkeys"] = std::move(*keys);
    addNewPasswordFields(request, credentials, passwordRecovery);
    const std::string result = resultOf(SendRequest(request));
    AV_LOG(AvLog::Info) << "Password changed for user " << ring.userName() << " " << result;
    return result;
}

std::string AVServerConnector::GetUserPublicKey(const std::string& userName)
{
    if (!m_keyring)
        return "Error";
    AvKeyring& ring = *m_keyring;
    // With a cached key an unreachable server is no failure: the cache answers.
    const bool cached = ring.LoadPublicKey(userName) != nullptr;
    Json::Value request = newRequest("GetUserPublicKey2");
    request["InvokedUser"] = userName;
    const Json::Value answer = SendRequest(request, cached);
    std::string result = resultOf(answer);
    AV_LOG(AvLog::Info) << "User-Key for User " << userName << " " << result;

    if (result == kOk) {
        const std::string rawKey = base64Decode(memberText(answer, "PublicKey"));
        const std::uint64_t keyId = memberKeyId(answer, "ActiveKey").value_or(0);
        if (keyId == 0 || !ring.ImportPublicKey(keyId, userName, rawKey))
            return "AVServerConnector.InvokePubKey: Error importing PublicKey";
        // Cached under its owner; an id that already belonged to someone else
        // in the ring is not filed under this user.
        const AvKeyPublic* key = ring.FindPublicKey(keyId);
        if (key && key->userName == normalizeUserName(userName))
            ring.SavePubKey(*key);
        return kOk;
    }
    if (result == "Error") {
        const std::string detail = memberText(answer, "Error");
        if (cached)
            result = "OK_FromCache";
        if (detail == kNoSuchUser)
            result = "Err_NOID";
    }
    return result;
}

std::string AVServerConnector::GetLoginID(const std::string& email, std::string& loginId)
{
    loginId.clear();
    Json::Value request = newRequest("GetLoginID3");
    request["EMail"] = email;
    const Json::Value answer = SendRequest(request);
    const std::string result = resultOf(answer);
    if (result != kOk) {
        AV_LOG(AvLog::Error) << "AvServerconnector - GetLoginID Error. Return Value from Server: " << result;
        return result;
    }
    // The id salts the password derivation; only a plain number is one.
    const std::string id = memberText(answer, "LoginID");
    if (isDigitsOnly(id))
        loginId = id;
    else
        AV_LOG(AvLog::Error) << "AvServerconnector - GetLoginID Error. Return Value from Server: " << result
                             << " without a numeric LoginID";
    return result;
}

std::string AVServerConnector::PasswordRecovery(const std::string& user, const std::string& recoveryCode)
{
    Json::Value request = newRequest("PasswordRecovery2");
    request["User"] = user;
    if (!recoveryCode.empty())
        request["RecoveryCode"] = recoveryCode;
    const Json::Value answer = SendRequest(request);
    const std::string result = resultOf(answer);
    if (recoveryCode.empty())
        return result;
    if (result == kOk)
        return "OK:" + memberText(answer, "PartialPassword");
    AV_LOG(AvLog::Error) << "AvServerconnector - Password Recovery2 failed with Error Code: " << result;
    return result;
}

std::string AVServerConnector::PasswordReset(const std::string& user, const std::string& resetCode)
{
    Json::Value request = newRequest("PasswordReset2");
    request["User"] = user;
    if (!resetCode.empty())
        request["ResetCode"] = resetCode;
    return resultOf(SendRequest(request));
}

std::string AVServerConnector::PasswordReset(const std::string& user, const SecureString& newPassword,
    const std::string& resetCode, bool passwordRecovery, std::uint64_t keyId, const std::string& privateKeyBase64,
    const std::string& publicKeyBase64)
{
    const std::string name = normalizeUserName(user);
    const AvCredentials credentials(name, newPassword, 0);
    if (!usableForNewPassword(credentials)) {
        AV_LOG(AvLog::Error) << "AvServerconnector - PasswordReset2 without login id for " << name;
        return "Error";
    }
    Json::Value request = newRequest("PasswordReset2");
    request["User"] = name;
    request["ResetCode"] = resetCode;
    request["ActiveKey"] = keyIdToText(keyId);
    request["Userkeys"] = singleKeyList(keyId, privateKeyBase64, publicKeyBase64);
    addNewPasswordFields(request, credentials, passwordRecovery);
    return resultOf(SendRequest(request));
}

std::string AVServerConnector::UpdateAccount(std::string& firstName, std::string& lastName)
{
    firstName = trimSpaces(firstName);
    lastName = trimSpaces(lastName);
    Json::Value request = newRequest("UpdateAccount");
    request["Firstname"] = firstName;
    request["Lastname"] = lastName;
    request["Language"] = AvGlobalLibSettings::instance().language;
    const std::string result = resultOf(SendRequest(request));
    if (result == kOk && m_keyring) {
        m_keyring->firstName = firstName;
        m_keyring->lastName = lastName;
    }
    return result;
}

bool AVServerConnector::ConnectivityCheck()
{
    return resultOf(SendRequest(newRequest("ConnectivityCheck"))) == kOk;
}

std::string AVServerConnector::UpgradeAccount(const std::string& email, const std::string& firstName,
    const std::string& lastName, const std::array<int, 4>* loginStats)
{
    Json::Value request = newRequest("UpgradeAccount");
    request["EMailAddress"] = normalizeUserName(email);
    request["Firstname"] = firstName;
    request["Lastname"] = lastName;
    if (loginStats)
        request["HasOutlook"] = (*loginStats)[3];
    const std::string result = resultOf(SendRequest(request));
    AV_LOG(AvLog::Info) << " Upgrade Account " << result;
    return result;
}

std::string AVServerConnector::SetUserkeys()
{
    if (!m_keyring)
        return "Error";
    std::optional<Json::Value> keys = m_keyring->ExportKeys();
    if (!keys)
        return "Error";
    Json::Value request = newRequest("SetUserkeys");
    request["Userkeys"] = std::move(*keys);
    request["ActiveKey"] = keyIdToText(m_keyring->activeCryptKeyID);
    return resultOf(SendRequest(request));
}

std::string AVServerConnector::DBExecuteScalar(const std::string& sql)
{
    Json::Value request = newRequest("Unittest_DBExecuteScalar");
    request["Sql"] = sql;
    const Json::Value answer = SendRequest(request);
    const std::string result = resultOf(answer);
    return result == kOk ? memberText(answer, "SqlResult") : result;
}
