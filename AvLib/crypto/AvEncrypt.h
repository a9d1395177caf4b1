// AvEncrypt: the one layer through which the rest of the library touches
// cryptography. It wraps Crypto++ into byte-oriented free functions with fixed
// parameters: random key ids, RSA-1024 (e = 17) key pairs and their raw storage
// forms, RSAES-PKCS1-v1_5 wrapping of short secrets (ciphertext blocks stored
// byte-reversed), AES-256 in OFB mode with a per-segment IV, the sealed block
// (an AES envelope bound to a 64-bit tag) and the bit rotation used to scramble
// names in containers. Every parameter here is part of a stored format, so none
// of them may change. Buffers are pointer + 32-bit length; functions that can
// fail return false and never let an exception escape.
#pragma once

#include <cryptopp/aes.h>
#include <cryptopp/cryptlib.h>
#include <cryptopp/modes.h>
#include <cryptopp/rsa.h>
#include <cryptopp/secblock.h>

#include <cstdint>
#include <memory>

// A symmetric key as used for file contents and sealed blocks: AES-256 in OFB
// mode. `key` (32 bytes) and `iv` (16 bytes) are empty when absent; `cipher` is
// the keystream state, rebuilt by ResetAes. Copies get their own buffers and,
// when the source has a cipher, their own cipher restarted on the copied IV.
// Key and IV live in wiping buffers, so they are cleared whenever the record
// releases them.
struct AvAesRecord
{
    using Cipher = CryptoPP::OFB_Mode<CryptoPP::AES>::Encryption;

    std::unique_ptr<Cipher> cipher;
    CryptoPP::SecByteBlock key;
    CryptoPP::SecByteBlock iv;

    AvAesRecord() = default;
    AvAesRecord(const AvAesRecord& other);
    AvAesRecord& operator=(const AvAesRecord& other);
    AvAesRecord(AvAesRecord&& other) noexcept;
    AvAesRecord& operator=(AvAesRecord&& other) noexcept;
    ~AvAesRecord();

    bool hasKey() const { return key.size() == kKeySize && iv.size() == kIvSize; }

    static constexpr uint32_t kKeySize = 32;
    static constexpr uint32_t kIvSize = 16;
    static constexpr uint32_t kRawSize = kKeySize + kIvSize;
};

// Counter value for ResetAes that restarts the keystream on the IV as stored.
inline constexpr int32_t kAesKeepIv = -1;

inline constexpr uint32_t kRsaBlockSize = 128; // ciphertext bytes per block
inline constexpr uint32_t kRsaMaxPlainChunk = 117; // PKCS #1 v1.5 limit for 1024 bits
inline constexpr uint32_t kPublicRawSize = 132; // 4 bytes e + 128 bytes n
inline constexpr uint32_t kSealHeaderSize = 10; // version, filler length, 8-byte tag

// Process-wide generator for RSA padding and key validation, seeded from the
// operating system on first use. Safe to use from several threads.
CryptoPP::RandomNumberGenerator& sharedRandom();

// Random key id in [0, 2^63 - 1].
uint64_t NewKeyId();

// New RSA-1024 key pair with public exponent 17; fills both halves.
void GenerateKeyPair(CryptoPP::RSA::PrivateKey& privateKey, CryptoPP::RSA::PublicKey& publicKey);

// PKCS #8 DER form of a private key. `length` is the capacity on entry and the
// bytes written on return; an encoding that fills the whole capacity fails.
bool PrivateToRaw(const CryptoPP::RSA::PrivateKey& privateKey, uint8_t* out, uint32_t& length);
// Decodes a PKCS #8 private key, validates it and copies n and e into `publicKey`.
// Logs "AvEncrypt failed with RawToPrivate" on failure.
bool RawToPrivate(
    const uint8_t* in, uint32_t length, CryptoPP::RSA::PrivateKey& privateKey, CryptoPP::RSA::PublicKey& publicKey);

// 132-byte public form: e as 32-bit little-endian, then n as 128 big-endian bytes.
bool PublicToRaw(const CryptoPP::RSA::PublicKey& publicKey, uint8_t* out, uint32_t& length);
// Reads the public form back; a key that does not validate is refused.
bool RawToPublic(const uint8_t* in, uint32_t length, CryptoPP::RSA::PublicKey& publicKey);

// Encrypts `length` bytes of `buffer` in place in chunks of at most 117 bytes,
// each giving one byte-reversed 128-byte block. `capacity` is the size of
// `buffer`; `length` becomes the ciphertext length.
bool EncryptRsa(uint8_t* buffer, uint32_t& length, uint32_t capacity, const CryptoPP::RSA::PublicKey& publicKey);
// Decrypts byte-reversed 128-byte blocks in place (the input is modified even on
// failure); `length` becomes the plaintext length.
bool DecryptRsa(uint8_t* buffer, uint32_t& length, const CryptoPP::RSA::PrivateKey& privateKey);

// PBKDF2 with HMAC-SHA-512 (purpose byte 0): `outLength` bytes from the
// secret, the salt and the iteration count. False if the derivation fails.
bool Pbkdf2Sha512(const uint8_t* secret, uint32_t secretLength, const uint8_t* salt, uint32_t saltLength,
    uint32_t iterations, uint8_t* out, uint32_t outLength);

// Fresh random key and IV, then ResetAes with counter 0.
void GenerateAesKey(AvAesRecord& record);
// 48 bytes: key then IV. `length` is capacity in, bytes written out.
bool AesToRaw(const AvAesRecord& record, uint8_t* out, uint32_t& length);
// Replaces key and IV from exactly 48 bytes and rebuilds the cipher on that IV.
bool RawToAes(AvAesRecord& record, const uint8_t* in, uint32_t length);
// Rebuilds the cipher so the keystream starts afresh. Unless `counter` is
// kAesKeepIv it is first stored little-endian into IV bytes 6 to 9 (the change
// stays in the record).
void ResetAes(AvAesRecord& record, int32_t counter);
// XORs the buffer in place with the next keystream bytes; false without a cipher.
bool ProcessAes(AvAesRecord& record, uint8_t* buffer, uint32_t length);
// Drops the cipher and wipes and releases key and IV.
void DestroyAes(AvAesRecord& record);

// Seals `length` data bytes in place: [1][filler length d][tag low][tag high]
// [data][d filler bytes], everything after byte 1 encrypted, 8 + n + d a
// multiple of 16. Fails when 10 + n + d exceeds `capacity`.
bool SealBlock(
    uint32_t tagLow, uint32_t tagHigh, uint8_t* buffer, uint32_t& length, uint32_t capacity, AvAesRecord& record);
// Opens a sealed block in place; on success the data is at offset 0 and
// `length` is its size. On a tag mismatch (wrong key or wrong tag) the buffer
// and `length` are left exactly as they were.
bool OpenBlock(uint32_t tagLow, uint32_t tagHigh, uint8_t* buffer, uint32_t& length, AvAesRecord& record);

// Rotates the buffer, read as one big-endian bit string, by one bit.
void RotateBitsRight(uint8_t* buffer, uint32_t length);
void RotateBitsLeft(uint8_t* buffer, uint32_t length);
// Reverses the byte order in place.
void ReverseBytes(uint8_t* buffer, uint32_t length);
