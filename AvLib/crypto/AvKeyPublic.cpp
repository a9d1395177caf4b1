#include "crypto/AvKeyPublic.h"

#include "crypto/AvEncrypt.h"

AvKeyPublic::AvKeyPublic(uint64_t id, const CryptoPP::RSA::PublicKey& key, std::string owner)
    : keyId(id)
    , userName(std::move(owner))
{
    publicKey.Initialize(key.GetModulus(), key.GetPublicExponent());
}

AvKeyPublic::AvKeyPublic(const AvKeyPublic& other)
    : keyId(other.keyId)
    , userName(other.userName)
{
    publicKey.Initialize(other.publicKey.GetModulus(), other.publicKey.GetPublicExponent());
}

AvKeyPublic& AvKeyPublic::operator=(const AvKeyPublic& other)
{
    if (this == &other)
        return *this;
    keyId = other.keyId;
    publicKey.Initialize(other.publicKey.GetModulus(), other.publicKey.GetPublicExponent());
    userName = other.userName;
    return *this;
}

bool AvKeyPublic::toRaw(uint8_t* out, uint32_t& length) const
{
    return PublicToRaw(publicKey, out, length);
}

bool AvKeyPublic::fromRaw(const uint8_t* in, uint32_t length)
{
    return RawToPublic(in, length, publicKey);
}
