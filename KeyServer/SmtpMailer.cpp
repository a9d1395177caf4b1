#include "SmtpMailer.h"

#include "MailMessage.h"
#include "ServerLog.h"

#include <curl/curl.h>

#include <cstring>
#include <memory>

namespace keyserver {

namespace {

struct UploadSource
{
    const std::string& text;
    std::size_t offset = 0;
};

std::size_t readUpload(char* buffer, std::size_t size, std::size_t count, void* userData)
{
    auto* source = static_cast<UploadSource*>(userData);
    const std::size_t room = size * count;
    const std::size_t left = source->text.size() - source->offset;
    const std::size_t n = left < room ? left : room;
    std::memcpy(buffer, source->text.data() + source->offset, n);
    source->offset += n;
    return n;
}

using CurlHandle = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using CurlList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

} // namespace

SmtpMailer::SmtpMailer(std::string url, std::string fromAddress, ServerLog* log)
    : m_url(std::move(url))
    , m_from(std::move(fromAddress))
    , m_log(log)
{
}

std::string SmtpMailer::withoutCredentials(const std::string& url)
{
    const auto scheme = url.find("://");
    const auto hostStart = scheme == std::string::npos ? 0 : scheme + 3;
    const auto at = url.find('@', hostStart);
    const auto slash = url.find('/', hostStart);
    if (at == std::string::npos || (slash != std::string::npos && at > slash))
        return url;
    return url.substr(0, hostStart) + url.substr(at + 1);
}

bool SmtpMailer::send(const std::string& to, const std::string& subject, const std::string& body)
{
    const MailMessage message(m_from, to, subject, body, std::chrono::system_clock::now());
    const std::string text = message.toRfc5322();
    UploadSource source{ text };

    CurlHandle curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
        return false;
    const std::string sender = "<" + m_from + ">";
    CurlList recipients(curl_slist_append(nullptr, ("<" + to + ">").c_str()), &curl_slist_free_all);
    char errorText[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(curl.get(), CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(curl.get(), CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
    curl_easy_setopt(curl.get(), CURLOPT_MAIL_FROM, sender.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(curl.get(), CURLOPT_READFUNCTION, &readUpload);
    curl_easy_setopt(curl.get(), CURLOPT_READDATA, &source);
    curl_easy_setopt(curl.get(), CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, 30L);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, errorText);

    const CURLcode result = curl_easy_perform(curl.get());
    if (m_log) {
        const std::string server = withoutCredentials(m_url);
        if (result == CURLE_OK)
            m_log->write("mail to " + to + " sent through " + server);
        else
            m_log->write("mail to " + to + " not sent through " + server + ": "
                + (errorText[0] ? errorText : curl_easy_strerror(result)));
    }
    return result == CURLE_OK;
}

} // namespace keyserver
