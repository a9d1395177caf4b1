#include "container/CCryptFile.h"

#include "container/CCryptFileCodes.h"
#include "container/CryptFilePacketReader.h"
#include "container/CryptFilePacketWriter.h"
#include "container/CryptFileWorker.h"
#include "crypto/AvEncrypt.h"
#include "crypto/SecureString.h"
#include "keyring/AvKeyring.h"
#include "log/AvLog.h"
#include "util/AvStrings.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>

using namespace CryptFilePacket;
namespace Code = CryptFileCode;

namespace {

constexpr std::size_t ReadPieceLimit = 4096;
constexpr std::uint64_t MaxSegmentIndex = AvSegmentCipher::MaxSegmentIndex; // the IV holds a 32-bit counter
// Whole segments encrypted and written per run (the file tools' chunk size).
constexpr std::size_t WriteRunBytes = 512 * 1024;
// Runs at least this long are shared with the helper thread; shorter ones
// would spend more on handing over than they gain.
constexpr std::size_t ParallelRunBytes = 256 * 1024;

std::uint64_t roundUpToBlock(std::uint64_t value)
{
    return (value + CipherBlock - 1) / CipherBlock * CipherBlock;
}

std::uint8_t padFor(std::uint64_t end)
{
    return std::uint8_t((CipherBlock - end % CipherBlock) % CipherBlock);
}

void wipe(void* buffer, std::size_t length)
{
    if (length > 0)
        AvSecurity::secureWipe(buffer, length);
}

} // namespace

// ---- opening and closing ----------------------------------------------------------

CCryptFile::CCryptFile(const std::string& filePath, int kind, int flags, std::uint32_t& result)
    : path(filePath)
    , openKind(kind)
    , myKeyId(AvKeyring::instance().activeCryptKeyID)
    , openFlags(flags)
{
    try {
        if (kind != Create && kind != ReadOnly && kind != Update) {
            result = Code::BadArgument;
            return;
        }
        if (!OpenStream(path, kind, stream)) {
            result = Code::OpenFailed;
            return;
        }
        m_segment.New(dataHeader.segmentSize());
        if (kind == Create) {
            fileKeyId = AvKeyring::instance().NewFileKey();
            header.fileKeyId = fileKeyId;
            access = AccessCreated;
            dirty = DirtyAll;
            result = Code::Ok;
            return;
        }
        result = readContainer();
    } catch (const std::bad_alloc&) {
        result = Code::OutOfMemory;
    }
}

CCryptFile::~CCryptFile()
{
    if (stream.isOpen()) {
        Close(false);
        settleWrites();
        stream.close();
    }
    myKeyId = NoKey;
    wipe(fileName.name.data(), fileName.name.size());
}

bool CCryptFile::OpenStream(const std::string& filePath, int openKindValue, CryptFileStream& target)
{
    switch (openKindValue) {
    case Create:
        openMode = CryptFileStream::Mode::Create;
        break;
    case Update:
        openMode = CryptFileStream::Mode::Update;
        break;
    default:
        openMode = CryptFileStream::Mode::ReadOnly;
        break;
    }
    return target.open(filePath, openMode);
}

std::uint32_t CCryptFile::Close(bool markAllDirty)
{
    if (markAllDirty)
        dirty = DirtyAll;
    return Flush(DirtyAll);
}

std::uint32_t CCryptFile::Truncate(std::uint64_t)
{
    return Code::ShrinkNotSupported;
}

// ---- reading the headers ------------------------------------------------------------

std::uint32_t CCryptFile::readContainer()
{
    while (!(parsed & ParsedDataHeader)) {
        const std::uint32_t code = readPacket();
        if (Code::isFailure(code))
            return code;
    }
    if (const std::uint32_t code = checkNecessaryPackets(); code != Code::Ok)
        return code;

    // Both terms are bounded by checkDataSize, so the sum cannot wrap.
    stream.seek(dataStart + dataSize + dataHeader.padCount);
    const std::uint32_t code = readShareRun(false);
    const std::uint32_t low = Code::lowBits(code);
    if (Code::isFailure(code)) {
        if (low != Code::lowBits(Code::PacketTruncated) && low != Code::lowBits(Code::CorruptSize))
            return code;
        if (!(openFlags & QuietBrokenShares)) {
            AV_LOG(AvLog::Error) << "It seems the file " << path
                                 << " has some broken shares or unrecorded data. This can be solved by copying the "
                                    "file when autovaulting is active.";
        }
    }
    m_position = 0;
    stream.seek(dataStart);
    return Code::Ok;
}

// Without a header there is no file key id, and without a share before the data
// there is no owner share to keep in the header area: such a file cannot be
// read or rewritten.
std::uint32_t CCryptFile::checkNecessaryPackets() const
{
    if ((parsed & ParsedHeader) && (parsed & ParsedFirstShares))
        return Code::Ok;
    AV_LOG(AvLog::Error) << "Could not read all necessary data. The Ardentvault file may be corrupted.";
    return Code::MissingPackets;
}

