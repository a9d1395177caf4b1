#pragma once

// Byte-string helpers shared by every layer. "Space" means the character ' '
// only; letters change byte by byte with the C library's case functions, so
// multi-byte UTF-8 sequences pass through untouched.

#include <cstdint>
#include <string>
#include <string_view>

std::string trimSpaces(std::string_view text);

// trimSpaces, then every byte to lower case: the form in which user names and
// e-mail addresses are stored, compared and sent.
std::string normalizeUserName(std::string_view name);

// Upper-cases the first byte and every byte after a space or a '-'.
std::string capitalizeName(std::string_view name);

// True when the trimmed text is not empty and holds only digits and spaces:
// the mark of a local account id as opposed to an e-mail address.
bool isNumericId(std::string_view text);

// A numeric id without its spaces; any other text unchanged.
std::string compactNumericId(std::string_view text);

// A numeric id with a space after every third byte (then trimmed), e.g.
// "123456" -> "123 456"; any other text unchanged.
std::string formatIdForDisplay(std::string_view text);

// Replaces every '.' and '@' by '_' (key-ring file names).
std::string underscoreName(std::string_view name);

// Key ids travel as unsigned 64-bit decimal without separators.
std::string keyIdToText(std::uint64_t keyId);
bool textToKeyId(std::string_view text, std::uint64_t& keyId);
