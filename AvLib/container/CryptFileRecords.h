#pragma once

// The in-memory form of the container's fixed packets: info, header, file name
// and data header. Every integer is stored little-endian in the file; these
// records hold the values exactly as read or as they will be written, so a file
// whose headers are rewritten keeps the bytes it was read with.

#include <cstdint>
#include <string>
#include <string_view>

namespace CryptFilePacket {

inline constexpr std::uint8_t InfoTag = 0x20;
inline constexpr std::uint8_t HeaderTag = 0x01;
inline constexpr std::uint8_t FileNameTag = 0x02;
inline constexpr std::uint8_t ShareTag = 0x03;
inline constexpr std::uint8_t DataTag = 0x0A;

// "File encrypted with " and the product's web address, no terminating zero.
inline constexpr std::string_view Banner = "File encrypted with ardentvault.org";

inline constexpr std::uint8_t CurrentVersion = 2;
inline constexpr std::uint16_t HeaderLength = 22;
inline constexpr std::uint16_t MaxFileNameLength = 130; // packet length, tag and length field included
inline constexpr std::uint64_t DataHeaderLength = 11; // tag, 8-byte length, multiplicand, pad count
inline constexpr std::uint8_t DefaultMultiplicand = 16; // 4096-byte segments
inline constexpr std::uint8_t MinMultiplicand = 2;
inline constexpr std::uint8_t MaxMultiplicand = 128;
inline constexpr std::uint32_t SegmentUnit = 256;
inline constexpr std::uint32_t CipherBlock = 16; // the ciphertext is padded to this

inline constexpr std::uint64_t NoKey = ~std::uint64_t(0); // missing file key, deleted share

// Header flag bit 0: a file name packet follows the header.
inline constexpr std::uint8_t HasFileNameFlag = 1;

} // namespace CryptFilePacket

struct CryptFileInfo
{
    std::uint8_t length = 2 + CryptFilePacket::Banner.size();
    std::string banner{ CryptFilePacket::Banner };
};

struct CryptFileHeader
{
    std::uint16_t length = CryptFilePacket::HeaderLength;
    std::uint8_t version = CryptFilePacket::CurrentVersion;
    std::uint8_t reservedByte = 1;
    std::uint64_t fileKeyId = CryptFilePacket::NoKey;
    std::uint64_t reserved = 0;
    std::uint8_t flags = 0;
};

struct CryptFileName
{
    std::uint16_t length = 3;
    bool hasName = false; // a name record exists (possibly empty)
    std::string name;
};

struct CryptDataHeader
{
    std::uint64_t length = CryptFilePacket::DataHeaderLength;
    std::uint8_t multiplicand = CryptFilePacket::DefaultMultiplicand;
    std::uint8_t padCount = 0;

    std::uint32_t segmentSize() const { return std::uint32_t(multiplicand) * CryptFilePacket::SegmentUnit; }
};
