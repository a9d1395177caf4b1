#include "container/CryptFilePacketReader.h"

#include "container/CCryptFileCodes.h"
#include "log/AvLog.h"

#include <algorithm>

using namespace CryptFilePacket;

bool CryptFilePacketReader::readBytes(void* buffer, std::size_t length)
{
    return m_stream.read(buffer, length) == length;
}

bool CryptFilePacketReader::read8(std::uint8_t& value)
{
    return readBytes(&value, 1);
}

bool CryptFilePacketReader::read16(std::uint16_t& value)
{
    std::uint8_t bytes[2];
    if (!readBytes(bytes, sizeof bytes))
        return false;
    value = std::uint16_t(bytes[0] | (bytes[1] << 8));
    return true;
}

bool CryptFilePacketReader::read64(std::uint64_t& value)
{
    std::uint8_t bytes[8];
    if (!readBytes(bytes, sizeof bytes))
        return false;
    value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return true;
}

std::uint32_t CryptFilePacketReader::truncatedAt(const char* label, bool quiet) const
{
    if (!quiet) {
        AV_LOG(AvLog::Error) << "The file " << m_path << " could not be read because of unexpected ending at " << label
                             << ".";
    }
    return CryptFileCode::PacketTruncated;
}

std::uint32_t CryptFilePacketReader::readInfo(CryptFileInfo& info)
{
    std::uint8_t length = 0;
    if (!read8(length))
        return truncatedAt("info(1,0)");
    if (length <= 2) {
        AV_LOG(AvLog::Error) << "Info header is corrupt in file " << m_path;
        return CryptFileCode::InfoCorrupt;
    }
    // The banner is not examined, but kept: a rewrite must give the header area its old length.
    std::string banner(length - 2u, '\0');
    if (!readBytes(banner.data(), banner.size()))
        return truncatedAt("info(1,10)");
    info.length = length;
    info.banner = std::move(banner);
    return CryptFileCode::Ok;
}

std::uint32_t CryptFilePacketReader::readHeader(CryptFileHeader& header)
{
    if (!read16(header.length))
        return truncatedAt("header(1,1)");
    if (!read8(header.version))
        return truncatedAt("header(1,2)");
    if (header.version > CurrentVersion)
        return CryptFileCode::NewerVersion;
    if (!read8(header.reservedByte))
        return truncatedAt("header(1,3)");
    if (!read64(header.fileKeyId))
        return truncatedAt("header(1,4)");
    if (!read64(header.reserved))
        return truncatedAt("header(1,5)");
    if (!read8(header.flags))
        return truncatedAt("header(1,6)");
    return CryptFileCode::Ok;
}

std::uint32_t CryptFilePacketReader::readFileName(CryptFileName& fileName, CryptFileHeader& header)
{
    std::uint16_t length = 0;
    if (!read16(length))
        return truncatedAt("filename(1,1)");
    length = std::min(length, MaxFileNameLength);
    fileName.length = length;
    if (length < 3) {
        fileName.hasName = false;
        fileName.name.clear();
        return CryptFileCode::Ok;
    }
    std::string name(length - 3u, '\0');
    if (!readBytes(name.data(), name.size()))
        return truncatedAt("filename(1,2)");
    fileName.name = std::move(name);
    fileName.hasName = true;
    header.flags = HasFileNameFlag;
    return CryptFileCode::Ok;
}

std::uint32_t CryptFilePacketReader::readShare(SharedKey& share, std::uint8_t formatVersion, bool quiet)
{
    std::uint8_t fieldLength = 0;
    if (!read16(share.length))
        return truncatedAt("share(1,1)", quiet);
    if (!read8(share.version))
        return truncatedAt("share(1,2)", quiet);
    if (!read64(share.keyId))
        return truncatedAt("share(1,3)", quiet);
    if (!read8(fieldLength))
        return truncatedAt("share(1,4)", quiet);
    fieldLength = std::min(fieldLength, SharedKey::NameFieldLength);
    if (fieldLength == 0 || share.length < SharedKey::FixedLength + fieldLength) {
        if (!quiet) {
            AV_LOG(AvLog::Error) << "The file " << m_path << " could not be read because it is corrupted at share(1,4)";
        }
        return CryptFileCode::CorruptSize;
    }
    std::string stored(fieldLength - 1u, '\0');
    if (!readBytes(stored.data(), stored.size()))
        return truncatedAt("share(1,5)", quiet);
    share.setNameFieldFromFile(fieldLength, stored, formatVersion);
    std::string wrapped(share.length - SharedKey::FixedLength - fieldLength, '\0');
    if (!readBytes(wrapped.data(), wrapped.size()))
        return truncatedAt("share(1,6)", quiet);
    share.wrappedKey = std::move(wrapped);
    return CryptFileCode::Ok;
}

std::uint32_t CryptFilePacketReader::readDataHeader(CryptDataHeader& dataHeader)
{
    if (!read64(dataHeader.length))
        return truncatedAt("data(1,1)");
    if (!read8(dataHeader.multiplicand))
        return truncatedAt("data(1,2)");
    if (!read8(dataHeader.padCount))
        return truncatedAt("data(1,3)");
    if (dataHeader.multiplicand < MinMultiplicand || dataHeader.multiplicand > MaxMultiplicand) {
        AV_LOG(AvLog::Error) << "The segment multiplicand of the file " << m_path << " is invalid. Position: 0x"
                             << std::hex << (m_stream.position() - 1);
        return CryptFileCode::BadMultiplicand;
    }
    return CryptFileCode::Ok;
}
