#include "CryptFileTest.h"

#include "crypto/AvCredentials.h"
#include "crypto/SecureString.h"
#include "log/AvLog.h"

#include <fstream>

void CryptFileTest::SetUp()
{
    AvTempHome::SetUp();
    m_dataFolder = dataFolder();
    ring().Reset();
    ring().credentials = std::make_unique<AvCredentials>(OwnerName, SecureString("correct horse"), 0);
    m_ownerKey = ring().CreateKeyPair();
    ring().activeCryptKeyID = m_ownerKey;

    AvLog::setLogPath(m_dataFolder + "Ardentvault.log");
    AvLog::setEnabled(true);
}

void CryptFileTest::TearDown()
{
    ring().Reset();
    AvLog::setEnabled(false);
    AvLog::setLogPath(std::string());
    AvTempHome::TearDown();
}

std::uint64_t CryptFileTest::newAccount()
{
    return ring().CreateKeyPair();
}

std::uint64_t CryptFileTest::foreignAccount()
{
    const std::uint64_t id = ring().CreateKeyPair();
    ring().privateKeys.erase(id);
    return id;
}

std::string CryptFileTest::makeContainer(
    const std::string& file, const std::string& plain, const std::vector<std::pair<std::uint64_t, std::string>>& others)
{
    {
        std::uint32_t code = 0;
        CCryptFile container(file, CCryptFile::Create, 0, code);
        EXPECT_EQ(code, 0u);
        EXPECT_EQ(container.AddShare(m_ownerKey, OwnerName), 0u);
        for (const auto& [keyId, name] : others)
            EXPECT_EQ(container.AddShare(keyId, name), 0u);
        std::size_t written = 0;
        EXPECT_EQ(container.Write(plain.data(), plain.size(), written), 0u);
        EXPECT_EQ(written, plain.size());
    }
    return readWholeFile(file);
}

std::string CryptFileTest::readContents(const std::string& file, std::uint32_t* code)
{
    std::uint32_t result = 0;
    CCryptFile container(file, CCryptFile::ReadOnly, 0, result);
    EXPECT_EQ(result, 0u);
    std::uint64_t size = 0;
    container.GetDataSize(size);
    std::string plain(size + 1, '\0'); // one more, to meet the end of the data
    std::size_t count = 0;
    const std::uint32_t last = container.Read(plain.data(), plain.size(), count);
    plain.resize(count);
    if (code)
        *code = last;
    return plain;
}

std::string CryptFileTest::logText() const
{
    return readWholeFile(m_dataFolder + "Ardentvault.log");
}

std::vector<std::string> CryptFileTest::logLines() const
{
    std::vector<std::string> lines;
    const std::string text = logText();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        // "hh:mm:ss.mmm LEVEL   text": drop the time stamp.
        if (const std::size_t blank = line.find(' '); blank != std::string::npos)
            line.erase(0, blank + 1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::string withPath(std::string line, const std::string& path)
{
    for (std::size_t at = line.find("%s"); at != std::string::npos; at = line.find("%s", at + path.size()))
        line.replace(at, 2, path);
    return line;
}

void CryptFileTest::clearLog() const
{
    std::ofstream(m_dataFolder + "Ardentvault.log", std::ios::trunc);
}

std::string CryptFileTest::pattern(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 12345u;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = char(state >> 16);
    }
    return bytes;
}

std::uint64_t read64(const std::string& bytes, std::size_t offset)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(offset + i));
    return value;
}

std::uint16_t read16(const std::string& bytes, std::size_t offset)
{
    return std::uint16_t(
        static_cast<unsigned char>(bytes.at(offset)) | (static_cast<unsigned char>(bytes.at(offset + 1)) << 8));
}

void put64(std::string& bytes, std::size_t offset, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        bytes.at(offset + i) = char(value >> (8 * i));
}
