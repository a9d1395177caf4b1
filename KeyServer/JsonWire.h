#pragma once

// JSON as it travels: requests are parsed strictly (one object or array as
// the root, nothing after it, no comments, no duplicate member names, a
// bounded nesting depth), answers are written compactly on one line with a
// final line feed. Parsing never throws.

#include <json/value.h>

#include <string>
#include <string_view>

namespace keyserver {

class JsonWire
{
public:
    static bool parse(std::string_view text, Json::Value& value);
    static std::string write(const Json::Value& value);
};

} // namespace keyserver
