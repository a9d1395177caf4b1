#include "crypto/AvSegmentCipher.h"

#include <cryptopp/misc.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr std::size_t Block = 16;
// Segments whose keystreams advance together: enough independent blocks per
// call for the AES instructions to pipeline, few enough for the rows to stay
// in the first-level cache.
constexpr std::size_t GroupSegments = 32;
// Keystream rows computed before one XOR pass over the data. The rows are kept
// row by row, so the pass reads them with a short stride while it walks each
// segment in order (walking many segments 4 KiB apart in lockstep would thrash
// the cache sets).
constexpr std::size_t RowsPerPass = 16;

void xorBlock(const std::uint8_t* in, const std::uint8_t* keystream, std::uint8_t* out)
{
    std::uint64_t data[2];
    std::uint64_t key[2];
    std::memcpy(data, in, Block);
    std::memcpy(key, keystream, Block);
    data[0] ^= key[0];
    data[1] ^= key[1];
    std::memcpy(out, data, Block);
}

void storeCounter(std::uint8_t* iv, std::uint64_t segment)
{
    for (int i = 0; i < 4; ++i)
        iv[6 + i] = std::uint8_t(segment >> (8 * i));
}

} // namespace

AvSegmentCipher::~AvSegmentCipher()
{
    clear();
}

bool AvSegmentCipher::setKey(const AvAesRecord& record, bool counterInIv)
{
    clear();
    if (!record.hasKey())
        return false;
    try {
        m_aes.SetKey(record.key.data(), record.key.size());
    } catch (const CryptoPP::Exception&) {
        return false;
    }
    std::memcpy(m_iv.data(), record.iv.data(), AvAesRecord::kIvSize);
    m_counterInIv = counterInIv;
    m_keyed = true;
    return true;
}

void AvSegmentCipher::clear()
{
    if (!m_keyed)
        return;
    // Overwrite the key schedule too, not just the IV.
    const CryptoPP::byte zeros[AvAesRecord::kKeySize] = {};
    try {
        m_aes.SetKey(zeros, sizeof zeros);
    } catch (const CryptoPP::Exception&) {
    }
    CryptoPP::SecureWipeBuffer(m_iv.data(), m_iv.size());
    m_keyed = false;
}

bool AvSegmentCipher::cryptSegments(
    std::uint64_t first, std::size_t count, std::size_t segmentSize, const std::uint8_t* in, std::uint8_t* out) const
{
    if (!m_keyed || segmentSize == 0 || segmentSize % Block != 0)
        return false;
    if (count == 0)
        return true;
    if (!in || !out)
        return false;
    if (!m_counterInIv)
        return cryptWithOneKeystream(count, segmentSize, in, out);
    if (first > MaxSegmentIndex || count - 1 > MaxSegmentIndex - first)
        return false;
    for (std::size_t done = 0; done < count; done += GroupSegments) {
        const std::size_t group = std::min(GroupSegments, count - done);
        cryptGroup(first + done, group, segmentSize, in + done * segmentSize, out + done * segmentSize);
    }
    return true;
}

// Row 0 holds the IVs of the group; row j + 1 is the AES of row j, and block g
// of row j + 1 is the keystream of block j of segment g.
void AvSegmentCipher::cryptGroup(
    std::uint64_t first, std::size_t count, std::size_t segmentSize, const std::uint8_t* in, std::uint8_t* out) const
{
    alignas(16) std::uint8_t rows[(RowsPerPass + 1) * GroupSegments * Block];
    const std::size_t rowBytes = count * Block;
    for (std::size_t g = 0; g < count; ++g) {
        std::memcpy(rows + g * Block, m_iv.data(), Block);
        storeCounter(rows + g * Block, first + g);
    }
    const std::size_t totalRows = segmentSize / Block;
    for (std::size_t row = 0; row < totalRows; row += RowsPerPass) {
        const std::size_t passRows = std::min(RowsPerPass, totalRows - row);
        for (std::size_t r = 0; r < passRows; ++r) {
            m_aes.AdvancedProcessBlocks(rows + r * rowBytes, nullptr, rows + (r + 1) * rowBytes, rowBytes,
                CryptoPP::BlockTransformation::BT_AllowParallel);
        }
        for (std::size_t g = 0; g < count; ++g) {
            const std::size_t at = g * segmentSize + row * Block;
            for (std::size_t r = 0; r < passRows; ++r)
                xorBlock(in + at + r * Block, rows + (r + 1) * rowBytes + g * Block, out + at + r * Block);
        }
        std::memcpy(rows, rows + passRows * rowBytes, rowBytes);
    }
    CryptoPP::SecureWipeBuffer(rows, sizeof rows);
}

// Every segment starts on the same IV: one keystream serves them all.
bool AvSegmentCipher::cryptWithOneKeystream(
    std::size_t count, std::size_t segmentSize, const std::uint8_t* in, std::uint8_t* out) const
{
    try {
        CryptoPP::SecByteBlock keystream(segmentSize);
        const std::uint8_t* previous = m_iv.data();
        for (std::size_t at = 0; at < segmentSize; at += Block) {
            m_aes.ProcessBlock(previous, keystream.data() + at);
            previous = keystream.data() + at;
        }
        for (std::size_t s = 0; s < count; ++s) {
            for (std::size_t at = 0; at < segmentSize; at += Block) {
                const std::size_t offset = s * segmentSize + at;
                xorBlock(in + offset, keystream.data() + at, out + offset);
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
