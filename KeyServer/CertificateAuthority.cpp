#include "CertificateAuthority.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace keyserver {

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;
using BigNumPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, decltype(&X509_EXTENSION_free)>;

struct FileCloser
{
    void operator()(FILE* file) const
    {
        if (file)
            std::fclose(file);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

constexpr long kCaDays = 3650;
constexpr long kServerDays = 397;
constexpr long kRenewBeforeDays = 30;

bool isIpAddress(const std::string& host)
{
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// Hosts that mean "every interface" name no certificate subject.
bool isWildcardHost(const std::string& host)
{
    return host.empty() || host == "0.0.0.0" || host == "::" || host == "*";
}

std::string tlsErrorText()
{
    const unsigned long code = ERR_get_error();
    char text[256] = "unknown error";
    if (code != 0)
        ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return text;
}

KeyPtr newKey()
{
    return KeyPtr(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"), &EVP_PKEY_free);
}

KeyPtr readKey(const std::string& path)
{
    FilePtr file(std::fopen(path.c_str(), "r"));
    return KeyPtr(file ? PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr) : nullptr, &EVP_PKEY_free);
}

CertPtr readCertificate(const std::string& path)
{
    FilePtr file(std::fopen(path.c_str(), "r"));
    return CertPtr(file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr, &X509_free);
}

bool fileExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// Writes through `write` into a temporary file of the given mode, then renames it into place.
template <typename WriteFunction>
bool writeFileAtomically(const std::string& path, mode_t mode, WriteFunction write)
{
    const std::string temporary = path + ".tmp";
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    FILE* raw = ::fdopen(fd, "w");
    if (!raw) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    }
    bool ok;
    {
        FilePtr file(raw);
        ok = write(file.get()) && std::fflush(file.get()) == 0 && ::fsync(fd) == 0;
    }
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}

bool writeKey(const std::string& path, EVP_PKEY* key)
{
    return writeFileAtomically(path, 0600,
        [key](FILE* file) { return PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1; });
}

bool writeCertificates(const std::string& path, X509* first, X509* second)
{
    return writeFileAtomically(path, 0644, [first, second](FILE* file) {
        return PEM_write_X509(file, first) == 1 && (!second || PEM_write_X509(file, second) == 1);
    });
}

bool addExtension(X509* certificate, X509* issuer, int nid, const std::string& value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()), &X509_EXTENSION_free);
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

// A certificate with a random 127-bit serial, validity from an hour ago
// (clock skew) for `days`, and a subject of O and CN.
CertPtr newCertificate(EVP_PKEY* key, const std::string& commonName, long days)
{
    CertPtr certificate(X509_new(), &X509_free);
    BigNumPtr serial(BN_new(), &BN_free);
    if (!certificate || !serial || X509_set_version(certificate.get(), 2) != 1
        || BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1
        || !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get()))
        || !X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600)
        || !X509_gmtime_adj(X509_getm_notAfter(certificate.get()), days * 24 * 3600)
        || X509_set_pubkey(certificate.get(), key) != 1)
        return CertPtr(nullptr, &X509_free);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    const auto* organization = reinterpret_cast<const unsigned char*>("Ardentvault");
    const auto* cn = reinterpret_cast<const unsigned char*>(commonName.c_str());
    if (X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, organization, -1, -1, 0) != 1
        || X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, cn, -1, -1, 0) != 1)
        return CertPtr(nullptr, &X509_free);
    return certificate;
}

CertPtr makeCaCertificate(EVP_PKEY* caKey)
{
    CertPtr ca = newCertificate(caKey, "Ardentvault Key Server CA", kCaDays);
    if (!ca || X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get())) != 1
        || !addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0")
        || !addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign")
        || !addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash")
        || !addExtension(ca.get(), ca.get(), NID_authority_key_identifier, "keyid:always")
        || X509_sign(ca.get(), caKey, EVP_sha256()) <= 0)
        return CertPtr(nullptr, &X509_free);
    return ca;
}

std::string subjectAltNames(const std::string& listenHost)
{
    std::string names = "IP:127.0.0.1,DNS:localhost";
    if (isWildcardHost(listenHost) || listenHost == "127.0.0.1" || listenHost == "localhost")
        return names;
    return names + (isIpAddress(listenHost) ? ",IP:" : ",DNS:") + listenHost;
}

