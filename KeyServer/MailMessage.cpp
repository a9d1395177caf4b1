#include "MailMessage.h"

#include <openssl/rand.h>

#include <cstdio>
#include <ctime>

namespace keyserver {

namespace {

std::string randomHex(std::size_t bytes)
{
    std::string raw(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(bytes)) != 1)
        raw.assign(bytes, '\0');
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : raw) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0f];
    }
    return hex;
}

std::string domainOf(const std::string& address)
{
    const auto at = address.rfind('@');
    return at == std::string::npos || at + 1 == address.size() ? std::string("localhost") : address.substr(at + 1);
}

std::string withCrlf(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r')
            continue;
        if (text[i] == '\n')
            out += "\r\n";
        else
            out += text[i];
    }
    if (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0)
        out += "\r\n";
    return out;
}

} // namespace

MailMessage::MailMessage(
    std::string from, std::string to, std::string subject, std::string body, std::chrono::system_clock::time_point date)
    : m_from(std::move(from))
    , m_to(std::move(to))
    , m_subject(std::move(subject))
    , m_body(std::move(body))
    , m_date(date)
    , m_messageId("<" + randomHex(16) + "@" + domainOf(m_from) + ">")
{
}

std::string MailMessage::formatDate(std::chrono::system_clock::time_point date)
{
    static const char* const days[] = { "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat" };
    static const char* const months[] = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov",
        "Dec" };
    const std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", days[utc.tm_wday], utc.tm_mday,
        months[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

std::string MailMessage::toRfc5322() const
{
    std::string text;
    text += "Date: " + formatDate(m_date) + "\r\n";
    text += "From: <" + m_from + ">\r\n";
    text += "To: <" + m_to + ">\r\n";
    text += "Subject: " + m_subject + "\r\n";
    text += "Message-ID: " + m_messageId + "\r\n";
    text += "MIME-Version: 1.0\r\n";
    text += "Content-Type: text/plain; charset=UTF-8\r\n";
    text += "Content-Transfer-Encoding: 8bit\r\n";
    text += "\r\n";
    text += withCrlf(m_body);
    return text;
}

} // namespace keyserver
