#pragma once

// AvHttpsPost: one synchronous HTTPS POST through libcurl's easy interface,
// the exchange under every key server request. The peer's certificate and
// host name are always verified, against the system's trusted authorities
// plus, when given, one extra CA file (a self-hosted key server with its own
// authority). Only https URLs are used and redirects are not followed, so
// nothing ever leaves in clear. The answer body is returned whatever the
// HTTP status; failures are told apart only as far as the caller needs:
// the network could not deliver (no name, no connection, time-out, TLS or
// certificate refused) or something else went wrong. The curl handle and
// header list are released on every path.

#include <chrono>
#include <string>
#include <string_view>

class AvHttpsPost
{
public:
    enum class Outcome {
        Answered, // a response came back; `body` holds it, `httpStatus` its status
        NetworkFailure, // no exchange: resolving, connecting, time-out, TLS, certificate
        OtherFailure, // anything else (set-up, memory, oversized answer)
    };

    struct Result
    {
        Outcome outcome = Outcome::OtherFailure;
        std::string body;
        long httpStatus = 0;
        std::string detail; // libcurl's description of a failure
    };

    // Answers larger than this are refused rather than held in memory.
    static constexpr std::size_t kMaxAnswerBytes = 16 * 1024 * 1024;

    AvHttpsPost(std::string url, std::string extraCaFile, std::chrono::seconds timeout);

    // Posts `body` with the content type "application/octet-stream" and
    // "Content-Transfer-Encoding: binary".
    Result post(std::string_view body) const;

private:
    std::string m_url;
    std::string m_extraCaFile;
    std::chrono::seconds m_timeout;
};
