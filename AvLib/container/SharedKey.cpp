#include "container/SharedKey.h"

#include "crypto/AvEncrypt.h"
#include "crypto/SecureString.h"
#include "util/AvStrings.h"

#include <cryptopp/osrng.h>

#include <algorithm>
#include <cstring>

namespace {

void fillRandom(std::uint8_t* bytes, std::size_t length)
{
    try {
        CryptoPP::AutoSeededRandomPool generator;
        generator.GenerateBlock(bytes, length);
    } catch (const CryptoPP::Exception&) {
        // The filler only hides the name's length; zeros keep the field valid.
        std::memset(bytes, 0, length);
    }
}

} // namespace

SharedKey::~SharedKey()
{
    if (!wrappedKey.empty())
        AvSecurity::secureWipe(wrappedKey.data(), wrappedKey.size());
}

std::unique_ptr<SharedKey> SharedKey::make(
    std::uint64_t recipientKeyId, const std::string& userName, std::string wrapped)
{
    auto share = std::make_unique<SharedKey>();
    share->version = CurrentVersion;
    share->keyId = recipientKeyId;
    share->setName(userName);
    share->length = std::uint16_t(FixedLength + NameFieldLength + wrapped.size());
    share->wrappedKey = std::move(wrapped);
    return share;
}

void SharedKey::setName(const std::string& userName)
{
    const std::string normalized = normalizeUserName(userName);
    nameField.buffer.fill(0);
    fillRandom(nameField.buffer.data(), NameBytes);
    nameField.length = NameFieldLength;
    // Name and its zero byte, cut to the field: a name of 129 bytes or more has no zero.
    const std::size_t copied = std::min<std::size_t>(normalized.size() + 1, NameBytes);
    std::memcpy(nameField.buffer.data(), normalized.c_str(), copied);
}

std::string SharedKey::name() const
{
    const std::size_t count = nameField.length > 0 ? nameField.length - 1u : 0u;
    const auto* begin = reinterpret_cast<const char*>(nameField.buffer.data());
    const auto* end = std::find(begin, begin + count, '\0');
    return std::string(begin, end);
}

std::string SharedKey::scrambledNameField(std::uint8_t formatVersion) const
{
    const std::size_t count = nameField.length > 0 ? nameField.length - 1u : 0u;
    std::string stored(reinterpret_cast<const char*>(nameField.buffer.data()), count);
    if (formatVersion > 1)
        RotateBitsRight(reinterpret_cast<std::uint8_t*>(stored.data()), std::uint32_t(stored.size()));
    return stored;
}

void SharedKey::setNameFieldFromFile(std::uint8_t fieldLength, const std::string& stored, std::uint8_t formatVersion)
{
    nameField.buffer.fill(0);
    nameField.length = std::min(fieldLength, NameFieldLength);
    const std::size_t count = std::min<std::size_t>(stored.size(), NameBytes);
    std::memcpy(nameField.buffer.data(), stored.data(), count);
    if (formatVersion > 1)
        RotateBitsLeft(nameField.buffer.data(), std::uint32_t(count));
}

void SharedKey::markDeleted()
{
    if (!wrappedKey.empty())
        AvSecurity::secureWipe(wrappedKey.data(), wrappedKey.size());
    nameField.buffer.fill(0);
    keyId = DeletedKeyId;
}
