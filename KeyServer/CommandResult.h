#pragma once

// The outcome of one request: either success with the answer's members, or
// one Failure. toAnswer() is the one place where failures become the JSON
// answers clients see ("Denied", "Duplicate", "Error" with a detail ...), so
// every handler and the HTTP layer answer the same failure the same way.

#include <json/value.h>

#include <string>

namespace keyserver {

enum class Failure {
    None,
    Denied, // wrong password or code, unknown account where the protocol hides it
    TooManyAttempts, // failures of this account or address are rate-limited
    NotVerified, // the address was never verified with its code
    Duplicate, // the address already has an account
    Unavailable, // password recovery is off for the account
    NoSuchUser, // public key look-up for a user that does not exist
    InvalidRequest, // a member is missing, of the wrong type or malformed
    MalformedRequest, // the body is not one JSON object
    RequestTooLarge, // the body exceeds the size limit
    UnknownCommand,
    CommandRefused, // a command this server never carries out
    TooManyRequests, // mail rate limit
    MailFailed,
    NotFound, // a path other than the key request endpoint
    ServerError
};

class CommandResult
{
public:
    static CommandResult ok(Json::Value members = Json::Value(Json::objectValue));
    static CommandResult fail(Failure failure);
    // Success without members for Failure::None, else fail(failure).
    static CommandResult of(Failure failure);

    bool isOk() const { return m_failure == Failure::None; }
    Failure failure() const { return m_failure; }

    // The answer object; always holds a string "Result".
    Json::Value toAnswer() const;
    // The "Result" text, for the request log.
    std::string resultText() const;
    // HTTP status that goes with the answer (clients read only the body).
    int httpStatus() const;

private:
    CommandResult(Failure failure, Json::Value members);

    Failure m_failure;
    Json::Value m_members;
};

} // namespace keyserver
