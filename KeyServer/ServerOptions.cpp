#include "ServerOptions.h"

#include "RequestFields.h"

#include <charconv>

namespace keyserver {

namespace {

bool splitHostPort(const std::string& text, std::string& host, int& port)
{
    std::string portText;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon)
            return false;
        host = text.substr(0, colon);
        portText = text.substr(colon + 1);
    }
    int value = -1;
    const auto [end, status] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (host.empty() || portText.empty() || status != std::errc() || end != portText.data() + portText.size()
        || value < 0 || value > 65535)
        return false;
    port = value;
    return true;
}

} // namespace

std::string ServerOptions::usage()
{
    return "usage: ardentvault-keyserver --listen HOST:PORT --data-dir DIR\n"
           "                             [--cert FILE --key FILE] [--smtp-url URL] [--mail-from ADDRESS]\n"
           "\n"
           "  --listen HOST:PORT   address to serve HTTPS on, e.g. 127.0.0.1:8443 or [::1]:8443 (port 0: any free "
           "port)\n"
           "  --data-dir DIR       database, tls/ (generated CA and certificate) and outbox/ (mails)\n"
           "  --cert FILE          PEM server certificate (with its chain); needs --key\n"
           "  --key FILE           PEM private key of --cert\n"
           "  --smtp-url URL       send mails through this SMTP server instead of writing them to outbox/\n"
           "  --mail-from ADDRESS  sender address of the mails\n";
}

bool ServerOptions::parse(const std::vector<std::string>& arguments, ServerOptions& options, std::string& error)
{
    bool haveListen = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string value;
        bool hasValue = false;
        if (const auto equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            options.showHelp = true;
            return true;
        }
        const bool known = name == "--listen" || name == "--data-dir" || name == "--cert" || name == "--key"
            || name == "--smtp-url" || name == "--mail-from";
        if (!known) {
            error = "unknown option " + name;
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                error = name + " needs a value";
                return false;
            }
            value = arguments[++i];
        }
        if (name == "--listen") {
            if (!splitHostPort(value, options.listenHost, options.listenPort)) {
                error = "--listen wants HOST:PORT, not " + value;
                return false;
            }
            haveListen = true;
        } else if (name == "--data-dir") {
            options.dataDir = value;
        } else if (name == "--cert") {
            options.certificateFile = value;
        } else if (name == "--key") {
            options.keyFile = value;
        } else if (name == "--smtp-url") {
            options.smtpUrl = value;
        } else {
            options.mailFrom = value;
        }
    }
    if (!haveListen || options.dataDir.empty()) {
        error = "--listen and --data-dir are required";
        return false;
    }
    if (options.certificateFile.empty() != options.keyFile.empty()) {
        error = "--cert and --key go together";
        return false;
    }
    if (!RequestFields::isValidEmail(options.mailFrom)) {
        error = "--mail-from wants a plain address such as keys@example.org";
        return false;
    }
    return true;
}

} // namespace keyserver