std::uint32_t CCryptFile::readPacket()
{
    CryptFilePacketReader reader(stream, path);
    const std::uint64_t tagPosition = stream.position();
    std::uint8_t tag = 0;
    if (stream.read(&tag, 1) != 1) {
        const std::uint64_t end = stream.size();
        stream.seek(end);
        if (end != 0) {
            AV_LOG(AvLog::Error) << "Unexpected end of file while reading packets from " << path
                                 << ". This may come from a truncated or corrupted avlt file.";
        }
        return Code::UnexpectedEnd;
    }

    std::uint32_t code = Code::Ok;
    switch (tag) {
    case InfoTag:
        code = reader.readInfo(info);
        break;
    case HeaderTag:
        if (parsed & ParsedHeader)
            return Code::Ok; // a second header is not consumed
        code = reader.readHeader(header);
        if (code == Code::Ok) {
            fileKeyId = header.fileKeyId;
            parsed |= ParsedHeader;
            // Shares met before the header could not be opened yet.
            for (const auto& entry : shares)
                tryOpenFileKey(*entry.key);
        }
        break;
    case FileNameTag:
        if (parsed & ParsedFileName)
            return Code::Ok;
        code = reader.readFileName(fileName, header);
        if (code == Code::Ok)
            parsed |= ParsedFileName;
        break;
    case ShareTag:
        stream.seek(tagPosition);
        code = readShareRun(true);
        break;
    case DataTag:
        code = reader.readDataHeader(dataHeader);
        if (code == Code::Ok) {
            parsed |= ParsedDataHeader;
            dataStart = stream.position();
            m_segment.New(dataHeader.segmentSize());
            code = checkDataSize();
        }
        break;
    default:
        AV_LOG(AvLog::Error) << "Unexpected packet 0x" << std::hex << unsigned(tag) << " at position 0x" << tagPosition
                             << " in file " << path;
        return Code::UnknownPacket;
    }
    return Code::isFailure(code) ? code : Code::Ok;
}

std::uint32_t CCryptFile::checkDataSize()
{
    if (!stream.isOpen())
        return Code::StreamNotOpenForSize;
    const std::uint64_t length = dataHeader.length;
    const std::uint64_t minimum = DataHeaderLength + dataHeader.padCount;
    // A length that would carry the end of the data past 2^64 is as corrupt as one below the minimum.
    const bool tooLarge = length - DataHeaderLength > std::numeric_limits<std::uint64_t>::max() - dataStart;
    if (length < minimum || tooLarge) {
        AV_LOG(AvLog::Error) << "Corrupt data header (size) detected. Size: " << std::hex << length << " - "
                             << unsigned(dataHeader.padCount);
        dataSize = 0;
        return Code::CorruptSize;
    }
    dataSize = length - minimum;
    return Code::Ok;
}

std::uint32_t CCryptFile::readShareRun(bool strict)
{
    CryptFilePacketReader reader(stream, path);
    const std::size_t before = shares.size();
    for (;;) {
        const std::uint64_t position = stream.position();
        std::uint8_t tag = 0;
        if (stream.read(&tag, 1) != 1) {
            if (strict)
                return reader.truncatedAt("share(1,0)");
            break;
        }
        if (tag != ShareTag) {
            stream.seek(position); // the byte belongs to the next packet
            break;
        }
        auto share = std::make_unique<SharedKey>();
        const bool quiet = (openFlags & QuietBrokenShares) && !shares.empty();
        const std::uint32_t code = reader.readShare(*share, header.version, quiet);
        if (Code::isFailure(code))
            return code;
        tryOpenFileKey(*share);
        shares.append(std::move(share), position);
    }
    const std::size_t added = shares.size() - before;
    if (before == 0 && added > 0)
        parsed |= ParsedFirstShares;
    if ((before == 0 && added > 1) || (before > 0 && added > 0))
        parsed |= ParsedMoreShares;
    if (access == AccessUnknown) {
        access = AccessNoKey;
        return Code::NoShareOpened;
    }
    return Code::Ok;
}

// The first share in file order that one of the account's private keys opens
// provides the file key; later shares are only recorded.
void CCryptFile::tryOpenFileKey(const SharedKey& share)
{
    if (access >= AccessFromShare || !(parsed & ParsedHeader) || share.isDeleted())
        return;
    AvKeyring& ring = AvKeyring::instance();
    const AvKeyPrivate* privateKey = ring.FindPrivateKey(share.keyId);
    if (!privateKey)
        return;
    CryptoPP::SecByteBlock unwrapped(
        reinterpret_cast<const CryptoPP::byte*>(share.wrappedKey.data()), share.wrappedKey.size());
    std::uint32_t length = std::uint32_t(unwrapped.size());
    if (!DecryptRsa(unwrapped.data(), length, privateKey->privateKey)) {
        AV_LOG(AvLog::Warning) << "Could not decrypt AES Key for " << share.name();
        return;
    }
    const std::string_view keyBytes(reinterpret_cast<const char*>(unwrapped.data()), length);
    if (ring.ImportFileKey(fileKeyId, keyBytes))
        access = AccessFromShare;
    else
        AV_LOG(AvLog::Warning) << "Could not add AES Key to ring for " << share.name();
}

// ---- plain stream: reading ------------------------------------------------------------

AvKeyAES* CCryptFile::lookUpFileKey()
{
    // Looked up afresh for every call: the key ring may have been reset meanwhile.
    fileKey = AvKeyring::instance().FindFileKey(fileKeyId);
    return fileKey;
}

