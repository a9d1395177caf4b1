#pragma once

// CryptFilePacketReader: reads the fields of one container packet from the
// stream's position, little-endian, after the packet's tag byte has been read.
// A field that ends early is logged with its label ("The file ... could not be
// read because of unexpected ending at header(1,2).") and gives 0xA001000E;
// structural errors (an info packet too short, a newer format version, a
// corrupt share, a bad segment multiplicand) give their own codes. The
// readers only fill records; what the container does with them (duplicates,
// key look-ups, bookkeeping) is up to the caller.

#include "container/CryptFileRecords.h"
#include "container/CryptFileStream.h"
#include "container/SharedKey.h"

#include <cstddef>
#include <cstdint>
#include <string>

class CryptFilePacketReader
{
public:
    CryptFilePacketReader(CryptFileStream& stream, const std::string& path)
        : m_stream(stream)
        , m_path(path)
    {
    }

    std::uint32_t readInfo(CryptFileInfo& info);
    // Stops with 0xA001001C right after a version above 2.
    std::uint32_t readHeader(CryptFileHeader& header);
    // A name sets the header flags to 1, so the packet is written back.
    std::uint32_t readFileName(CryptFileName& fileName, CryptFileHeader& header);
    // With `quiet` nothing is logged (damaged trailing shares of a file whose
    // caller asked for silence).
    std::uint32_t readShare(SharedKey& share, std::uint8_t formatVersion, bool quiet);
    std::uint32_t readDataHeader(CryptDataHeader& dataHeader);

    // The unexpected-ending line for `label`; 0xA001000E.
    std::uint32_t truncatedAt(const char* label, bool quiet = false) const;

private:
    bool readBytes(void* buffer, std::size_t length);
    bool read8(std::uint8_t& value);
    bool read16(std::uint16_t& value);
    bool read64(std::uint64_t& value);

    CryptFileStream& m_stream;
    const std::string& m_path;
};
