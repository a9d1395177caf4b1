#pragma once

// Result codes of the container (module 0x01 in bits 16 to 23). A code with
// both bits of 0xA0000000 set is a failure, any other non-zero code a note;
// loops over a lower layer stop at the first code whose low 16 bits are not 0.

#include <cstdint>

namespace CryptFileCode {

inline constexpr std::uint32_t Ok = 0;

// Failures.
inline constexpr std::uint32_t InfoCorrupt = 0xA000000E;
inline constexpr std::uint32_t ShrinkNotSupported = 0xA0000002;
inline constexpr std::uint32_t OpenFailed = 0xA0010001;
inline constexpr std::uint32_t AlreadyShared = 0xA0010003;
inline constexpr std::uint32_t BadArgument = 0xA0010004;
inline constexpr std::uint32_t NoFileKeyAccess = 0xA0010005;
inline constexpr std::uint32_t InvalidKey = 0xA0010006;
inline constexpr std::uint32_t UnexpectedEnd = 0xA0010007;
inline constexpr std::uint32_t UnknownPacket = 0xA0010008;
inline constexpr std::uint32_t NoPublicKey = 0xA0010009;
inline constexpr std::uint32_t StreamNotOpenForSize = 0xA001000B;
inline constexpr std::uint32_t MissingPackets = 0xA001000C;
inline constexpr std::uint32_t FileKeyNotInRing = 0xA001000D;
inline constexpr std::uint32_t PacketTruncated = 0xA001000E;
inline constexpr std::uint32_t NoOwnerShare = 0xA001000F;
inline constexpr std::uint32_t WrapFailed = 0xA0010010;
inline constexpr std::uint32_t RemoveFromEmptyList = 0xA0010011;
inline constexpr std::uint32_t StreamNotOpen = 0xA0010013;
inline constexpr std::uint32_t NoShares = 0xA0010014;
inline constexpr std::uint32_t NoSuchEntry = 0xA0010015;
inline constexpr std::uint32_t NoSuchShare = 0xA0010017;
inline constexpr std::uint32_t OutOfMemory = 0xA0010018;
inline constexpr std::uint32_t EmptyShareList = 0xA0010019;
inline constexpr std::uint32_t BadMultiplicand = 0xA001001A;
inline constexpr std::uint32_t ReadOnly = 0xA001001B;
inline constexpr std::uint32_t NewerVersion = 0xA001001C;
inline constexpr std::uint32_t StreamFailedBeforeWrite = 0xA001001D;
inline constexpr std::uint32_t StreamFailedBeforeRead = 0xA001001E;
inline constexpr std::uint32_t ResizeIncomplete = 0xA001001F;
inline constexpr std::uint32_t HeaderAssembly = 0xA0010021;
inline constexpr std::uint32_t CorruptSize = 0xA0010026;
inline constexpr std::uint32_t HeaderWrite = 0xA0010029;
inline constexpr std::uint32_t SegmentWrite = 0xA001002A;
inline constexpr std::uint32_t SeekBeforeDataStart = 0xA00100CF;

// Notes.
inline constexpr std::uint32_t FlushReadOnly = 0x20000067;
inline constexpr std::uint32_t NothingDirty = 0x20000069;
inline constexpr std::uint32_t EndOfData = 0x20010065;
inline constexpr std::uint32_t AlreadyRead = 0x20010066;
inline constexpr std::uint32_t NoShareOpened = 0x20010067;

inline constexpr bool isFailure(std::uint32_t code)
{
    return (code & 0xA0000000u) == 0xA0000000u;
}

inline constexpr std::uint32_t lowBits(std::uint32_t code)
{
    return code & 0xFFFFu;
}

} // namespace CryptFileCode
