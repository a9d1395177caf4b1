#pragma once

// CCryptFile: one open .avlt container. The file holds an info packet, a
// header with the file key's id, an optional original file name, the owner's
// share, the data packet with the contents encrypted with AES-256 in OFB mode
// in independent segments (segment k keyed with the file key's IV carrying k
// in bytes 6 to 9), and further shares after the data. Each share wraps the
// 48-byte file key with one account's RSA public key, so the accounts holding
// a share can open the file. The object opens a container to create it (kind
// 1), to read it (kind 2) or to change it (kind 4) and then offers its
// contents as a plain byte stream (Read, Write, Seek) and its share list
// (AddShare, RemoveShare, SetShares, GetShares ...). Headers are written when
// the first data is written and on Flush/Close; the destructor closes. Every
// operation reports a 32-bit result code (CCryptFileCodes.h) and never throws.
// File keys, private and public keys come from AvKeyring::instance().

#include "container/CryptFileRecords.h"
#include "container/CryptFileStream.h"
#include "container/SharedKeyList.h"
#include "crypto/AvSegmentCipher.h"

#include <cryptopp/secblock.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class AvKeyAES;
class CryptFileWorker;

class CCryptFile
{
public:
    enum OpenKind { Create = 1, ReadOnly = 2, Update = 4 };
    enum SeekOrigin { FromStart = 0, FromCurrent = 1, FromEnd = 2 };

    // Open flag bit 0: damaged trailing shares are not logged.
    static constexpr int QuietBrokenShares = 1;

    // `dirty` bits: what the next Flush writes.
    static constexpr std::uint32_t DirtyAll = 0xFFFFFF;
    static constexpr std::uint32_t DirtyHeaderArea = 1;
    static constexpr std::uint32_t DirtyTrailingShares = 2;
    static constexpr std::uint32_t DirtyDataHeader = 8;
    // Flush flags: everything but the shares after the data.
    static constexpr std::uint32_t FlushHeadersOnly = 0xFFFFFD;

    // `parsed` bits: packets read so far.
    static constexpr std::uint32_t ParsedHeader = 1;
    static constexpr std::uint32_t ParsedFileName = 2;
    static constexpr std::uint32_t ParsedDataHeader = 8;
    static constexpr std::uint32_t ParsedFirstShares = 0x20;
    static constexpr std::uint32_t ParsedMoreShares = 0x40;

    // `access` states.
    static constexpr int AccessUnknown = 0;
    static constexpr int AccessNoKey = 1;
    static constexpr int AccessFromShare = 2;
    static constexpr int AccessCreated = 3;

    // Opens `path` as `kind`; `result` is 0 on success. The object must be
    // destroyed whatever the result.
    CCryptFile(const std::string& path, int kind, int openFlags, std::uint32_t& result);
    // Writes what is dirty (with the shares after the data) and closes the file.
    virtual ~CCryptFile();

    CCryptFile(const CCryptFile&) = delete;
    CCryptFile& operator=(const CCryptFile&) = delete;

    // Writes the dirty parts; `flags` bit 1 (2) includes the shares after the data.
    virtual std::uint32_t Flush(std::uint32_t flags);
    // Shrinking is not supported: always 0xA0000002.
    virtual std::uint32_t Truncate(std::uint64_t size);
    // Flush(0xFFFFFF), after marking everything dirty when asked.
    virtual std::uint32_t Close(bool markAllDirty);

    // ---- contents ------------------------------------------------------------

