#include "util/AvStrings.h"

#include <cctype>
#include <charconv>

std::string trimSpaces(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

std::string normalizeUserName(std::string_view name)
{
    std::string result = trimSpaces(name);
    for (char& c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

std::string capitalizeName(std::string_view name)
{
    std::string result(name);
    bool startOfWord = true;
    for (char& c : result) {
        if (startOfWord)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        startOfWord = (c == ' ' || c == '-');
    }
    return result;
}

bool isNumericId(std::string_view text)
{
    const std::string trimmed = trimSpaces(text);
    if (trimmed.empty())
        return false;
    for (char c : trimmed) {
        if (c != ' ' && (c < '0' || c > '9'))
            return false;
    }
    return true;
}

std::string compactNumericId(std::string_view text)
{
    if (!isNumericId(text))
        return std::string(text);
    std::string result;
    for (char c : text) {
        if (c != ' ')
            result += c;
    }
    return result;
}

std::string formatIdForDisplay(std::string_view text)
{
    if (!isNumericId(text))
        return std::string(text);
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        result += text[i];
        if ((i + 1) % 3 == 0)
            result += ' ';
    }
    return trimSpaces(result);
}

std::string underscoreName(std::string_view name)
{
    std::string result(name);
    for (char& c : result) {
        if (c == '.' || c == '@')
            c = '_';
    }
    return result;
}

std::string keyIdToText(std::uint64_t keyId)
{
    return std::to_string(keyId);
}

bool textToKeyId(std::string_view text, std::uint64_t& keyId)
{
    if (text.empty())
        return false;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (error != std::errc() || end != text.data() + text.size())
        return false;
    keyId = value;
    return true;
}
