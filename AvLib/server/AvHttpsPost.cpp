#include "server/AvHttpsPost.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>
#include <mutex>
#include <utility>

namespace {

struct CurlEasyDeleter
{
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlListDeleter
{
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, CurlListDeleter>;

// libcurl's global set-up is not safe to race; do it once for the process.
bool curlReady()
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] { ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ready;
}

struct AnswerSink
{
    std::string body;
    bool overflow = false;
};

size_t collectAnswer(char* data, size_t size, size_t count, void* userData)
{
    auto* sink = static_cast<AnswerSink*>(userData);
    const size_t bytes = size * count;
    if (sink->body.size() + bytes > AvHttpsPost::kMaxAnswerBytes) {
        sink->overflow = true;
        return 0; // makes libcurl stop with CURLE_WRITE_ERROR
    }
    sink->body.append(data, bytes);
    return bytes;
}

// Adds the extra CA to the store libcurl set up from the system's authorities,
// so a self-hosted server is trusted without distrusting the public ones.
CURLcode addExtraAuthority(CURL*, void* sslContext, void* userData)
{
    const auto* caFile = static_cast<const std::string*>(userData);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslContext));
    if (!store || X509_STORE_load_file(store, caFile->c_str()) != 1)
        return CURLE_SSL_CACERT_BADFILE;
    return CURLE_OK;
}

// The failures that mean the network could not carry the exchange: the
// caller reports them like an unreachable server.
bool isNetworkFailure(CURLcode code)
{
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_QUIC_CONNECT_ERROR:
        return true;
    default:
        return false;
    }
}

} // namespace

AvHttpsPost::AvHttpsPost(std::string url, std::string extraCaFile, std::chrono::seconds timeout)
    : m_url(std::move(url))
    , m_extraCaFile(std::move(extraCaFile))
    , m_timeout(timeout)
{
}

AvHttpsPost::Result AvHttpsPost::post(std::string_view body) const
{
    Result result;
    if (!curlReady()) {
        result.detail = "curl_global_init failed";
        return result;
    }
    CurlEasy handle(curl_easy_init());
    if (!handle) {
        result.detail = "curl_easy_init failed";
        return result;
    }

    CurlList headers;
    for (const char* line : { "Content-Type: application/octet-stream", "Content-Transfer-Encoding: binary",
             // No "Expect: 100-continue" round trip for larger bodies.
             "Expect:" }) {
        curl_slist* extended = curl_slist_append(headers.get(), line);
        if (!extended) {
            result.detail = "curl_slist_append failed";
            return result;
        }
        headers.release();
        headers.reset(extended);
    }

    AnswerSink sink;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    CURL* curl = handle.get();
    CURLcode setup = CURLE_OK;
    auto set = [&setup](CURLcode code) {
        if (setup == CURLE_OK)
            setup = code;
    };
    set(curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer));
    set(curl_easy_setopt(curl, CURLOPT_URL, m_url.c_str()));
    set(curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "https"));
    set(curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L));
    set(curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(m_timeout.count())));
    set(curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2)));
    set(curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L));
    set(curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L));
    set(curl_easy_setopt(curl, CURLOPT_POST, 1L));
    set(curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data()));
    set(curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())));
    set(curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get()));
    set(curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectAnswer));
    set(curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink));
    if (!m_extraCaFile.empty()) {
        set(curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, addExtraAuthority));
        set(curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &m_extraCaFile));
    }
    if (setup != CURLE_OK) {
        // Never send with a weaker set-up than the one asked for.
        result.detail = curl_easy_strerror(setup);
        return result;
    }

    const CURLcode code = curl_easy_perform(curl);
    if (code != CURLE_OK) {
        result.outcome = isNetworkFailure(code) ? Outcome::NetworkFailure : Outcome::OtherFailure;
        result.detail = errorBuffer[0] ? std::string(errorBuffer) : std::string(curl_easy_strerror(code));
        if (sink.overflow)
            result.detail = "answer too large";
        return result;
    }
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.httpStatus);
    result.outcome = Outcome::Answered;
    result.body = std::move(sink.body);
    return result;
}
