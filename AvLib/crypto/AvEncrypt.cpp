#include "crypto/AvEncrypt.h"

#include "log/AvLog.h"

#include <cryptopp/filters.h>
#include <cryptopp/misc.h>
#include <cryptopp/osrng.h>
#include <cryptopp/pwdbased.h>
#include <cryptopp/sha.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

// A RandomPool seeded from the operating system, with a lock so that RSA
// padding on a worker thread cannot race key validation elsewhere.
class LockedSystemRandom : public CryptoPP::RandomNumberGenerator
{
public:
    void GenerateBlock(CryptoPP::byte* output, size_t size) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pool_.GenerateBlock(output, size);
    }
    CryptoPP::byte GenerateByte() override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return pool_.GenerateByte();
    }
    bool CanIncorporateEntropy() const override { return true; }
    void IncorporateEntropy(const CryptoPP::byte* input, size_t length) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pool_.IncorporateEntropy(input, length);
    }
    std::string AlgorithmName() const override { return "AvSharedRandom"; }

private:
    std::mutex mutex_;
    CryptoPP::AutoSeededRandomPool pool_;
};

void storeLittleEndian32(uint8_t* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t loadLittleEndian32(const uint8_t* in)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | in[i];
    return value;
}

uint64_t loadLittleEndian64(const uint8_t* in)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | in[i];
    return value;
}

bool isValidKey(const CryptoPP::CryptoMaterial& key, unsigned level)
{
    try {
        return key.Validate(sharedRandom(), level);
    } catch (const std::exception&) {
        return false;
    }
}

void copyPublicHalf(const CryptoPP::RSA::PrivateKey& privateKey, CryptoPP::RSA::PublicKey& publicKey)
{
    publicKey.Initialize(privateKey.GetModulus(), privateKey.GetPublicExponent());
}

// Filler length that makes 8 + n + d a multiple of the AES block size.
uint32_t sealFillerLength(uint32_t dataLength)
{
    return (16 - ((dataLength + 8) % 16)) % 16;
}

} // namespace

// ---------------------------------------------------------------------------
// AvAesRecord

AvAesRecord::AvAesRecord(const AvAesRecord& other)
    : key(other.key)
    , iv(other.iv)
{
    if (other.cipher)
        ResetAes(*this, kAesKeepIv);
}

AvAesRecord& AvAesRecord::operator=(const AvAesRecord& other)
{
    if (this == &other)
        return *this;
    cipher.reset();
    key = other.key;
    iv = other.iv;
    if (other.cipher)
        ResetAes(*this, kAesKeepIv);
    return *this;
}

AvAesRecord::AvAesRecord(AvAesRecord&& other) noexcept
    : cipher(std::move(other.cipher))
{
    key.swap(other.key);
    iv.swap(other.iv);
}

AvAesRecord& AvAesRecord::operator=(AvAesRecord&& other) noexcept
{
    if (this == &other)
        return *this;
    DestroyAes(*this);
    cipher = std::move(other.cipher);
    key.swap(other.key);
    iv.swap(other.iv);
    return *this;
}

AvAesRecord::~AvAesRecord()
{
    DestroyAes(*this);
}

// ---------------------------------------------------------------------------
// Random sources

CryptoPP::RandomNumberGenerator& sharedRandom()
{
    static LockedSystemRandom generator;
    return generator;
}

uint64_t NewKeyId()
{
    CryptoPP::AutoSeededRandomPool rng;
    uint8_t bytes[8];
    for (;;) {
        rng.GenerateBlock(bytes, sizeof bytes);
        const uint64_t raw = loadLittleEndian64(bytes);
        // The most negative value has no positive counterpart, and 0 marks "no
        // key"; draw again rather than hand out either.
        if (raw == 0 || raw == (uint64_t{ 1 } << 63))
            continue;
        const bool negative = (raw >> 63) != 0;
        return negative ? ~raw + 1 : raw;
    }
}

// ---------------------------------------------------------------------------
// RSA