// The one place that keys a segment: segment k restarts the keystream on the
// file key's IV with k in bytes 6 to 9 (format 2), or on the IV as stored (format 1).
bool CCryptFile::cryptSegment(std::uint64_t segment, std::uint8_t* buffer, std::size_t length)
{
    if (!fileKey || !fileKey->aes.hasKey())
        return false;
    AvAesRecord& aes = fileKey->aes;
    if (header.version > 1) {
        if (segment > MaxSegmentIndex)
            return false; // the counter would repeat an earlier segment's keystream
        for (int i = 0; i < 4; ++i)
            aes.iv[6 + i] = CryptoPP::byte(segment >> (8 * i));
    }
    ResetAes(aes, kAesKeepIv);
    return ProcessAes(aes, buffer, std::uint32_t(length));
}

// What reading and writing the data both need once the file is usable: a
// share, access through it, and the file key in the key ring.
std::uint32_t CCryptFile::checkFileKeyAccess()
{
    if (shares.empty())
        return Code::NoShares;
    if (access < AccessFromShare)
        return Code::NoFileKeyAccess;
    if (!lookUpFileKey())
        return Code::FileKeyNotInRing;
    return Code::Ok;
}

std::uint32_t CCryptFile::Read(void* buffer, std::size_t length, std::size_t& count)
{
    count = 0;
    if (!stream.isOpen() || stream.failed())
        return Code::StreamFailedBeforeRead;
    if (const std::uint32_t code = checkFileKeyAccess(); code != Code::Ok)
        return code;
    if (!buffer && length > 0)
        return Code::BadArgument;
    if (const std::uint32_t code = settleWrites(); code != Code::Ok)
        return code;
    stream.clearState();

    auto* bytes = static_cast<std::uint8_t*>(buffer);
    const std::size_t segmentSize = dataHeader.segmentSize();
    std::uint32_t code = Code::Ok;
    try {
        while (count < length) {
            std::size_t delivered = 0;
            code = Code::Ok;
            if (m_position % segmentSize == 0 && length - count >= segmentSize)
                code = readWholeSegments(bytes + count, length - count, delivered);
            if (delivered == 0 && code == Code::Ok)
                code = readSegmentPiece(bytes + count, std::min(length - count, ReadPieceLimit), delivered);
            count += delivered;
            if (delivered == 0 || Code::lowBits(code) != 0)
                break;
        }
    } catch (const std::bad_alloc&) {
        return Code::OutOfMemory;
    }
    return code;
}

// Delivers at most the rest of the current segment.
std::uint32_t CCryptFile::readSegmentPiece(std::uint8_t* target, std::size_t wanted, std::size_t& delivered)
{
    delivered = 0;
    if (dataSize == 0)
        return Code::EndOfData;
    const std::uint64_t segmentSize = dataHeader.segmentSize();
    const std::uint64_t segment = m_position / segmentSize;
    const std::uint64_t offset = m_position % segmentSize;
    const std::uint64_t segmentStart = segment * segmentSize;
    const std::uint64_t held = segmentStart >= dataSize ? 0 : std::min(segmentSize, dataSize - segmentStart);
    if (offset >= held)
        return Code::EndOfData;
    const std::size_t piece = std::size_t(std::min<std::uint64_t>(held - offset, wanted));

    // Aligned pieces are decrypted in the caller's buffer; others go through
    // the scratch buffer from the segment's start, where its keystream begins.
    const bool direct = offset == 0 && piece % CipherBlock == 0;
    std::uint8_t* work = direct ? target : m_segment.data();
    const std::size_t toRead = direct ? piece : std::size_t(roundUpToBlock(offset + piece));
    const std::size_t got = stream.readAt(dataStart + segmentStart, work, toRead);
    if (stream.failed()) {
        wipe(work, toRead);
        return Code::StreamFailedBeforeRead;
    }
    if (!cryptSegment(segment, work, got)) {
        wipe(work, toRead);
        return segment > MaxSegmentIndex ? Code::CorruptSize : Code::FileKeyNotInRing;
    }
    // A file shorter than its data header claims ends the data early.
    const std::size_t available = got > offset ? std::min<std::size_t>(got - offset, piece) : 0;
    if (!direct) {
        std::memcpy(target, work + offset, available);
        wipe(work, toRead);
    }
    m_position += available;
    delivered = available;
    if (available < piece || m_position == dataSize)
        return Code::EndOfData;
    return Code::Ok;
}

// ---- plain stream: writing --------------------------------------------------------------

std::uint32_t CCryptFile::Write(const void* data, std::size_t length, std::size_t& written)
{
    written = 0;
    if (openKind == ReadOnly)
        return Code::ReadOnly;
    if (m_writeBehindFailed)
        return settleWrites();
    if (!stream.isOpen() || stream.failed())
        return Code::StreamFailedBeforeWrite;
    if (const std::uint32_t code = checkFileKeyAccess(); code != Code::Ok)
        return code;
    stream.clearState();

    try {
        if (dirty != 0 && dataStart == 0) {
            const std::uint32_t code = Flush(FlushHeadersOnly);
            if (Code::isFailure(code))
                return code;
        }
        if (openKind == Update) {
            if (const std::uint32_t code = checkHeaderAreaKept(); code != Code::Ok)
                return code;
        }
        if (pendingSize > dataSize) {
            if (const std::uint32_t code = fillPendingGap(); code != Code::Ok)
                return code;
        }
        if (!data && length > 0)
            return Code::BadArgument;
        return writePieces(static_cast<const std::uint8_t*>(data), length, written);
    } catch (const std::bad_alloc&) {
        return Code::OutOfMemory;
    }
}

