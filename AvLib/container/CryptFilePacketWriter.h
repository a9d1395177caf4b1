#pragma once

// CryptFilePacketWriter: assembles the container's header area in memory,
// packet by packet and field by field, little-endian. A field that cannot be
// written (the empty banner, file name or wrapped key of a damaged record)
// stops the assembly: the writer logs which field failed and returns
// 0xA0010021, and the bytes assembled so far must not be used.

#include "container/CryptFileRecords.h"
#include "container/SharedKey.h"

#include <cstdint>
#include <string>

class CryptFilePacketWriter
{
public:
    explicit CryptFilePacketWriter(const std::string& path)
        : m_path(path)
    {
    }

    std::uint32_t writeInfo(const CryptFileInfo& info);
    std::uint32_t writeHeader(const CryptFileHeader& header);
    std::uint32_t writeFileName(const CryptFileName& fileName);
    std::uint32_t writeShare(const SharedKey& share, std::uint8_t formatVersion);
    std::uint32_t writeDataHeader(const CryptDataHeader& dataHeader);

    const std::string& bytes() const { return m_bytes; }
    std::string takeBytes() { return std::move(m_bytes); }

private:
    void put8(std::uint8_t value);
    void put16(std::uint16_t value);
    void put64(std::uint64_t value);
    std::uint32_t failAt(const char* label) const;

    std::string m_path;
    std::string m_bytes;
};