void GenerateKeyPair(CryptoPP::RSA::PrivateKey& privateKey, CryptoPP::RSA::PublicKey& publicKey)
{
    try {
        CryptoPP::AutoSeededRandomPool rng;
        privateKey.GenerateRandom(rng, CryptoPP::MakeParameters("KeySize", 1024));
        copyPublicHalf(privateKey, publicKey);
    } catch (const std::exception&) {
        // Leaves both keys as they were; they fail validation wherever they are used.
    }
}

bool PrivateToRaw(const CryptoPP::RSA::PrivateKey& privateKey, uint8_t* out, uint32_t& length)
{
    if (out == nullptr || !isValidKey(privateKey, 0))
        return false;
    const uint32_t capacity = length;
    try {
        CryptoPP::ArraySink sink(out, capacity);
        privateKey.Save(sink);
        const CryptoPP::lword written = sink.TotalPutLength();
        length = static_cast<uint32_t>(std::min<CryptoPP::lword>(written, capacity));
        // A full buffer cannot be told apart from a truncated encoding.
        return written < capacity;
    } catch (const std::exception&) {
        length = 0;
        return false;
    }
}

bool RawToPrivate(
    const uint8_t* in, uint32_t length, CryptoPP::RSA::PrivateKey& privateKey, CryptoPP::RSA::PublicKey& publicKey)
{
    bool ok = false;
    if (in != nullptr) {
        try {
            CryptoPP::ArraySource source(in, length, true);
            privateKey.Load(source);
            copyPublicHalf(privateKey, publicKey);
            ok = isValidKey(privateKey, 1);
        } catch (const std::exception&) {
            ok = false;
        }
    }
    if (!ok) {
        AV_LOG(AvLog::Error) << "AvEncrypt failed with RawToPrivate";
    }
    return ok;
}

bool PublicToRaw(const CryptoPP::RSA::PublicKey& publicKey, uint8_t* out, uint32_t& length)
{
    if (out == nullptr || length < kPublicRawSize)
        return false;
    const CryptoPP::Integer& e = publicKey.GetPublicExponent();
    const CryptoPP::Integer& n = publicKey.GetModulus();
    if (e.IsNegative() || e.BitCount() > 32)
        return false;
    if (n.IsNegative() || n.ByteCount() > kPublicRawSize - 4)
        return false;
    storeLittleEndian32(out, static_cast<uint32_t>(e.ConvertToLong()));
    n.Encode(out + 4, kPublicRawSize - 4, CryptoPP::Integer::UNSIGNED);
    length = kPublicRawSize;
    return true;
}

