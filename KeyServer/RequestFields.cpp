#include "RequestFields.h"

#include "KeyList.h"

#include "util/AvStrings.h"

#include <algorithm>
#include <set>

namespace keyserver {

namespace {

constexpr std::size_t kMaxEmailBytes = 254;
constexpr std::size_t kMaxNameBytes = 128;
constexpr std::size_t kMaxCodeBytes = 32;
constexpr std::size_t kMaxSecretChars = 256;
constexpr std::size_t kMaxKeys = 256;
constexpr std::size_t kMaxPrivateKeyChars = 8192;
constexpr std::size_t kMaxPublicKeyChars = 4096;

bool isLocalPartChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '%' || c == '+' || c == '-';
}

bool isDomainLabel(std::string_view label)
{
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
        return false;
    return std::all_of(label.begin(), label.end(),
        [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
}

// Length of the UTF-8 sequence that starts with `lead`, 0 when it cannot start one.
int sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xc2 && lead <= 0xdf)
        return 2;
    if (lead >= 0xe0 && lead <= 0xef)
        return 3;
    if (lead >= 0xf0 && lead <= 0xf4)
        return 4;
    return 0;
}

bool isValidUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = sequenceLength(lead);
        if (length == 0 || i + static_cast<std::size_t>(length) > text.size())
            return false;
        std::uint32_t point = length == 1 ? lead : lead & (0xff >> (length + 1));
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xc0) != 0x80)
                return false;
            point = (point << 6) | (next & 0x3f);
        }
        const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
        if (overlong || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff))
            return false;
        i += static_cast<std::size_t>(length);
    }
    return true;
}

} // namespace

RequestFields::RequestFields(const Json::Value& request)
    : m_request(request)
{
}

const Json::Value* RequestFields::member(const char* name) const
{
    if (!m_request.isObject())
        return nullptr;
    return m_request.find(name, name + std::char_traits<char>::length(name));
}

bool RequestFields::has(const char* name) const
{
    const Json::Value* value = member(name);
    return value && !value->isNull();
}

std::string RequestFields::looseText(const char* name) const
{
    const Json::Value* value = member(name);
    return value && value->isString() ? value->asString() : std::string();
}

std::string RequestFields::optionalText(const char* name, std::size_t maxBytes)
{
    const Json::Value* value = member(name);
    if (!value || value->isNull())
        return {};
    if (!value->isString()) {
        invalidate();
        return {};
    }
    std::string text = value->asString();
    if (text.size() > maxBytes || !isCleanText(text)) {
        invalidate();
        return {};
    }
    return text;
}

std::string RequestFields::requiredText(const char* name, std::size_t maxBytes)
{
    std::string text = optionalText(name, maxBytes);
    if (text.empty())
        invalidate();
    return text;
}

std::string RequestFields::emailAddress(const char* name)
{
    std::string address = normalizeUserName(requiredText(name, kMaxEmailBytes));
    if (!isValidEmail(address)) {
        invalidate();
        return {};
    }
    return address;
}

std::string RequestFields::personName(const char* name)
{
    return trimSpaces(optionalText(name, kMaxNameBytes));
}

std::string RequestFields::base64Text(const char* name, std::size_t maxChars)
{
    std::string text = requiredText(name, maxChars);
    if (!isStrictBase64(text)) {
        invalidate();
        return {};
    }
    return text;
}

std::string RequestFields::code(const char* name)
{
    std::string text = optionalText(name, kMaxCodeBytes);
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
}

bool RequestFields::flag(const char* name)
{
    const Json::Value* value = member(name);
    if (!value || value->isNull())
        return false;
    if (value->isBool())
        return value->asBool();
    if (value->isIntegral() && (value->asLargestInt() == 0 || value->asLargestInt() == 1))
        return value->asLargestInt() == 1;
    invalidate();
    return false;
}

std::uint64_t RequestFields::keyId(const char* name)
{
    std::uint64_t id = 0;
    if (!parseKeyId(requiredText(name, 20), id)) {
        invalidate();
        return 0;
    }
    return id;
}