std::uint32_t CCryptFile::writePieces(const std::uint8_t* data, std::size_t length, std::size_t& written)
{
    const std::size_t segmentSize = dataHeader.segmentSize();
    std::uint32_t code = Code::Ok;
    while (written < length) {
        std::size_t piece = 0;
        code = Code::Ok;
        if (m_position % segmentSize == 0 && length - written >= segmentSize)
            code = writeWholeSegments(data + written, length - written, piece);
        // The one-segment writer reads the segment back from the file.
        if (piece == 0 && code == Code::Ok)
            code = settleWrites();
        if (piece == 0 && code == Code::Ok)
            code = writeSegmentPiece(data + written, length - written, piece);
        written += piece;
        if (piece == 0 || code != Code::Ok)
            break;
    }
    return code;
}

std::uint32_t CCryptFile::fillPendingGap()
{
    const std::uint64_t target = pendingSize;
    const std::vector<std::uint8_t> zeros(dataHeader.segmentSize(), 0);
    m_position = dataSize;
    while (dataSize < target) {
        const std::size_t chunk = std::size_t(std::min<std::uint64_t>(target - dataSize, zeros.size()));
        std::size_t written = 0;
        const std::uint32_t code = writePieces(zeros.data(), chunk, written);
        if (code != Code::Ok)
            return code;
    }
    pendingSize = 0;
    m_position = target;
    return Code::Ok;
}

// Reads and decrypts the `held` plain bytes of a segment (with their padding)
// into `buffer`; the padding is zeroed.
std::uint32_t CCryptFile::loadSegment(std::uint64_t segment, std::uint8_t* buffer, std::size_t held)
{
    const std::size_t content = std::size_t(roundUpToBlock(held));
    const std::uint64_t segmentStart = segment * dataHeader.segmentSize();
    const std::size_t got = stream.readAt(dataStart + segmentStart, buffer, content);
    if (stream.failed())
        return Code::StreamFailedBeforeRead;
    if (got < held)
        return Code::SegmentWrite; // the file ends inside its own data
    if (!cryptSegment(segment, buffer, got))
        return Code::SegmentWrite;
    std::memset(buffer + held, 0, content - held);
    return Code::Ok;
}

// Writes one piece that never crosses a segment boundary: the segment's old
// contents are decrypted, merged with the new bytes, encrypted and written back.
std::uint32_t CCryptFile::writeSegmentPiece(const std::uint8_t* data, std::size_t length, std::size_t& written)
{
    written = 0;
    const std::uint64_t segmentSize = dataHeader.segmentSize();
    const std::uint64_t segment = m_position / segmentSize;
    const std::size_t offset = std::size_t(m_position % segmentSize);
    const std::size_t piece = std::size_t(std::min<std::uint64_t>(length, segmentSize - offset));
    const std::uint64_t segmentStart = segment * segmentSize;
    const std::size_t held =
        segmentStart >= dataSize ? 0 : std::size_t(std::min<std::uint64_t>(segmentSize, dataSize - segmentStart));
    const std::size_t end = offset + piece;
    const std::size_t content = std::size_t(std::max(roundUpToBlock(held), roundUpToBlock(end)));

    std::uint8_t* buffer = m_segment.data();
    if (held > 0) {
        if (const std::uint32_t code = loadSegment(segment, buffer, held); code != Code::Ok) {
            wipe(buffer, segmentSize);
            return code;
        }
    }
    if (offset > held)
        std::memset(buffer + held, 0, offset - held);
    std::memcpy(buffer + offset, data, piece);
    const std::size_t plainEnd = std::max(held, end);
    std::memset(buffer + plainEnd, 0, content - plainEnd);

    const bool encrypted = cryptSegment(segment, buffer, content);
    const bool stored = encrypted && stream.writeAt(dataStart + segmentStart, buffer, content);
    wipe(buffer, content);
    if (!stored)
        return Code::SegmentWrite;

    m_position = segmentStart + end;
    written = piece;
    if (m_position > dataSize) {
        dataSize = m_position;
        dataHeader.padCount = padFor(end);
        dataHeader.length = DataHeaderLength + segmentStart + content;
        dirty |= DirtyDataHeader;
    }
    return Code::Ok;
}

// ---- runs of whole segments ----------------------------------------------------------------

// Segments past the 32-bit counter are left to the one-segment path, which
// refuses them.
std::size_t CCryptFile::segmentsWithinCounter(std::uint64_t first, std::size_t count) const
{
    if (header.version <= 1)
        return count;
    if (first > MaxSegmentIndex)
        return 0;
    return std::size_t(std::min<std::uint64_t>(count, MaxSegmentIndex - first + 1));
}

bool CCryptFile::keySegmentCipher(AvSegmentCipher& cipher) const
{
    return fileKey && cipher.setKey(fileKey->aes, header.version > 1);
}