bool RawToPublic(const uint8_t* in, uint32_t length, CryptoPP::RSA::PublicKey& publicKey)
{
    if (in == nullptr || length <= 4)
        return false;
    try {
        const CryptoPP::Integer e(static_cast<CryptoPP::word>(loadLittleEndian32(in)));
        const CryptoPP::Integer n(in + 4, length - 4, CryptoPP::Integer::UNSIGNED, CryptoPP::BIG_ENDIAN_ORDER);
        CryptoPP::RSA::PublicKey candidate;
        candidate.Initialize(n, e);
        if (!isValidKey(candidate, 1))
            return false;
        publicKey = candidate;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool EncryptRsa(uint8_t* buffer, uint32_t& length, uint32_t capacity, const CryptoPP::RSA::PublicKey& publicKey)
{
    if (buffer == nullptr || !isValidKey(publicKey, 0))
        return false;
    try {
        CryptoPP::RSAES_PKCS1v15_Encryptor encryptor(publicKey);
        const size_t chunkLimit = encryptor.FixedMaxPlaintextLength();
        const size_t blockSize = encryptor.FixedCiphertextLength();
        if (chunkLimit == 0)
            return false;
        CryptoPP::SecByteBlock scratch(capacity);
        size_t written = 0;
        for (size_t offset = 0; offset < length; offset += chunkLimit) {
            const size_t chunk = std::min<size_t>(chunkLimit, length - offset);
            if (written + blockSize > capacity)
                return false;
            encryptor.Encrypt(sharedRandom(), buffer + offset, chunk, scratch.data() + written);
            ReverseBytes(scratch.data() + written, static_cast<uint32_t>(blockSize));
            written += blockSize;
        }
        std::memcpy(buffer, scratch.data(), written);
        length = static_cast<uint32_t>(written);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool DecryptRsa(uint8_t* buffer, uint32_t& length, const CryptoPP::RSA::PrivateKey& privateKey)
{
    if (buffer == nullptr || !isValidKey(privateKey, 0))
        return false;
    try {
        CryptoPP::RSAES_PKCS1v15_Decryptor decryptor(privateKey);
        const size_t blockSize = decryptor.FixedCiphertextLength();
        if (blockSize == 0)
            return false;
        CryptoPP::SecByteBlock plain(decryptor.FixedMaxPlaintextLength());
        size_t written = 0;
        for (size_t offset = 0; offset < length; offset += blockSize) {
            if (length - offset < blockSize)
                return false; // truncated last block
            ReverseBytes(buffer + offset, static_cast<uint32_t>(blockSize));
            const CryptoPP::DecodingResult result =
                decryptor.Decrypt(sharedRandom(), buffer + offset, blockSize, plain.data());
            if (!result.isValidCoding)
                return false;
            // Each plaintext is shorter than its block, so this never overwrites
            // ciphertext that is still to be read.
            std::memcpy(buffer + written, plain.data(), result.messageLength);
            written += result.messageLength;
        }
        length = static_cast<uint32_t>(written);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// ---------------------------------------------------------------------------
// Password derivation

bool Pbkdf2Sha512(const uint8_t* secret, uint32_t secretLength, const uint8_t* salt, uint32_t saltLength,
    uint32_t iterations, uint8_t* out, uint32_t outLength)
{
    if (out == nullptr || outLength == 0 || iterations == 0)
        return false;
    static const uint8_t kEmpty = 0;
    try {
        CryptoPP::PKCS5_PBKDF2_HMAC<CryptoPP::SHA512> kdf;
        kdf.DeriveKey(out, outLength, 0, secret != nullptr ? secret : &kEmpty, secret != nullptr ? secretLength : 0,
            salt != nullptr ? salt : &kEmpty, salt != nullptr ? saltLength : 0, iterations);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// ---------------------------------------------------------------------------
// AES-256 OFB

void GenerateAesKey(AvAesRecord& record)
{
    DestroyAes(record);
    CryptoPP::AutoSeededRandomPool rng;
    record.iv.New(AvAesRecord::kIvSize);
    rng.GenerateBlock(record.iv.data(), record.iv.size());
    record.key.New(AvAesRecord::kKeySize);
    rng.GenerateBlock(record.key.data(), record.key.size());
    ResetAes(record, 0);
}

bool AesToRaw(const AvAesRecord& record, uint8_t* out, uint32_t& length)
{
    if (out == nullptr || length < AvAesRecord::kRawSize || !record.hasKey())
        return false;
    std::memcpy(out, record.key.data(), AvAesRecord::kKeySize);
    std::memcpy(out + AvAesRecord::kKeySize, record.iv.data(), AvAesRecord::kIvSize);
    length = AvAesRecord::kRawSize;
    return true;
}

bool RawToAes(AvAesRecord& record, const uint8_t* in, uint32_t length)
{
    if (in == nullptr || length != AvAesRecord::kRawSize)
        return false;
    DestroyAes(record);
    record.key.Assign(in, AvAesRecord::kKeySize);
    record.iv.Assign(in + AvAesRecord::kKeySize, AvAesRecord::kIvSize);
    ResetAes(record, kAesKeepIv);
    return true;
}

void ResetAes(AvAesRecord& record, int32_t counter)
{
    record.cipher.reset();
    if (record.iv.size() == AvAesRecord::kIvSize && counter != kAesKeepIv)
        storeLittleEndian32(record.iv.data() + 6, static_cast<uint32_t>(counter));
    if (!record.hasKey())
        return;
    try {
        record.cipher = std::make_unique<AvAesRecord::Cipher>(
            record.key.data(), record.key.size(), record.iv.data(), record.iv.size());
    } catch (const std::exception&) {
        record.cipher.reset();
    }
}

bool ProcessAes(AvAesRecord& record, uint8_t* buffer, uint32_t length)
{
    if (!record.cipher)
        return false;
    if (length == 0)
        return true;
    if (buffer == nullptr)
        return false;
    record.cipher->ProcessData(buffer, buffer, length);
    return true;
}

void DestroyAes(AvAesRecord& record)
{
    record.cipher.reset();
    CryptoPP::SecureWipeBuffer(record.key.data(), record.key.size());
    CryptoPP::SecureWipeBuffer(record.iv.data(), record.iv.size());
    record.key.New(0);
    record.iv.New(0);
}

// ---------------------------------------------------------------------------
// Sealed block

bool SealBlock(
    uint32_t tagLow, uint32_t tagHigh, uint8_t* buffer, uint32_t& length, uint32_t capacity, AvAesRecord& record)
{
    if (buffer == nullptr || !record.hasKey())
        return false;
    const uint32_t dataLength = length;
    const uint32_t filler = sealFillerLength(dataLength);
    const uint64_t total = uint64_t{ kSealHeaderSize } + dataLength + filler;
    if (total > capacity)
        return false;

    std::memmove(buffer + kSealHeaderSize, buffer, dataLength);
    buffer[0] = 1; // format version
    buffer[1] = static_cast<uint8_t>(filler);
    storeLittleEndian32(buffer + 2, tagLow);
    storeLittleEndian32(buffer + 6, tagHigh);
    // Zero filler, so no stale memory of the caller ends up in the file.
    std::memset(buffer + kSealHeaderSize + dataLength, 0, filler);

    ResetAes(record, kAesKeepIv);
    if (!ProcessAes(record, buffer + 2, static_cast<uint32_t>(total - 2)))
        return false;
    length = static_cast<uint32_t>(total);
    return true;
}

bool OpenBlock(uint32_t tagLow, uint32_t tagHigh, uint8_t* buffer, uint32_t& length, AvAesRecord& record)
{
    if (buffer == nullptr || length < kSealHeaderSize || !record.hasKey())
        return false;
    const uint32_t filler = buffer[1];
    if (length < kSealHeaderSize + filler)
        return false;
    const uint32_t sealedLength = length;

    ResetAes(record, kAesKeepIv);
    if (!ProcessAes(record, buffer + 2, sealedLength - 2))
        return false;

    uint8_t expected[8];
    storeLittleEndian32(expected, tagLow);
    storeLittleEndian32(expected + 4, tagHigh);
    if (std::memcmp(buffer + 2, expected, sizeof expected) != 0) {
        // OFB is its own inverse: running the keystream again restores the input,
        // so the caller can retry with another key.
        ResetAes(record, kAesKeepIv);
        ProcessAes(record, buffer + 2, sealedLength - 2);
        return false;
    }

    const uint32_t dataLength = sealedLength - kSealHeaderSize - filler;
    std::memmove(buffer, buffer + kSealHeaderSize, dataLength);
    // Leave no second copy of the opened data behind the result.
    CryptoPP::SecureWipeBuffer(buffer + dataLength, sealedLength - dataLength);
    length = dataLength;
    return true;
}

// ---------------------------------------------------------------------------
// Byte and bit order

void RotateBitsRight(uint8_t* buffer, uint32_t length)
{
    if (buffer == nullptr || length == 0)
        return;
    uint8_t carry = buffer[length - 1] & 1;
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t next = buffer[i] & 1;
        buffer[i] = static_cast<uint8_t>((buffer[i] >> 1) | (carry << 7));
        carry = next;
    }
}

void RotateBitsLeft(uint8_t* buffer, uint32_t length)
{
    if (buffer == nullptr || length == 0)
        return;
    uint8_t carry = buffer[0] >> 7;
    for (uint32_t i = length; i-- > 0;) {
        const uint8_t next = buffer[i] >> 7;
        buffer[i] = static_cast<uint8_t>((buffer[i] << 1) | carry);
        carry = next;
    }
}

void ReverseBytes(uint8_t* buffer, uint32_t length)
{
    if (buffer == nullptr)
        return;
    std::reverse(buffer, buffer + length);
}
