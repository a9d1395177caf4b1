#pragma once

// Draws the numeric codes that the server mails for address verification,
// password recovery and password reset: uniformly distributed decimal digits
// from the operating system's CSPRNG (OpenSSL RAND_bytes), leading zeros kept.

#include <string>

namespace keyserver {

class CodeGenerator
{
public:
    // A code of `digits` digits (clamped to 6..9); empty if the CSPRNG failed.
    static std::string generate(int digits);
};

} // namespace keyserver
