#include "TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace {

struct Deleter
{
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(X509* certificate) const { X509_free(certificate); }
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter>;
using Certificate = std::unique_ptr<X509, Deleter>;
using File = std::unique_ptr<std::FILE, Deleter>;

Key newKey()
{
    return Key(EVP_EC_gen("P-256"));
}

bool addExtension(X509* certificate, X509* issuer, int nid, const std::string& value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (!extension)
        return false;
    const bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

Certificate newCertificate(EVP_PKEY* key, const std::string& commonName, long fromDays, long toDays, long serial)
{
    Certificate certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), fromDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), toDays * 86400);
    X509_set_pubkey(certificate.get(), key);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    return certificate;
}

bool writeKey(const std::string& path, EVP_PKEY* key)
{
    File file(std::fopen(path.c_str(), "w"));
    return file && PEM_write_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
}

bool writeCertificates(const std::string& path, std::initializer_list<X509*> certificates)
{
    File file(std::fopen(path.c_str(), "w"));
    if (!file)
        return false;
    for (X509* certificate : certificates) {
        if (PEM_write_X509(file.get(), certificate) != 1)
            return false;
    }
    return true;
}

Certificate readCertificate(const std::string& path)
{
    File file(std::fopen(path.c_str(), "r"));
    return Certificate(file ? PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr);
}

Key readKey(const std::string& path)
{
    File file(std::fopen(path.c_str(), "r"));
    return Key(file ? PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr) : nullptr);
}

} // namespace

TestCertificates::TestCertificates(std::string folder)
    : m_folder(std::move(folder))
    , m_caFile(m_folder + "/test-ca.pem")
    , m_caKeyFile(m_folder + "/test-ca-key.pem")
{
    const Key key = newKey();
    if (!key)
        return;
    const Certificate ca = newCertificate(key.get(), "Test CA", -1, 365, 1);
    X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
    m_valid = addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE")
        && addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign")
        && addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash")
        && X509_sign(ca.get(), key.get(), EVP_sha256()) > 0 && writeKey(m_caKeyFile, key.get())
        && writeCertificates(m_caFile, { ca.get() });
}

TestCertificates::Server TestCertificates::issue(
    const std::string& name, const std::vector<std::string>& altNames, long fromDays, long toDays) const
{
    static long serial = 100;
    const Certificate ca = readCertificate(m_caFile);
    const Key caKey = readKey(m_caKeyFile);
    const Key key = newKey();
    if (!m_valid || !ca || !caKey || !key)
        return {};
    const Certificate certificate = newCertificate(key.get(), name, fromDays, toDays, ++serial);
    X509_set_issuer_name(certificate.get(), X509_get_subject_name(ca.get()));
    std::string alt;
    for (const std::string& entry : altNames)
        alt += (alt.empty() ? "" : ",") + entry;
    const Server files{ m_folder + "/" + name + ".pem", m_folder + "/" + name + "-key.pem" };
    const bool ok = addExtension(certificate.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE")
        && addExtension(certificate.get(), ca.get(), NID_ext_key_usage, "serverAuth")
        && addExtension(certificate.get(), ca.get(), NID_authority_key_identifier, "keyid")
        && (alt.empty() || addExtension(certificate.get(), ca.get(), NID_subject_alt_name, alt))
        && X509_sign(certificate.get(), caKey.get(), EVP_sha256()) > 0 && writeKey(files.keyFile, key.get())
        && writeCertificates(files.certificateFile, { certificate.get(), ca.get() });
    return ok ? files : Server{};
}
