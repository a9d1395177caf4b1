#include "FuzzEnvironment.h"

#include "crypto/AvCredentials.h"
#include "crypto/AvEncrypt.h"
#include "crypto/AvKeyPrivate.h"
#include "crypto/SecureString.h"
#include "keyring/AvKeyring.h"
#include "log/AvLog.h"
#include "settings/AvGlobalLibSettings.h"
#include "util/AvBase64.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

// PKCS #8 form of the test account's RSA-1024 key. Seed containers are shared
// with it; a new key would leave every seed without an openable share.
constexpr const char* kTestKeyBase64 =
    "MIICdAIBADANBgkqhkiG9w0BAQEFAASCAl4wggJaAgEAAoGBAOjue3wyKtkrPx2DwzTJ5G/rUsA/"
    "nuZ4DnX4s0jqUj3CLQiQM9GrsinYVydCScFADIPOkqOtvN8mIXwm+eBD3LyG6rmFoohh9ZrsS07Z4ui9av7LP7ZHjroy6l6Q7cZ7HrqQByDq+"
    "VQOvxB47rS7GvPioKNseEW8Xew+zujT2FD5AgERAoGADbOs6TAgo1zlmFMLe5Nnylki/D/"
    "6ScrTrJYoqe+qfBp7Hp8SG2Rz5FgFIG1PofS1cSpE3HOhssYB+D6HK09JOCdxUNhgie+6IuP0s5P922a5pSux7ghrFgcCpWWULu3TK/"
    "6S0mvDPMAT8RFWfOcGfcgnY/"
    "Vez31oGMAX6eTpFUECQQD1S4mLEohu+"
    "RXoYbhTYaaN6ABerxZVXvhLbZOrsncRqdw7oBt1idNRi2wsYQgyiaA7MzCMXmc79Rfswaa8sCV9AkEA8xjRnCbXB6Az4KmpsqWwXS8Ghb/RYxNLcE/"
    "PJmQxnm7ybKcMTXh3++CiJc9hMSL5XM/"
    "PlM4XLH8vkHa5463CLQJASCVGklC+tzoznrNUVMJeKby00I3ZZGc5+BErbrwE5xPXXNS8yDeYgWU97u9cw5Hj1S0sZYUta/zKzSnlvwahnQJBAI7/"
    "ilvanJsS8Vb6Y9J/lOuFEuVDqFhls+e2edpZDiD1+AOtjsQovwyiQUNq7eCrKUWnaww8/"
    "pKlKwmvQCuTYykCQEKw4TQYbA+qowadL09Wnn600p7AqyIVq+gRxkCf9qYik8Cih1QCaz3YAKYUZkQjUp05n5MV6DAJUsVlgDD3kHg=";

} // namespace

FuzzEnvironment& FuzzEnvironment::instance()
{
    static FuzzEnvironment environment;
    return environment;
}

FuzzEnvironment::FuzzEnvironment()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "avfuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    m_folder = pattern + "/";
    std::filesystem::create_directories(m_folder + "Documents/Ardentvault");
    ::setenv("HOME", pattern.c_str(), 1);

    AvGlobalLibSettings::instance().offlineMode = false;
    AvLog::setLogPath("/dev/null");
    AvLog::setEnabled(true);
    resetKeyring();
}

FuzzEnvironment::~FuzzEnvironment()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

std::string FuzzEnvironment::writeFile(const std::string& name, FuzzInput bytes) const
{
    const std::string path = m_folder + name;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(file.good());
    return path;
}

std::string FuzzEnvironment::readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

AvKeyring& FuzzEnvironment::ring()
{
    return AvKeyring::instance();
}

void FuzzEnvironment::addOtherAccount()
{
    static const AvKeyPublic other = [] {
        CryptoPP::RSA::PrivateKey privateKey;
        CryptoPP::RSA::PublicKey publicKey;
        GenerateKeyPair(privateKey, publicKey);
        return AvKeyPublic(kOtherKeyId, publicKey, kOtherUser);
    }();
    ring().publicKeys.emplace(kOtherKeyId, other);
}

void FuzzEnvironment::resetKeyring() const
{
    // Deriving credentials costs a PBKDF2 run: do it once and copy.
    static const AvCredentials credentials(kTestUser, SecureString(kTestPassword), 0);
    static AvKeyPublic publicHalf;
    static const AvKeyPrivate testKey = [] {
        const std::string raw = base64Decode(kTestKeyBase64);
        AvKeyPrivate key;
        key.keyId = kTestKeyId;
        FUZZ_CHECK(key.fromRaw(
            reinterpret_cast<const std::uint8_t*>(raw.data()), static_cast<std::uint32_t>(raw.size()), publicHalf));
        publicHalf.userName = kTestUser;
        return key;
    }();

    AvKeyring& keyring = ring();
    keyring.Reset();
    keyring.credentials = std::make_unique<AvCredentials>(credentials);
    keyring.privateKeys.emplace(kTestKeyId, testKey);
    keyring.publicKeys.emplace(kTestKeyId, publicHalf);
    keyring.activeCryptKeyID = kTestKeyId;
    keyring.unlocked = true;
}
