#pragma once

// Shared set-up for the key ring tests: a temporary HOME with its data folder,
// the process-wide key ring reset before and after every test, no key server
// connector, offline mode off and the log written to the temporary data folder
// so tests can look for the lines they expect.

#include "AvTempHome.h"

#include "crypto/AvCredentials.h"
#include "keyring/AvKeyring.h"

#include <cstdint>
#include <string>
#include <vector>

class KeyringTest : public AvTempHome
{
protected:
    void SetUp() override;
    void TearDown() override;

    static AvKeyring& ring() { return AvKeyring::instance(); }

    // Installs credentials for `name` and `password` in the key ring.
    static void useCredentials(const std::string& name, const char* password);
    static AvCredentials makeCredentials(const std::string& name, const char* password);

    static std::string keyRingPath(const std::string& name);
    std::string publicCachePath() const;
    std::string logText() const;

    struct KeyRow
    {
        std::uint64_t keyId = 0;
        std::string key;
        int active = 0;
    };
    static std::vector<KeyRow> readKeyRows(const std::string& name);
    static std::vector<std::string> readPartialPasswords(const std::string& name);
    // Info rows as (Key, decoded Value).
    static std::vector<std::pair<std::string, std::string>> readInfoRows(const std::string& name);

    // Opens a sealed key with the given credentials; true when the tag matched.
    static bool opensWith(std::uint64_t keyId, const std::string& sealedKey, const AvCredentials& credentials);

    // A fresh public key in its 132-byte raw form.
    static std::string newRawPublicKey();

    std::string m_dataFolder;
    int m_savedLogLevel = 0;
};
