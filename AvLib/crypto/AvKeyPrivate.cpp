#include "crypto/AvKeyPrivate.h"

#include "crypto/AvEncrypt.h"

AvKeyPrivate::AvKeyPrivate(uint64_t id, const CryptoPP::RSA::PrivateKey& key)
    : keyId(id)
    , privateKey(key)
{
}

bool AvKeyPrivate::toRaw(uint8_t* out, uint32_t& length) const
{
    return PrivateToRaw(privateKey, out, length);
}

bool AvKeyPrivate::fromRaw(const uint8_t* in, uint32_t length, AvKeyPublic& publicHalf)
{
    CryptoPP::RSA::PrivateKey decoded;
    CryptoPP::RSA::PublicKey decodedPublic;
    if (!RawToPrivate(in, length, decoded, decodedPublic))
        return false;
    privateKey = decoded;
    publicHalf.keyId = keyId;
    publicHalf.publicKey = decodedPublic;
    return true;
}
