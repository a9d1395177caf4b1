// The generated CA and server certificate: what they say, that they verify,
// that they are reused, and renewed or refused when they do not fit.

#include "CertificateAuthority.h"

#include "AvTempHome.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <sys/stat.h>

using namespace keyserver;

namespace {

using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

CertPtr readCertificate(const std::string& path)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "r"), &std::fclose);
    return CertPtr(file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr, &X509_free);
}

// Verifies the server certificate for TLS server use against the CA alone.
bool verifiesAgainst(X509* server, X509* ca)
{
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(), &X509_STORE_free);
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(X509_STORE_CTX_new(), &X509_STORE_CTX_free);
    X509_STORE_add_cert(store.get(), ca);
    X509_STORE_CTX_init(context.get(), store.get(), server, nullptr);
    X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
    return X509_verify_cert(context.get()) == 1;
}

mode_t modeOf(const std::string& path)
{
    struct stat info
    {
    };
    ::stat(path.c_str(), &info);
    return info.st_mode & 0777;
}

class CertificateAuthorityTest : public AvTempHome
{
protected:
    std::string folder() const { return home() + "/tls"; }
};

TEST_F(CertificateAuthorityTest, FirstStartCreatesACaAndAServerCertificateForLoopback)
{
    CertificateAuthority authority(folder());
    std::string error;
    ASSERT_TRUE(authority.ensureServerCertificate("127.0.0.1", error)) << error;

    CertPtr ca = readCertificate(authority.caCertificatePath());
    CertPtr server = readCertificate(authority.serverCertificatePath());
    ASSERT_TRUE(ca && server);
    EXPECT_EQ(X509_check_ca(ca.get()), 1);
    EXPECT_EQ(X509_check_ca(server.get()), 0);
    EXPECT_TRUE(verifiesAgainst(server.get(), ca.get()));
    EXPECT_EQ(X509_check_ip_asc(server.get(), "127.0.0.1", 0), 1);
    EXPECT_EQ(X509_check_host(server.get(), "localhost", 0, 0, nullptr), 1);
    EXPECT_NE(X509_check_host(server.get(), "example.org", 0, 0, nullptr), 1);
    EXPECT_EQ(modeOf(authority.caKeyPath()), 0600u);
    EXPECT_EQ(modeOf(authority.serverKeyPath()), 0600u);
    EXPECT_EQ(modeOf(folder()), 0700u);
}

TEST_F(CertificateAuthorityTest, LaterStartsReuseTheFiles)
{
    std::string error;
    ASSERT_TRUE(CertificateAuthority(folder()).ensureServerCertificate("127.0.0.1", error)) << error;
    const std::string ca = readWholeFile(folder() + "/ca.pem");
    const std::string server = readWholeFile(folder() + "/server.pem");
    ASSERT_TRUE(CertificateAuthority(folder()).ensureServerCertificate("localhost", error)) << error;
    EXPECT_EQ(readWholeFile(folder() + "/ca.pem"), ca);
    EXPECT_EQ(readWholeFile(folder() + "/server.pem"), server);
}

TEST_F(CertificateAuthorityTest, AnotherListenHostGetsANewServerCertificateFromTheSameCa)
{
    std::string error;
    CertificateAuthority authority(folder());
    ASSERT_TRUE(authority.ensureServerCertificate("127.0.0.1", error)) << error;
    const std::string ca = readWholeFile(authority.caCertificatePath());
    ASSERT_TRUE(authority.ensureServerCertificate("192.0.2.10", error)) << error;
    EXPECT_EQ(readWholeFile(authority.caCertificatePath()), ca);
    CertPtr server = readCertificate(authority.serverCertificatePath());
    ASSERT_TRUE(server);
    EXPECT_EQ(X509_check_ip_asc(server.get(), "192.0.2.10", 0), 1);
    EXPECT_EQ(X509_check_ip_asc(server.get(), "127.0.0.1", 0), 1);
    EXPECT_TRUE(verifiesAgainst(server.get(), readCertificate(authority.caCertificatePath()).get()));
}

TEST_F(CertificateAuthorityTest, ServerCertificateOfAnotherCaIsReplaced)
{
    std::string error;
    ASSERT_TRUE(CertificateAuthority(home() + "/other").ensureServerCertificate("127.0.0.1", error)) << error;
    CertificateAuthority authority(folder());
    ASSERT_TRUE(authority.ensureServerCertificate("127.0.0.1", error)) << error;
    ASSERT_TRUE(writeWholeFile(authority.serverCertificatePath(), readWholeFile(home() + "/other/server.pem")));
    ASSERT_TRUE(writeWholeFile(authority.serverKeyPath(), readWholeFile(home() + "/other/server-key.pem")));

    ASSERT_TRUE(authority.ensureServerCertificate("127.0.0.1", error)) << error;
    EXPECT_TRUE(verifiesAgainst(readCertificate(authority.serverCertificatePath()).get(),
        readCertificate(authority.caCertificatePath()).get()));
}

TEST_F(CertificateAuthorityTest, UnreadableCaIsReportedAndLeftAlone)
{
    std::string error;
    CertificateAuthority authority(folder());
    ASSERT_TRUE(authority.ensureServerCertificate("127.0.0.1", error)) << error;
    ASSERT_TRUE(writeWholeFile(authority.caKeyPath(), "not a key"));
    EXPECT_FALSE(authority.ensureServerCertificate("127.0.0.1", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readWholeFile(authority.caKeyPath()), "not a key");
}

} // namespace
