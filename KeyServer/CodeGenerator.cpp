#include "CodeGenerator.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace keyserver {

std::string CodeGenerator::generate(int digits)
{
    digits = std::clamp(digits, 6, 9);
    std::uint32_t modulus = 1;
    for (int i = 0; i < digits; ++i)
        modulus *= 10;
    // Values at or above the largest multiple of the modulus are drawn again,
    // so that every code is equally likely.
    const std::uint64_t range = std::uint64_t{ 1 } << 32;
    const std::uint64_t acceptBelow = range - range % modulus;
    for (int attempt = 0; attempt < 64; ++attempt) {
        unsigned char bytes[4];
        if (RAND_bytes(bytes, sizeof bytes) != 1)
            return {};
        std::uint32_t value = 0;
        std::memcpy(&value, bytes, sizeof value);
        if (value >= acceptBelow)
            continue;
        std::string code = std::to_string(value % modulus);
        code.insert(0, static_cast<std::size_t>(digits) - code.size(), '0');
        return code;
    }
    return {};
}

} // namespace keyserver
