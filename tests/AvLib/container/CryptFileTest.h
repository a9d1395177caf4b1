#pragma once

// Shared set-up for the container tests: a temporary HOME whose data folder
// holds the containers and the log, and the process-wide key ring holding an
// account with an active key pair (the owner). Containers are made by the
// tests themselves through the public interface and then patched byte by byte
// where a test needs a damaged or older file.

#include "AvTempHome.h"

#include "container/CCryptFile.h"
#include "keyring/AvKeyring.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Little-endian fields of a container's bytes.
std::uint64_t read64(const std::string& bytes, std::size_t offset);
std::uint16_t read16(const std::string& bytes, std::size_t offset);
void put64(std::string& bytes, std::size_t offset, std::uint64_t value);

// Replaces every "%s" in a log line template by `path`.
std::string withPath(std::string line, const std::string& path);

class CryptFileTest : public AvTempHome
{
protected:
    static constexpr const char* OwnerName = "owner@example.com";

    // Offsets in a container with the owner share in the header area.
    static constexpr std::size_t HeaderOffset = 37;
    static constexpr std::size_t VersionOffset = 40;
    static constexpr std::size_t OwnerShareOffset = 59;
    static constexpr std::size_t ShareLength = 270;
    static constexpr std::size_t NameFieldOffset = 13; // within a share
    static constexpr std::size_t WrappedKeyOffset = 142;
    static constexpr std::size_t DataHeaderOffset = 329;
    static constexpr std::size_t DataStart = 340;

    void SetUp() override;
    void TearDown() override;

    static AvKeyring& ring() { return AvKeyring::instance(); }

    std::string path(const std::string& name) const { return m_dataFolder + name; }

    // A key pair of another account, held completely by the key ring.
    static std::uint64_t newAccount();
    // Another account of which the key ring only knows the public key.
    static std::uint64_t foreignAccount();
    // Forgets the file keys, so that opening must unwrap them from a share.
    static void forgetFileKeys() { ring().fileKeys.clear(); }

    // Creates a container shared with the owner and then `others` (key id,
    // name), writes `plain` in one call, closes it and returns its bytes.
    std::string makeContainer(const std::string& file, const std::string& plain,
        const std::vector<std::pair<std::uint64_t, std::string>>& others = {});
    // Opens a container, reads everything and returns it (`code` gets the last result).
    static std::string readContents(const std::string& file, std::uint32_t* code = nullptr);

    std::string logText() const;
    void clearLog() const;
    // The lines of the log without their time stamps.
    std::vector<std::string> logLines() const;

    // Deterministic plain text of `size` bytes.
    static std::string pattern(std::size_t size, unsigned seed = 1);

    std::string m_dataFolder;
    std::uint64_t m_ownerKey = 0;
};
