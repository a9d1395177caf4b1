#include "container/CryptFilePacketWriter.h"

#include "container/CCryptFileCodes.h"
#include "log/AvLog.h"

using namespace CryptFilePacket;

void CryptFilePacketWriter::put8(std::uint8_t value)
{
    m_bytes.push_back(char(value));
}

void CryptFilePacketWriter::put16(std::uint16_t value)
{
    put8(std::uint8_t(value));
    put8(std::uint8_t(value >> 8));
}

void CryptFilePacketWriter::put64(std::uint64_t value)
{
    for (int shift = 0; shift < 64; shift += 8)
        put8(std::uint8_t(value >> shift));
}

std::uint32_t CryptFilePacketWriter::failAt(const char* label) const
{
    AV_LOG(AvLog::Error) << "The file " << m_path << " could not be written because " << label
                         << " was written incorrectly.";
    return CryptFileCode::HeaderAssembly;
}

std::uint32_t CryptFilePacketWriter::writeInfo(const CryptFileInfo& info)
{
    put8(InfoTag);
    put8(info.length);
    // The banner is written as held, so the header area keeps the length it was read with.
    if (info.banner.empty() || info.banner.size() + 2 != info.length)
        return failAt("info(1,2)");
    m_bytes += info.banner;
    return CryptFileCode::Ok;
}

std::uint32_t CryptFilePacketWriter::writeHeader(const CryptFileHeader& header)
{
    put8(HeaderTag);
    put16(header.length);
    put8(header.version);
    put8(header.reservedByte);
    put64(header.fileKeyId);
    put64(header.reserved);
    put8(header.flags);
    return CryptFileCode::Ok;
}

std::uint32_t CryptFilePacketWriter::writeFileName(const CryptFileName& fileName)
{
    put8(FileNameTag);
    put16(fileName.length);
    if (!fileName.hasName)
        return failAt("filename(1,3)");
    if (fileName.name.empty() || fileName.name.size() + 3 != fileName.length)
        return failAt("filename(1,2)");
    m_bytes += fileName.name;
    return CryptFileCode::Ok;
}

std::uint32_t CryptFilePacketWriter::writeShare(const SharedKey& share, std::uint8_t formatVersion)
{
    put8(ShareTag);
    put16(share.length);
    put8(share.version);
    put64(share.keyId);
    put8(share.nameField.length);
    m_bytes += share.scrambledNameField(formatVersion);
    if (share.wrappedKey.empty()
        || std::size_t(share.length) != SharedKey::FixedLength + share.nameField.length + share.wrappedKey.size())
        return failAt("share(1,6)");
    m_bytes += share.wrappedKey;
    return CryptFileCode::Ok;
}

std::uint32_t CryptFilePacketWriter::writeDataHeader(const CryptDataHeader& dataHeader)
{
    put8(DataTag);
    put64(dataHeader.length);
    put8(dataHeader.multiplicand);
    put8(dataHeader.padCount);
    return CryptFileCode::Ok;
}
