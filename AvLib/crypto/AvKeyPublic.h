// AvKeyPublic: an RSA public key with its id and the normalized user name of
// its owner (empty for the public half of a pair that was just created). Copied
// by value into and out of the key ring's maps.
#pragma once

#include <cryptopp/rsa.h>

#include <cstdint>
#include <string>

class AvKeyPublic
{
public:
    AvKeyPublic() = default;
    AvKeyPublic(uint64_t id, const CryptoPP::RSA::PublicKey& key, std::string owner = {});
    AvKeyPublic(const AvKeyPublic& other);
    AvKeyPublic& operator=(const AvKeyPublic& other);

    // 132-byte raw form (PublicToRaw / RawToPublic); `length` is capacity in,
    // bytes written out.
    bool toRaw(uint8_t* out, uint32_t& length) const;
    bool fromRaw(const uint8_t* in, uint32_t length);

    uint64_t keyId = 0;
    CryptoPP::RSA::PublicKey publicKey;
    std::string userName;
};
