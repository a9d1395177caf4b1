#pragma once

// The key server's command line:
//   ardentvault-keyserver --listen HOST:PORT --data-dir DIR
//                         [--cert FILE --key FILE] [--smtp-url URL] [--mail-from ADDRESS]
// Options take their value as the next argument or after "=". An IPv6 host
// is written in brackets ("[::1]:8443"); port 0 picks any free port.

#include <string>
#include <vector>

namespace keyserver {

struct ServerOptions
{
    std::string listenHost;
    int listenPort = 0;
    std::string dataDir;
    std::string certificateFile;
    std::string keyFile;
    std::string smtpUrl;
    std::string mailFrom = "keyserver@localhost.localdomain";
    bool showHelp = false;

    // False with a reason in `error` for a missing, unknown or malformed option.
    static bool parse(const std::vector<std::string>& arguments, ServerOptions& options, std::string& error);
    static std::string usage();
};

} // namespace keyserver
