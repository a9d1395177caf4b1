#include "JsonWire.h"

#include <json/reader.h>
#include <json/writer.h>

#include <exception>
#include <memory>

namespace keyserver {

namespace {
// Deep enough for any request of the protocol (three levels), shallow enough
// that a nesting bomb cannot exhaust the stack.
constexpr int kMaxDepth = 32;
// jsoncpp lets comments through between members even in strict mode; JSON
// has no comments, and outside strings a '/' can only start one.
bool hasSlashOutsideStrings(std::string_view text)
{
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '/') {
            return true;
        }
    }
    return false;
}

} // namespace

bool JsonWire::parse(std::string_view text, Json::Value& value)
{
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder.settings_["stackLimit"] = kMaxDepth;
    builder.settings_["collectComments"] = false;
    if (hasSlashOutsideStrings(text))
        return false;
    try {
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        std::string errors;
        return reader->parse(text.data(), text.data() + text.size(), &value, &errors);
    } catch (const std::exception&) {
        // jsoncpp reports an exceeded depth by throwing.
        return false;
    }
}

std::string JsonWire::write(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value) + "\n";
}

} // namespace keyserver
