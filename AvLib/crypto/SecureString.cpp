#include "crypto/SecureString.h"

#include <cryptopp/misc.h>

namespace AvSecurity {

void secureWipe(void* data, std::size_t size) noexcept
{
    if (data != nullptr && size != 0)
        CryptoPP::SecureWipeBuffer(static_cast<CryptoPP::byte*>(data), size);
}

} // namespace AvSecurity
