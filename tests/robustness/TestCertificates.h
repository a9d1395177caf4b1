#pragma once

// Certificates for TLS tests, made with OpenSSL in a folder of the test: one
// CA and server certificates signed by it whose names and validity the test
// chooses (an expired one, one for another host name ...). Keys are EC P-256.

#include <string>
#include <vector>

class TestCertificates
{
public:
    struct Server
    {
        std::string certificateFile; // PEM: the certificate, then the CA
        std::string keyFile; // PEM
    };

    // Creates the CA in `folder` (which must exist).
    explicit TestCertificates(std::string folder);

    bool isValid() const { return m_valid; }
    const std::string& caFile() const { return m_caFile; }

    // A server certificate for the given subjectAltName entries (such as
    // "IP:127.0.0.1", "DNS:localhost"), valid from `fromDays` to `toDays`
    // days from now (negative: in the past). Empty files on failure.
    Server issue(const std::string& name, const std::vector<std::string>& altNames, long fromDays, long toDays) const;

private:
    std::string m_folder;
    std::string m_caFile;
    std::string m_caKeyFile;
    bool m_valid = false;
};
