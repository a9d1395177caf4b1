#include "CommandResult.h"

namespace keyserver {

namespace {

struct FailureAnswer
{
    const char* result;
    const char* detail; // member "Error", or null
    int httpStatus;
};

FailureAnswer answerFor(Failure failure)
{
    switch (failure) {
    case Failure::None:
        return { "OK", nullptr, 200 };
    case Failure::Denied:
        return { "Denied", nullptr, 200 };
    case Failure::TooManyAttempts:
        return { "Denied", "TooManyAttempts", 200 };
    case Failure::NotVerified:
        return { "CheckEmailValCode", nullptr, 200 };
    case Failure::Duplicate:
        return { "Duplicate", nullptr, 200 };
    case Failure::Unavailable:
        return { "Unavailable", nullptr, 200 };
    case Failure::NoSuchUser:
        return { "Error", "GetUserPublicKey2.NoUserwithIDfound", 200 };
    case Failure::InvalidRequest:
        return { "Error", "InvalidRequest", 400 };
    case Failure::MalformedRequest:
        return { "Error", "MalformedRequest", 400 };
    case Failure::RequestTooLarge:
        return { "Error", "RequestTooLarge", 413 };
    case Failure::UnknownCommand:
        return { "Error", "UnknownCommand", 400 };
    case Failure::CommandRefused:
        return { "Error", "CommandNotAvailable", 403 };
    case Failure::TooManyRequests:
        return { "Error", "TooManyRequests", 429 };
    case Failure::MailFailed:
        return { "Error", "MailDeliveryFailed", 503 };
    case Failure::NotFound:
        return { "Error", "NotFound", 404 };
    case Failure::ServerError:
        return { "Error", "ServerError", 500 };
    }
    return { "Error", "ServerError", 500 };
}

} // namespace

CommandResult::CommandResult(Failure failure, Json::Value members)
    : m_failure(failure)
    , m_members(std::move(members))
{
}

CommandResult CommandResult::ok(Json::Value members)
{
    return CommandResult(Failure::None, std::move(members));
}

CommandResult CommandResult::fail(Failure failure)
{
    return CommandResult(failure, Json::Value(Json::objectValue));
}

CommandResult CommandResult::of(Failure failure)
{
    return failure == Failure::None ? ok() : fail(failure);
}

Json::Value CommandResult::toAnswer() const
{
    const FailureAnswer answer = answerFor(m_failure);
    Json::Value object = isOk() && m_members.isObject() ? m_members : Json::Value(Json::objectValue);
    object["Result"] = answer.result;
    if (answer.detail)
        object["Error"] = answer.detail;
    return object;
}

std::string CommandResult::resultText() const
{
    const FailureAnswer answer = answerFor(m_failure);
    return answer.detail ? std::string(answer.result) + "/" + answer.detail : std::string(answer.result);
}

int CommandResult::httpStatus() const
{
    return answerFor(m_failure).httpStatus;
}

} // namespace keyserver