    // Encrypts `length` bytes at the current position (the caller's buffer is
    // left unchanged). `written` counts what reached the file.
    std::uint32_t Write(const void* data, std::size_t length, std::size_t& written);
    // Decrypts up to `length` bytes from the current position; 0x20010065 when
    // the end of the data was reached.
    std::uint32_t Read(void* buffer, std::size_t length, std::size_t& count);
    // Moves on the plain stream. A target beyond the end of a writable
    // container is remembered and reached by zero bytes at the next Write; a
    // read-only container stops at the end.
    std::uint32_t Seek(std::int64_t offset, int origin);
    // The plain position (including a remembered target beyond the end).
    std::uint32_t Tell(std::uint64_t& position) const;
    // Grows the contents with zero bytes; shrinking goes to Truncate.
    std::uint32_t SetSize(std::uint64_t size);
    // With write-behind on, a write of whole segments returns once they are
    // encrypted, and a helper thread puts them into the file while the caller
    // goes on (a Write waits while two runs are still on their way). A failed
    // write is then reported by a later Write, Read or Flush (0xA001002A) and
    // by every one after it, and the headers are no longer written: for
    // callers that discard the whole container on any failure. Off by default.
    void setWriteBehind(bool on);
    // With split runs on (the default) a long run of whole segments is
    // encrypted or decrypted by the caller and a helper thread together, when
    // two CPUs are usable. Callers that keep the CPUs busy with threads of
    // their own (reading and writing beside the encryption) turn it off: a
    // fourth thread on two CPUs only makes the others wait their turn.
    void setSplitRuns(bool on) { m_splitRuns = on; }
    // Plain size of the contents; 0xA001000B when the file is not open.
    std::uint32_t GetDataSize(std::uint64_t& size) const;
    // Whether the signed-in account can open the contents: 0 or 0xA0010005.
    std::uint32_t CanDecrypt() const;
    // The path without its last 5 characters (".avlt").
    std::uint32_t PlainName(std::string& plainPath) const;

    // ---- recognition ----------------------------------------------------------

    // True when the lower-cased path ends with ".avlt".
    static bool IsCryptFileName(const std::string& path);
    // 0 when the file starts with the container's info packet and banner,
    // 0xA0010008 when it does not, other codes when it cannot be read.
    static std::uint32_t CheckFileSignature(const std::string& path);
    // The same check on this container's stream; the position is kept.
    std::uint32_t CheckSignature();

    // ---- shares ---------------------------------------------------------------

    // Wraps the file key for the key ring's public key `keyId`; the share goes
    // into the first free slot of its length, else to the end of the list.
    std::uint32_t AddShare(std::uint64_t keyId, const std::string& userName);
    // Leaves a free slot of the same length in place of the share.
    std::uint32_t RemoveShare(std::uint64_t keyId);
    // Stores a new name for the share of `keyId`.
    std::uint32_t SetShareName(std::uint64_t keyId, const std::string& userName);
    // The name stored in list entry `index`; 0xA0010015 past the end.
    std::uint32_t ShareName(std::size_t index, std::string& userName) const;
    // (name, key id) of every share that is not a free slot, in file order.
    std::uint32_t GetShares(ShareNameList& shares) const;
    // Makes exactly the wanted key ids the shares: removals first (their slots
    // are reused), then renames and additions. A user whose public key is not
    // in the key ring is left out silently.
    std::uint32_t SetShares(const ShareNameList& wanted);

    // ---- state, for callers and tests ------------------------------------------

    const std::string& filePath() const { return path; }
    int kind() const { return openKind; }
    std::uint8_t formatVersion() const { return header.version; }
    std::uint64_t fileKeyIdentifier() const { return fileKeyId; }
    std::uint64_t dataStartOffset() const { return dataStart; }
    std::uint32_t segmentSize() const { return dataHeader.segmentSize(); }
    std::uint8_t padCount() const { return dataHeader.padCount; }
    std::uint32_t dirtyFlags() const { return dirty; }
    std::uint32_t parsedFlags() const { return parsed; }
    int accessState() const { return access; }
    const SharedKeyList& shareList() const { return shares; }

private:
    bool OpenStream(const std::string& filePath, int openKindValue, CryptFileStream& target);

