#pragma once

// Result codes of the file tools (module 0x05 in bits 16 to 23). Container
// codes (module 0x01) pass through the file tools unchanged.

#include <cstdint>

namespace FileToolsCode {

inline constexpr std::uint32_t UnexpectedEnd = 0xA0050007; // container ended before its data size
inline constexpr std::uint32_t WriteFailed = 0xA005001D; // writing the unvaulted file failed
inline constexpr std::uint32_t ReadFailed = 0xA005001E; // reading the plain file failed
inline constexpr std::uint32_t RemoveFailed = 0xA0050BB8; // a file could not be removed
inline constexpr std::uint32_t NoAccess = 0xA0050BB9; // a file could not be opened
inline constexpr std::uint32_t DoneRemoved = 0x20050BBA; // done; the source (or shredded file) was removed
inline constexpr std::uint32_t DoneKept = 0x20050BBB; // done; the source was kept
inline constexpr std::uint32_t ServerDenied = 0xA0050BBD; // key server denied the public key look-up
inline constexpr std::uint32_t ServerError = 0xA0050BBE; // key server reported an error
inline constexpr std::uint32_t KeyMissing = 0xA0050BBF; // unknown answer, or the key is still missing
inline constexpr std::uint32_t UnknownUser = 0xA0050BC0; // the key server does not know the user

inline constexpr bool isFailure(std::uint32_t code)
{
    return (code & 0xA0000000u) == 0xA0000000u;
}

} // namespace FileToolsCode
