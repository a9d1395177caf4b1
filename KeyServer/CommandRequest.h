#pragma once

// One parsed request as the command handlers see it: the JSON object the
// client posted and the address it came from (for rate limits).

#include <json/value.h>

#include <string>

namespace keyserver {

struct CommandRequest
{
    const Json::Value& body;
    const std::string& clientAddress;
};

} // namespace keyserver
