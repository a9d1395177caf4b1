// AvKeyAES: a symmetric file key, its id and its AES-256 OFB record. Key ring
// maps hold these by id and containers refer to them by id. Copies are deep:
// the copy has its own key, IV and (if the source had one) its own cipher,
// restarted on the copied IV. Key and IV are wiped when released.
#pragma once

#include "crypto/AvEncrypt.h"

#include <cstdint>

class AvKeyAES
{
public:
    AvKeyAES() = default;
    explicit AvKeyAES(uint64_t id)
        : keyId(id)
    {
    }

    // Fresh random key and IV (counter 0 in IV bytes 6 to 9).
    void generate() { GenerateAesKey(aes); }
    // 48-byte raw form: key then IV.
    bool fromRaw(const uint8_t* in, uint32_t length) { return RawToAes(aes, in, length); }
    bool toRaw(uint8_t* out, uint32_t& length) const { return AesToRaw(aes, out, length); }

    uint64_t keyId = 0;
    AvAesRecord aes;
};