// Calls `run` for the segments [0, count): a long run is split in two halves,
// the second on the helper thread with its own cipher, the first here.
void CCryptFile::forSegmentRuns(std::size_t count, const SegmentRun& run)
{
    const bool split = m_splitRuns && count >= 2 && count * dataHeader.segmentSize() >= ParallelRunBytes
        && CryptFileWorker::usableCpus() > 1;
    if (!split || !keySegmentCipher(m_helperCipher)) {
        run(0, count, m_cipher);
        return;
    }
    if (!m_worker)
        m_worker = std::make_unique<CryptFileWorker>();
    const std::size_t half = count / 2;
    m_worker->run([&] { run(half, count - half, m_helperCipher); });
    run(0, half, m_cipher);
    m_worker->wait();
}

// Whole segments replace what they held, so nothing is read back: the new
// plain text is encrypted into the staging buffer (by two threads when the
// run is long) and written in one go. The bytes are those the one-segment
// writer would produce. Delivers nothing (and leaves the work to that writer)
// when no whole segment can be done here.
std::uint32_t CCryptFile::writeWholeSegments(const std::uint8_t* data, std::size_t length, std::size_t& written)
{
    written = 0;
    const std::size_t segmentSize = dataHeader.segmentSize();
    const std::uint64_t first = m_position / segmentSize;
    const std::size_t perRun = std::max<std::size_t>(1, WriteRunBytes / segmentSize);
    const std::size_t count = segmentsWithinCounter(first, std::min(length / segmentSize, perRun));
    if (count == 0 || !keySegmentCipher(m_cipher))
        return Code::Ok;
    const std::size_t bytes = count * segmentSize;
    if (m_cipherText.size() < bytes)
        m_cipherText.New(bytes);

    // One write for the whole run: writes to one file take turns in the
    // kernel anyway, and a second writer would only wait for the first.
    std::atomic<bool> encrypted = true;
    forSegmentRuns(count, [&](std::size_t begin, std::size_t runCount, const AvSegmentCipher& cipher) {
        const std::size_t offset = begin * segmentSize;
        if (!cipher.cryptSegments(first + begin, runCount, segmentSize, data + offset, m_cipherText.data() + offset))
            encrypted = false;
    });
    if (!encrypted)
        return Code::SegmentWrite;
    if (const std::uint32_t code = storeWholeSegments(dataStart + first * segmentSize, bytes); code != Code::Ok)
        return code;

    m_position = (first + count) * segmentSize;
    written = bytes;
    if (m_position > dataSize) {
        dataSize = m_position;
        dataHeader.padCount = 0;
        dataHeader.length = DataHeaderLength + m_position;
        dirty |= DirtyDataHeader;
    }
    return Code::Ok;
}

// Puts the encrypted run into the file, or (writing behind) queues it for the
// writer thread behind at most one other run.
std::uint32_t CCryptFile::storeWholeSegments(std::uint64_t offset, std::size_t bytes)
{
    if (!m_writeBehind)
        return stream.writeAt(offset, m_cipherText.data(), bytes) ? Code::Ok : Code::SegmentWrite;
    if (m_writeBehindFailed)
        return settleWrites();
    if (!m_writer)
        m_writer = std::make_unique<CryptFileWorker>();
    // With at most one run left queued or being written, the other buffer is free.
    m_writer->waitForRoom(m_writingText.size());
    CryptoPP::SecByteBlock& text = m_writingText[m_nextWriting];
    m_nextWriting = (m_nextWriting + 1) % m_writingText.size();
    text.swap(m_cipherText);
    m_writer->run([this, offset, bytes, &text] {
        if (!stream.writeAt(offset, text.data(), bytes))
            m_writeBehindFailed = true;
    });
    return Code::Ok;
}

std::uint32_t CCryptFile::settleWrites()
{
    if (m_writer)
        m_writer->wait();
    return m_writeBehindFailed ? Code::SegmentWrite : Code::Ok;
}

void CCryptFile::setWriteBehind(bool on)
{
    if (!on)
        settleWrites();
    m_writeBehind = on;
}

// Reads whole segments that lie completely inside the data straight into the
// caller's buffer and decrypts them there. A file that ends early delivers the
// whole segments it holds; the one-segment reader then deals with the rest.
std::uint32_t CCryptFile::readWholeSegments(std::uint8_t* target, std::size_t length, std::size_t& delivered)
{
    delivered = 0;
    const std::size_t segmentSize = dataHeader.segmentSize();
    const std::uint64_t first = m_position / segmentSize;
    const std::uint64_t fullSegments = dataSize / segmentSize;
    if (first >= fullSegments)
        return Code::Ok;
    const std::size_t count =
        segmentsWithinCounter(first, std::size_t(std::min<std::uint64_t>(length / segmentSize, fullSegments - first)));
    if (count == 0 || !keySegmentCipher(m_cipher))
        return Code::Ok;

    // Whole segments found by the run starting at 0 and by the one after it.
    std::array<std::size_t, 2> found = { 0, 0 };
    std::atomic<bool> decrypted = true;
    std::size_t secondBegin = count;
    forSegmentRuns(count, [&](std::size_t begin, std::size_t runCount, const AvSegmentCipher& cipher) {
        const std::size_t offset = begin * segmentSize;
        const std::size_t got =
            stream.readAt(dataStart + first * segmentSize + offset, target + offset, runCount * segmentSize);
        const std::size_t whole = got / segmentSize;
        if (!cipher.cryptSegments(first + begin, whole, segmentSize, target + offset, target + offset))
            decrypted = false;
        found[begin == 0 ? 0 : 1] = whole;
        if (begin != 0)
            secondBegin = begin;
    });
    if (stream.failed() || !decrypted) {
        wipe(target, count * segmentSize);
        return stream.failed() ? Code::StreamFailedBeforeRead : Code::FileKeyNotInRing;
    }
    const std::size_t segments = found[0] < secondBegin ? found[0] : found[0] + found[1];
    delivered = segments * segmentSize;
    m_position += delivered;
    return m_position == dataSize ? Code::EndOfData : Code::Ok;
}

