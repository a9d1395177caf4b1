// AvSegmentCipher: AES-256 OFB over many whole container segments at once.
// Every segment restarts the keystream on its own IV (the file key's IV with
// the segment index little-endian in bytes 6 to 9, or the IV unchanged for the
// oldest format), so the keystreams of different segments are independent.
// A single OFB stream is bound by the latency of one AES call per block; here
// the keystreams of a group of segments advance together, one multi-block call
// per keystream row, which lets the AES instructions pipeline. The result is
// byte for byte what ResetAes + ProcessAes give segment by segment. The object
// keeps its own key schedule; const calls may run on several threads at once
// only on separate objects. Nothing throws; failures return false.
#pragma once

#include "crypto/AvEncrypt.h"

#include <cryptopp/aes.h>
#include <cryptopp/secblock.h>

#include <cstddef>
#include <cstdint>

class AvSegmentCipher
{
public:
    // The IV holds a 32-bit segment counter: later segments would repeat
    // earlier keystreams.
    static constexpr std::uint64_t MaxSegmentIndex = 0xFFFFFFFFu;

    AvSegmentCipher() = default;
    AvSegmentCipher(const AvSegmentCipher&) = delete;
    AvSegmentCipher& operator=(const AvSegmentCipher&) = delete;
    ~AvSegmentCipher();

    // Takes key and IV from `record`. With `counterInIv` segment k is keyed
    // with k in IV bytes 6 to 9; without it every segment uses the IV as it is.
    bool setKey(const AvAesRecord& record, bool counterInIv);
    void clear();
    bool hasKey() const { return m_keyed; }

    // XORs `count` whole segments of `segmentSize` bytes (a non-zero multiple
    // of 16) from `in` into `out` (which may be `in`) with their keystreams,
    // the first being segment `first`. False without a key, with a bad
    // segment size or when a segment index would pass MaxSegmentIndex (with
    // the counter in the IV).
    bool cryptSegments(std::uint64_t first, std::size_t count, std::size_t segmentSize, const std::uint8_t* in,
        std::uint8_t* out) const;

private:
    void cryptGroup(std::uint64_t first, std::size_t count, std::size_t segmentSize, const std::uint8_t* in,
        std::uint8_t* out) const;
    bool cryptWithOneKeystream(
        std::size_t count, std::size_t segmentSize, const std::uint8_t* in, std::uint8_t* out) const;

    CryptoPP::AES::Encryption m_aes;
    CryptoPP::FixedSizeSecBlock<CryptoPP::byte, AvAesRecord::kIvSize> m_iv;
    bool m_counterInIv = true;
    bool m_keyed = false;
};
