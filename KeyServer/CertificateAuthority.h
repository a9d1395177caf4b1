#pragma once

// The key server's own small certificate authority, for installations that
// bring no certificate: on first start it creates a CA (EC P-256, ten years)
// and a server certificate signed by it for 127.0.0.1, localhost and the
// listen host. Later starts reuse both and issue a new server certificate
// only when the old one nears its end, does not cover the listen host or was
// not signed by this CA. Clients trust the CA file (ca.pem). Private keys
// are written readable by the owner only; every file appears whole (written
// under a temporary name, then renamed).

#include <string>

namespace keyserver {

class CertificateAuthority
{
public:
    explicit CertificateAuthority(std::string folder);

    // Makes sure the folder holds a usable CA and server certificate; false with a reason.
    bool ensureServerCertificate(const std::string& listenHost, std::string& error);

    std::string caCertificatePath() const { return m_folder + "/ca.pem"; }
    std::string caKeyPath() const { return m_folder + "/ca-key.pem"; }
    // The server certificate followed by the CA certificate.
    std::string serverCertificatePath() const { return m_folder + "/server.pem"; }
    std::string serverKeyPath() const { return m_folder + "/server-key.pem"; }

private:
    std::string m_folder;
};

} // namespace keyserver
