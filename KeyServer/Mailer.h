#pragma once

// Delivery of one plain-text mail to one recipient. OutboxMailer writes each
// mail as a file, SmtpMailer hands it to a mail server; tests record mails.
// The sender address belongs to the mailer. Implementations are thread-safe.

#include <string>

namespace keyserver {

class Mailer
{
public:
    virtual ~Mailer() = default;
    // True when the mail was handed on (written, or accepted by the mail server).
    virtual bool send(const std::string& to, const std::string& subject, const std::string& body) = 0;
};

} // namespace keyserver
