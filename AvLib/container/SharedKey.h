#pragma once

// SharedKey: one share of a container in memory, mirroring the share packet:
// the recipient's key id, the recipient's user name in a fixed name field and
// the file key wrapped with the recipient's RSA public key. The name field
// holds the normalized name, a zero byte and random filler; in files of format
// version 2 and later the field is stored rotated right by one bit, which
// scrambledNameField() and setNameFieldFromFile() apply and undo. A share
// removed from a file becomes a deleted share: id all ones, name and wrapped
// key zeroed, length kept. The wrapped key is wiped whenever it is released.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

class SharedKey
{
public:
    static constexpr std::uint8_t CurrentVersion = 1;
    static constexpr std::uint8_t NameFieldLength = 130; // N: counts itself
    static constexpr std::uint32_t NameBytes = NameFieldLength - 1;
    static constexpr std::uint16_t FixedLength = 12; // tag, length, version, key id, N
    static constexpr std::uint64_t DeletedKeyId = ~std::uint64_t(0);

    struct NameField
    {
        std::uint8_t length = 0; // N; N - 1 name bytes follow in the file
        std::array<std::uint8_t, 131> buffer{}; // the N - 1 bytes, unscrambled
    };

    SharedKey() = default;
    ~SharedKey();
    SharedKey(const SharedKey&) = delete;
    SharedKey& operator=(const SharedKey&) = delete;

    // A new share: version 1, the normalized name with random filler, and the
    // packet length from the wrapped key.
    static std::unique_ptr<SharedKey> make(
        std::uint64_t recipientKeyId, const std::string& userName, std::string wrapped);

    bool isDeleted() const { return keyId == DeletedKeyId; }

    // Fills the name field afresh: normalized name, zero byte, random filler.
    void setName(const std::string& userName);
    // The name up to the first zero byte of the field.
    std::string name() const;

    // The N - 1 name bytes as stored in a file of the given format version.
    std::string scrambledNameField(std::uint8_t formatVersion) const;
    // Takes the name bytes as read from a file (clamped N) and unscrambles them.
    void setNameFieldFromFile(std::uint8_t fieldLength, const std::string& stored, std::uint8_t formatVersion);

    // Turns the share into a free slot of the same length.
    void markDeleted();

    std::uint16_t length = 0;
    std::uint8_t version = CurrentVersion;
    std::uint64_t keyId = DeletedKeyId;
    NameField nameField;
    std::string wrappedKey;
};