// ---- plain stream: position and size --------------------------------------------------------

std::uint32_t CCryptFile::Seek(std::int64_t offset, int origin)
{
    if (!stream.isOpen())
        return Code::StreamNotOpen;
    if (dataStart == 0)
        return Code::SeekBeforeDataStart;
    std::uint64_t base = 0;
    switch (origin) {
    case FromStart:
        break;
    case FromCurrent:
        base = pendingSize > dataSize ? pendingSize : m_position;
        break;
    case FromEnd:
        base = dataSize;
        break;
    default:
        return Code::BadArgument;
    }
    if (offset < 0 && std::uint64_t(-(offset + 1)) >= base)
        return Code::BadArgument;
    if (offset > 0 && std::uint64_t(offset) > std::numeric_limits<std::uint64_t>::max() - base)
        return Code::BadArgument;
    const std::uint64_t target = offset < 0 ? base - (std::uint64_t(-(offset + 1)) + 1) : base + std::uint64_t(offset);
    pendingSize = 0;
    if (target > dataSize) {
        if (openKind != ReadOnly)
            pendingSize = target;
        m_position = dataSize;
        return Code::Ok;
    }
    m_position = target;
    return Code::Ok;
}

std::uint32_t CCryptFile::Tell(std::uint64_t& position) const
{
    position = 0;
    if (!stream.isOpen())
        return Code::StreamNotOpen;
    position = pendingSize > dataSize ? pendingSize : m_position;
    return Code::Ok;
}

std::uint32_t CCryptFile::SetSize(std::uint64_t size)
{
    if (!stream.isOpen())
        return Code::StreamNotOpen;
    if (openKind == ReadOnly)
        return Code::ReadOnly;
    if (size < dataSize)
        return Truncate(size);
    if (size == dataSize)
        return Code::Ok;
    const std::uint64_t savedPosition = m_position;
    const std::uint64_t savedPending = pendingSize;
    pendingSize = size;
    std::size_t written = 0;
    const std::uint8_t nothing = 0;
    const std::uint32_t code = Write(&nothing, 0, written);
    m_position = std::min(savedPosition, dataSize);
    pendingSize = savedPending > dataSize ? savedPending : 0;
    if (Code::isFailure(code))
        return code;
    return dataSize == size ? Code::Ok : Code::ResizeIncomplete;
}

std::uint32_t CCryptFile::GetDataSize(std::uint64_t& size) const
{
    size = 0;
    if (!stream.isOpen())
        return Code::StreamNotOpenForSize;
    size = dataSize;
    return Code::Ok;
}

std::uint32_t CCryptFile::CanDecrypt() const
{
    if (header.version > CurrentVersion)
        return Code::NewerVersion;
    if (access >= AccessFromShare)
        return Code::Ok;
    if (access == AccessNoKey)
        return Code::NoFileKeyAccess;
    for (const auto& entry : shares) {
        if (entry.key->keyId == myKeyId)
            return Code::Ok;
    }
    return Code::NoFileKeyAccess;
}

std::uint32_t CCryptFile::PlainName(std::string& plainPath) const
{
    plainPath = path.size() > 5 ? path.substr(0, path.size() - 5) : std::string();
    return Code::Ok;
}

// ---- writing the headers ------------------------------------------------------------------

std::uint32_t CCryptFile::assembleHeaderArea(std::string& bytes, std::uint64_t& ownerPosition)
{
    CryptFilePacketWriter writer(path);
    std::uint32_t code = writer.writeInfo(info);
    if (code == Code::Ok)
        code = writer.writeHeader(header);
    // The name packet goes back exactly when one was read: a flags byte that
    // announces a name the file does not have (or the reverse) must not make
    // the rewritten header area longer or shorter than the one on disk.
    if (code == Code::Ok && (parsed & ParsedFileName))
        code = writer.writeFileName(fileName);
    ownerPosition = writer.bytes().size();
    if (code == Code::Ok)
        code = writer.writeShare(*shares[0].key, header.version);
    if (code == Code::Ok)
        code = writer.writeDataHeader(dataHeader);
    if (code == Code::Ok)
        bytes = writer.takeBytes();
    return code;
}

// The ciphertext stays where it is, so a rewritten header area must end exactly
// where the old one did.
std::uint32_t CCryptFile::checkHeaderAreaKept()
{
    std::string bytes;
    std::uint64_t ownerPosition = 0;
    const std::uint32_t code = assembleHeaderArea(bytes, ownerPosition);
    return code != Code::Ok ? code : checkHeaderAreaLength(bytes.size());
}

std::uint32_t CCryptFile::checkHeaderAreaLength(std::uint64_t length) const
{
    if (dataStart != 0 && length != dataStart) {
        AV_LOG(AvLog::Error) << "The file " << path
                             << " could not be written because the header area would change its length.";
        return Code::HeaderAssembly;
    }
    return Code::Ok;
}

