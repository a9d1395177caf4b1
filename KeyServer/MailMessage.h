#pragma once

// One mail in RFC 5322 form: Date, From, To, Subject, Message-ID and MIME
// headers, an empty line, then the body as UTF-8 text, every line ended by
// CRLF. Addresses and the subject must be free of line breaks (the server
// only mails checked addresses and fixed subjects); the body's own line
// breaks are normalized to CRLF.

#include <chrono>
#include <string>

namespace keyserver {

class MailMessage
{
public:
    MailMessage(std::string from, std::string to, std::string subject, std::string body,
        std::chrono::system_clock::time_point date);

    const std::string& from() const { return m_from; }
    const std::string& to() const { return m_to; }
    const std::string& messageId() const { return m_messageId; }

    std::string toRfc5322() const;

    // "Fri, 11 Dec 2026 09:05:00 +0000": English names whatever the locale.
    static std::string formatDate(std::chrono::system_clock::time_point date);

private:
    std::string m_from;
    std::string m_to;
    std::string m_subject;
    std::string m_body;
    std::chrono::system_clock::time_point m_date;
    std::string m_messageId;
};

} // namespace keyserver