    // Reading (opening kinds 2 and 4).
    std::uint32_t readContainer();
    std::uint32_t readPacket();
    std::uint32_t readShareRun(bool strict);
    void tryOpenFileKey(const SharedKey& share);
    std::uint32_t checkDataSize();
    std::uint32_t checkNecessaryPackets() const;

    // Segments.
    AvKeyAES* lookUpFileKey();
    std::uint32_t checkFileKeyAccess();
    bool cryptSegment(std::uint64_t segment, std::uint8_t* buffer, std::size_t length);
    std::uint32_t readSegmentPiece(std::uint8_t* target, std::size_t wanted, std::size_t& delivered);
    std::uint32_t loadSegment(std::uint64_t segment, std::uint8_t* buffer, std::size_t held);
    std::uint32_t writeSegmentPiece(const std::uint8_t* data, std::size_t length, std::size_t& written);
    std::uint32_t fillPendingGap();
    std::uint32_t writePieces(const std::uint8_t* data, std::size_t length, std::size_t& written);

    // Runs of whole segments: keyed once, encrypted together, moved with one
    // read or write per thread.
    using SegmentRun = std::function<void(std::size_t begin, std::size_t count, const AvSegmentCipher& cipher)>;
    std::size_t segmentsWithinCounter(std::uint64_t first, std::size_t count) const;
    bool keySegmentCipher(AvSegmentCipher& cipher) const;
    void forSegmentRuns(std::size_t count, const SegmentRun& run);
    std::uint32_t writeWholeSegments(const std::uint8_t* data, std::size_t length, std::size_t& written);
    std::uint32_t readWholeSegments(std::uint8_t* target, std::size_t length, std::size_t& delivered);
    std::uint32_t storeWholeSegments(std::uint64_t offset, std::size_t bytes);
    // Waits for a write still under way; its failure is returned from then on.
    std::uint32_t settleWrites();

    // Headers.
    std::uint32_t assembleHeaderArea(std::string& bytes, std::uint64_t& ownerPosition);
    std::uint32_t checkHeaderAreaKept();
    std::uint32_t checkHeaderAreaLength(std::uint64_t length) const;
    std::uint32_t writeTrailingShares(std::uint64_t position);
    void markShareDirty(std::size_t index);

    static std::uint32_t checkSignatureOf(CryptFileStream& file, const std::string& filePath);

    std::string path;
    CryptFileStream stream;
    int openKind = 0;
    CryptFileStream::Mode openMode = CryptFileStream::Mode::ReadOnly;
    CryptFileInfo info;
    CryptFileHeader header;
    CryptFileName fileName;
    SharedKeyList shares;
    CryptDataHeader dataHeader;
    std::uint64_t myKeyId = 0;
    std::uint64_t fileKeyId = CryptFilePacket::NoKey;
    AvKeyAES* fileKey = nullptr;
    std::uint32_t parsed = 0;
    std::uint64_t dataStart = 0;
    std::uint64_t dataSize = 0;
    std::uint64_t pendingSize = 0;
    int openFlags = 0;
    std::uint32_t dirty = 0;
    int access = AccessUnknown;

    std::uint64_t m_position = 0; // plain position, relative to the data start
    CryptoPP::SecByteBlock m_segment; // scratch for one segment's plain text
    CryptoPP::SecByteBlock m_cipherText; // whole segments on their way to the file
    AvSegmentCipher m_cipher;
    AvSegmentCipher m_helperCipher;
    std::unique_ptr<CryptFileWorker> m_worker; // started by the first large read or write
    bool m_writeBehind = false;
    bool m_splitRuns = true;
    // Whole segments the writer thread is putting into the file: one run
    // being written and the next one waiting, so that it never idles.
    std::array<CryptoPP::SecByteBlock, 2> m_writingText;
    std::size_t m_nextWriting = 0;
    std::unique_ptr<CryptFileWorker> m_writer; // started by the first write behind
    std::atomic<bool> m_writeBehindFailed = false;
};
