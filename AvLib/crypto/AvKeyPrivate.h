// AvKeyPrivate: an RSA private key and its id. The public half of the pair
// shares the id and lives in an AvKeyPublic. Copied by value into and out of
// the key ring's maps.
#pragma once

#include "crypto/AvKeyPublic.h"

#include <cryptopp/rsa.h>

#include <cstdint>

class AvKeyPrivate
{
public:
    AvKeyPrivate() = default;
    AvKeyPrivate(uint64_t id, const CryptoPP::RSA::PrivateKey& key);

    // PKCS #8 raw form (PrivateToRaw); `length` is capacity in, bytes written out.
    bool toRaw(uint8_t* out, uint32_t& length) const;
    // Reads the PKCS #8 raw form (RawToPrivate) and fills `publicHalf` with the
    // pair's public key and this key's id.
    bool fromRaw(const uint8_t* in, uint32_t length, AvKeyPublic& publicHalf);

    uint64_t keyId = 0;
    CryptoPP::RSA::PrivateKey privateKey;
};
