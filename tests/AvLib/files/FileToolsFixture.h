#pragma once

// Shared set-up for the file tool tests: a temporary HOME with its data
// folder, a signed-in local account, a work folder for plain files and
// containers, and helpers to build files, look for leftover staging files and
// run an operation in a child process under a file-size limit (so that writes
// fail part-way, as on a full disk).

#include "AvTempHome.h"

#include "crypto/SecureString.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class FileToolsTest : public AvTempHome
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates a local account and leaves it signed in; returns its id.
    static std::string createAccount(const char* password);
    static void signIn(const std::string& user, const char* password);
    // The signed-in account's public key as (key id, raw bytes).
    static std::pair<std::uint64_t, std::string> ownPublicKey();

    std::string workPath(const std::string& name) const { return m_work + "/" + name; }
    static std::string randomBytes(std::size_t size);
    // Names in the work folder (recursively) that look like staging files.
    std::vector<std::string> stagingLeftovers() const;

    // Whether the file holds exactly `bytes`; on a mismatch the message names
    // the sizes and the first differing offset instead of dumping binary data.
    static ::testing::AssertionResult fileHolds(const std::string& path, const std::string& bytes);

    // Size of a container holding `plainSize` bytes with its owner share only.
    static std::uint64_t containerSize(std::uint64_t plainSize);

    // Runs `operation` in a child whose files may not grow beyond
    // `maxFileSize` bytes; returns the operation's result code.
    static std::uint32_t runWithFileSizeLimit(
        std::uint64_t maxFileSize, const std::function<std::uint32_t()>& operation);

    std::string m_work;
    std::string m_user;
    static constexpr const char* kPassword = "correct horse";
};
