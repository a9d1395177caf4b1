#pragma once

// Base64 as every stored and transmitted binary value uses it: the standard
// alphabet, '=' padding, no line breaks. Decoding is lenient in one fixed
// way: it stops at the first '=' or the first byte outside the alphabet, and
// a dangling final character (fewer than 8 bits) is dropped.

#include <string>
#include <string_view>

std::string base64Encode(std::string_view bytes);
std::string base64Decode(std::string_view text);
