#pragma once

// The tunable limits of the key server in one place: verifier hash cost, code
// length and lifetimes, wrong-attempt and rate limits, request size. The
// defaults are what the server runs with; tests lower the hash cost and the
// limits to keep their cases small.

#include "RateLimiter.h"

#include <chrono>
#include <cstddef>

namespace keyserver {

struct ServerPolicy
{
    // PBKDF2-HMAC-SHA-256 rounds for new password verifiers.
    int verifierIterations = 210000;
    // Length of mailed codes (the client accepts 6 to 9 digits).
    int codeDigits = 8;
    std::chrono::seconds verificationCodeLifetime{ std::chrono::hours(24) };
    std::chrono::seconds recoveryCodeLifetime{ std::chrono::minutes(30) };
    // Wrong entries after which a code is void and a new one must be mailed.
    int maxWrongCodeAttempts = 5;
    // Failed sign-ins and wrong codes.
    RateLimit failuresPerAccount{ 10, std::chrono::minutes(15) };
    RateLimit failuresPerAddress{ 50, std::chrono::minutes(15) };
    // Mails with codes, so nobody can flood an address.
    RateLimit mailsPerAccount{ 5, std::chrono::hours(1) };
    RateLimit mailsPerAddress{ 30, std::chrono::hours(1) };
    // Largest request body accepted.
    std::size_t maxBodyBytes = 1024 * 1024;
};

} // namespace keyserver