std::uint32_t CCryptFile::Flush(std::uint32_t flags)
{
    if (openKind == ReadOnly)
        return Code::FlushReadOnly;
    // Headers describing data that did not reach the file must not be written.
    if (const std::uint32_t code = settleWrites(); code != Code::Ok)
        return code;
    if (dirty == 0)
        return Code::NothingDirty;
    if (access < AccessFromShare)
        return Code::NoFileKeyAccess;
    if (shares.empty()) {
        AV_LOG(AvLog::Error) << "An attempt was made to write encrypted data without setting the owner of the file.";
        return Code::NoOwnerShare;
    }
    try {
        std::string bytes;
        std::uint64_t ownerPosition = 0;
        if (const std::uint32_t code = assembleHeaderArea(bytes, ownerPosition); code != Code::Ok)
            return code;
        if (const std::uint32_t code = checkHeaderAreaLength(bytes.size()); code != Code::Ok)
            return code;

        stream.clearState();
        if (!stream.writeAt(0, bytes.data(), bytes.size()) || stream.failed()) {
            AV_LOG(AvLog::Error) << "A stream error occurred while writing headers for " << path;
            return Code::HeaderWrite;
        }
        dataStart = bytes.size();
        shares[0].tags.position = ownerPosition;

        if (flags & DirtyTrailingShares) {
            if (const std::uint32_t code = writeTrailingShares(dataStart + dataSize + dataHeader.padCount);
                code != Code::Ok)
                return code;
            dirty = 0;
        } else {
            // Shares after the data that were not written stay due.
            dirty &= DirtyTrailingShares;
        }
    } catch (const std::bad_alloc&) {
        return Code::OutOfMemory;
    }
    return Code::Ok;
}

std::uint32_t CCryptFile::writeTrailingShares(std::uint64_t position)
{
    CryptFilePacketWriter writer(path);
    std::vector<std::uint64_t> positions;
    for (std::size_t i = 1; i < shares.size(); ++i) {
        positions.push_back(position + writer.bytes().size());
        if (const std::uint32_t code = writer.writeShare(*shares[i].key, header.version); code != Code::Ok)
            return code;
    }
    if (positions.empty())
        return Code::Ok;
    if (!stream.writeAt(position, writer.bytes().data(), writer.bytes().size())) {
        AV_LOG(AvLog::Error) << "A stream error occurred while writing headers for " << path;
        return Code::HeaderWrite;
    }
    // The shares now end the file. Bytes that followed the old ones (a broken
    // share, unrecorded data) would otherwise be read as shares from now on.
    const std::uint64_t end = position + writer.bytes().size();
    if (stream.size() > end && !stream.truncate(end)) {
        AV_LOG(AvLog::Error) << "A stream error occurred while writing headers for " << path;
        return Code::HeaderWrite;
    }
    for (std::size_t i = 1; i < shares.size(); ++i)
        shares[i].tags.position = positions[i - 1];
    return Code::Ok;
}

// ---- signature -------------------------------------------------------------------------------