std::vector<StoredKey> RequestFields::keyList(const char* name)
{
    const Json::Value* list = member(name);
    if (!list || !list->isArray() || list->empty() || list->size() > kMaxKeys) {
        invalidate();
        return {};
    }
    std::vector<StoredKey> keys;
    std::set<std::uint64_t> seen;
    for (const Json::Value& entry : *list) {
        if (!entry.isObject()) {
            invalidate();
            return {};
        }
        RequestFields fields(entry);
        StoredKey key;
        key.keyId = fields.keyId("KeyID");
        key.privateKey = fields.base64Text("PrivateKey", kMaxPrivateKeyChars);
        if (fields.has("PublicKey"))
            key.publicKey = fields.base64Text("PublicKey", kMaxPublicKeyChars);
        if (!fields.isValid() || !seen.insert(key.keyId).second) {
            invalidate();
            return {};
        }
        keys.push_back(std::move(key));
    }
    return keys;
}

UploadedCredentials RequestFields::uploadedCredentials()
{
    UploadedCredentials credentials;
    credentials.newPassword = base64Text("NewPassword", kMaxSecretChars);
    credentials.passwordRecovery = flag("PasswordRecovery");
    if (credentials.passwordRecovery)
        credentials.partialPassword = base64Text("PartialPassword", kMaxSecretChars);
    credentials.keys = keyList("Userkeys");
    if (has("ActiveKey"))
        credentials.activeKey = keyId("ActiveKey");
    return credentials;
}

Failure UploadedCredentials::toUpdate(const Account& stored, const VerifierHash& hash, CredentialUpdate& update) const
{
    update.activeKey = KeyList::chooseActiveKey(keys, activeKey, stored);
    if (update.activeKey == 0)
        return Failure::InvalidRequest;
    const auto verifier = hash.make(newPassword);
    if (!verifier)
        return Failure::ServerError;
    update.verifier = *verifier;
    update.passwordRecovery = passwordRecovery;
    update.partialPassword = partialPassword;
    update.keys = keys;
    KeyList::keepKnownPublicKeys(update.keys, stored.keys);
    return Failure::None;
}

bool RequestFields::isValidEmail(std::string_view address)
{
    if (address.size() < 5 || address.size() > kMaxEmailBytes)
        return false;
    const auto at = address.find('@');
    if (at == std::string_view::npos || address.find('@', at + 1) != std::string_view::npos)
        return false;
    const std::string_view local = address.substr(0, at);
    const std::string_view domain = address.substr(at + 1);
    // A deliberately narrow local part: the address also names files on the
    // client and travels in mail headers, so quotes, slashes and the like stay out.
    if (local.empty() || local.size() > 64 || local.front() == '.' || local.back() == '.'
        || local.find("..") != std::string_view::npos || !std::all_of(local.begin(), local.end(), isLocalPartChar))
        return false;
    if (domain.find('.') == std::string_view::npos)
        return false;
    std::size_t start = 0;
    while (start <= domain.size()) {
        const auto dot = domain.find('.', start);
        const auto end = dot == std::string_view::npos ? domain.size() : dot;
        if (!isDomainLabel(domain.substr(start, end - start)))
            return false;
        if (dot == std::string_view::npos)
            break;
        start = dot + 1;
    }
    return true;
}

bool RequestFields::isCleanText(std::string_view text)
{
    const bool hasControl = std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
    return !hasControl && isValidUtf8(text);
}

bool RequestFields::isStrictBase64(std::string_view text)
{
    if (text.empty() || text.size() % 4 != 0)
        return false;
    const auto padding = text.find('=');
    const std::string_view body = text.substr(0, padding);
    if (padding != std::string_view::npos) {
        const std::string_view tail = text.substr(padding);
        if (tail.size() > 2 || tail.find_first_not_of('=') != std::string_view::npos)
            return false;
    }
    return std::all_of(body.begin(), body.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    });
}

bool RequestFields::parseKeyId(std::string_view text, std::uint64_t& keyId)
{
    std::uint64_t id = 0;
    if (text.empty() || text.size() > 20
        || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    if (!textToKeyId(text, id) || id == 0 || id == ~std::uint64_t{ 0 })
        return false;
    keyId = id;
    return true;
}

} // namespace keyserver