CertPtr makeServerCertificate(EVP_PKEY* serverKey, X509* ca, EVP_PKEY* caKey, const std::string& listenHost)
{
    const std::string commonName = isWildcardHost(listenHost) ? std::string("localhost") : listenHost;
    CertPtr server = newCertificate(serverKey, commonName, kServerDays);
    if (!server || X509_set_issuer_name(server.get(), X509_get_subject_name(ca)) != 1
        || !addExtension(server.get(), ca, NID_basic_constraints, "critical,CA:FALSE")
        || !addExtension(server.get(), ca, NID_key_usage, "critical,digitalSignature")
        || !addExtension(server.get(), ca, NID_ext_key_usage, "serverAuth")
        || !addExtension(server.get(), ca, NID_subject_alt_name, subjectAltNames(listenHost))
        || !addExtension(server.get(), ca, NID_subject_key_identifier, "hash")
        || !addExtension(server.get(), ca, NID_authority_key_identifier, "keyid:always")
        || X509_sign(server.get(), caKey, EVP_sha256()) <= 0)
        return CertPtr(nullptr, &X509_free);
    return server;
}

bool coversHost(X509* certificate, const std::string& host)
{
    if (isWildcardHost(host))
        return X509_check_ip_asc(certificate, "127.0.0.1", 0) == 1;
    if (isIpAddress(host))
        return X509_check_ip_asc(certificate, host.c_str(), 0) == 1;
    return X509_check_host(certificate, host.c_str(), host.size(), 0, nullptr) == 1;
}

bool validForAWhile(X509* certificate)
{
    std::time_t renewAt = std::time(nullptr) + kRenewBeforeDays * 24 * 3600;
    return X509_cmp_time(X509_get0_notAfter(certificate), &renewAt) > 0;
}

bool serverCertificateUsable(X509* server, EVP_PKEY* serverKey, EVP_PKEY* caKey, const std::string& host)
{
    return server && serverKey && X509_verify(server, caKey) == 1 && X509_check_private_key(server, serverKey) == 1
        && validForAWhile(server) && coversHost(server, host);
}

} // namespace

CertificateAuthority::CertificateAuthority(std::string folder)
    : m_folder(std::move(folder))
{
}

bool CertificateAuthority::ensureServerCertificate(const std::string& listenHost, std::string& error)
{
    if (::mkdir(m_folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + m_folder;
        return false;
    }

    KeyPtr caKey(nullptr, &EVP_PKEY_free);
    CertPtr ca(nullptr, &X509_free);
    if (fileExists(caCertificatePath()) || fileExists(caKeyPath())) {
        // An existing CA is what clients already trust: never replace it silently.
        caKey = readKey(caKeyPath());
        ca = readCertificate(caCertificatePath());
        if (!caKey || !ca || X509_check_private_key(ca.get(), caKey.get()) != 1) {
            error = "the CA in " + m_folder + " cannot be read; remove ca.pem and ca-key.pem to make a new one";
            return false;
        }
    } else {
        caKey = newKey();
        ca = caKey ? makeCaCertificate(caKey.get()) : CertPtr(nullptr, &X509_free);
        if (!ca || !writeKey(caKeyPath(), caKey.get()) || !writeCertificates(caCertificatePath(), ca.get(), nullptr)) {
            error = "cannot create the CA in " + m_folder + ": " + tlsErrorText();
            return false;
        }
    }

    KeyPtr serverKey = readKey(serverKeyPath());
    CertPtr server = readCertificate(serverCertificatePath());
    if (serverCertificateUsable(server.get(), serverKey.get(), caKey.get(), listenHost))
        return true;
    ERR_clear_error();

    serverKey = newKey();
    server = serverKey ? makeServerCertificate(serverKey.get(), ca.get(), caKey.get(), listenHost)
                       : CertPtr(nullptr, &X509_free);
    if (!server || !writeKey(serverKeyPath(), serverKey.get())
        || !writeCertificates(serverCertificatePath(), server.get(), ca.get())) {
        error = "cannot create the server certificate in " + m_folder + ": " + tlsErrorText();
        return false;
    }
    return true;
}

} // namespace keyserver