bool CCryptFile::IsCryptFileName(const std::string& filePath)
{
    static constexpr std::string_view extension = ".avlt";
    if (filePath.size() < extension.size())
        return false;
    std::string ending = filePath.substr(filePath.size() - extension.size());
    std::transform(ending.begin(), ending.end(), ending.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ending == extension;
}

std::uint32_t CCryptFile::CheckFileSignature(const std::string& filePath)
{
    CryptFileStream file;
    if (!file.open(filePath, CryptFileStream::Mode::ReadOnly))
        return Code::OpenFailed;
    return checkSignatureOf(file, filePath);
}

std::uint32_t CCryptFile::CheckSignature()
{
    settleWrites();
    return checkSignatureOf(stream, path);
}

std::uint32_t CCryptFile::checkSignatureOf(CryptFileStream& file, const std::string& filePath)
{
    if (!file.isOpen() || file.failed()) {
        AV_LOG(AvLog::Error) << "The file " << filePath << " could not be read because the file status is invalid.";
        return Code::PacketTruncated;
    }
    const std::uint64_t saved = file.position();
    CryptFilePacketReader reader(file, filePath);
    const auto result = [&](std::uint32_t code) {
        file.seek(saved);
        return code;
    };

    file.seek(0);
    std::uint8_t tag = 0;
    if (file.read(&tag, 1) != 1) {
        AV_LOG(AvLog::Error) << "The file " << filePath
                             << " could not be read because the file info header is incomplete.";
        return result(Code::UnexpectedEnd);
    }
    if (tag != InfoTag) {
        AV_LOG(AvLog::Error) << "The file " << filePath
                             << " could not be read because the file header is invalid. Position: 0x" << std::hex << 0;
        return result(Code::PacketTruncated);
    }
    std::uint8_t length = 0;
    if (file.read(&length, 1) != 1)
        return result(reader.truncatedAt("info(1,1)"));
    // A length of 2 or less holds no banner at all (and below 2 none can be read).
    if (length <= 2)
        return result(Code::UnknownPacket);
    std::string banner(length - 2u, '\0');
    if (file.read(banner.data(), banner.size()) != banner.size())
        return result(reader.truncatedAt("info(1,2)"));
    const bool matches = banner.size() <= Banner.size() && Banner.substr(0, banner.size()) == banner;
    return result(matches ? Code::Ok : Code::UnknownPacket);
}

// ---- shares ----------------------------------------------------------------------------------

void CCryptFile::markShareDirty(std::size_t index)
{
    const std::uint64_t position = shares[index].tags.position;
    const bool inHeaderArea = index == 0 || (position != SharedKeyTags::Unplaced && position < dataStart);
    dirty |= inHeaderArea ? DirtyHeaderArea : DirtyTrailingShares;
}

std::uint32_t CCryptFile::AddShare(std::uint64_t keyId, const std::string& userName)
{
    if (openKind == ReadOnly)
        return Code::ReadOnly;
    if (shares.findLive(keyId))
        return Code::AlreadyShared;
    if (keyId == 0 || keyId == SharedKey::DeletedKeyId) {
        AV_LOG(AvLog::Error) << "The given key for " << userName << " is invalid";
        return Code::InvalidKey;
    }
    AvKeyring& ring = AvKeyring::instance();
    const AvKeyPublic* publicKey = ring.FindPublicKey(keyId);
    if (!publicKey)
        return Code::NoPublicKey;
    AvKeyAES* key = ring.FindFileKey(fileKeyId);
    if (!key) {
        AV_LOG(AvLog::Error) << "An AES private key could not be retrieved for the user";
        return Code::NoFileKeyAccess;
    }
    try {
        CryptoPP::SecByteBlock wrapped(1000);
        std::uint32_t length = std::uint32_t(wrapped.size());
        if (!AesToRaw(key->aes, wrapped.data(), length)) {
            AV_LOG(AvLog::Error) << "Could not export AES key";
            return Code::InvalidKey;
        }
        if (!EncryptRsa(wrapped.data(), length, 500, publicKey->publicKey)) {
            AV_LOG(AvLog::Error) << "Could not encrypt AES key";
            return Code::WrapFailed;
        }
        auto share =
            SharedKey::make(keyId, userName, std::string(reinterpret_cast<const char*>(wrapped.data()), length));
        if (const auto slot = shares.freeSlot(share->length)) {
            shares.replace(*slot, std::move(share));
            markShareDirty(*slot);
        } else {
            const bool owner = shares.empty();
            shares.append(std::move(share), SharedKeyTags::Unplaced);
            dirty |= owner ? DirtyHeaderArea : DirtyTrailingShares;
        }
    } catch (const std::bad_alloc&) {
        return Code::OutOfMemory;
    }
    return Code::Ok;
}

std::uint32_t CCryptFile::RemoveShare(std::uint64_t keyId)
{
    if (openKind == ReadOnly)
        return Code::ReadOnly;
    if (shares.empty())
        return Code::RemoveFromEmptyList;
    const auto index = shares.findLive(keyId);
    if (!index)
        return Code::NoSuchShare;
    shares.markDeleted(*index);
    markShareDirty(*index);
    return Code::Ok;
}

std::uint32_t CCryptFile::SetShareName(std::uint64_t keyId, const std::string& userName)
{
    if (openKind == ReadOnly)
        return Code::ReadOnly;
    const auto index = shares.findLive(keyId);
    if (!index)
        return Code::NoSuchShare;
    shares[*index].key->setName(userName);
    // A rename is a change like any other: it reaches the file with the next header write.
    markShareDirty(*index);
    return Code::Ok;
}

std::uint32_t CCryptFile::ShareName(std::size_t index, std::string& userName) const
{
    userName.clear();
    if (index >= shares.size())
        return Code::NoSuchEntry;
    userName = shares[index].key->name();
    return Code::Ok;
}

std::uint32_t CCryptFile::GetShares(ShareNameList& list) const
{
    list.clear();
    for (std::size_t i = 0; i < shares.size(); ++i) {
        const auto& entry = shares[i];
        if (entry.tags.isDeleted() || entry.key->nameField.length == 0)
            continue;
        std::string name;
        if (const std::uint32_t code = ShareName(i, name); code != Code::Ok) {
            list.clear();
            return code;
        }
        list.emplace_back(std::move(name), entry.key->keyId);
    }
    return Code::Ok;
}

std::uint32_t CCryptFile::SetShares(const ShareNameList& wanted)
{
    if (openKind == ReadOnly)
        return Code::ReadOnly;
    if (wanted.empty())
        return Code::EmptyShareList;
    const auto isWanted = [&](std::uint64_t keyId) {
        return std::any_of(wanted.begin(), wanted.end(), [&](const auto& item) { return item.second == keyId; });
    };
    // Removals first, so that additions reuse the freed slots.
    for (std::size_t i = 0; i < shares.size(); ++i) {
        const auto& entry = shares[i];
        if (entry.tags.isDeleted() || isWanted(entry.key->keyId))
            continue;
        if (const std::uint32_t code = RemoveShare(entry.key->keyId); code != Code::Ok)
            return code;
    }
    for (const auto& [name, keyId] : wanted) {
        const auto index = shares.findLive(keyId);
        if (!index) {
            AddShare(keyId, name); // a user without a public key in the ring is left out
            continue;
        }
        if (!name.empty() && normalizeUserName(name) != shares[*index].key->name()) {
            if (const std::uint32_t code = SetShareName(keyId, name); code != Code::Ok)
                return code;
        }
    }
    return Code::Ok;
}
