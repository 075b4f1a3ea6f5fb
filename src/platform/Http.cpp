#include "platform/Http.h"

#include <curl/curl.h>

#include <cstdlib>
#include <mutex>

#include "support/Error.h"

namespace dorvex {
namespace {

long EnvSeconds(const char* name, long fallback) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return fallback;
    char* end = nullptr;
    long seconds = std::strtol(value, &end, 10);
    return (end != nullptr && *end == '\0' && seconds > 0) ? seconds : fallback;
}

std::mutex gLimitsMutex;
HttpLimits& Limits() {
    static HttpLimits limits{EnvSeconds("DORVEX_CONNECT_TIMEOUT", 15), EnvSeconds("DORVEX_STALL_TIMEOUT", 60),
                             EnvSeconds("DORVEX_REQUEST_TIMEOUT", 600)};
    return limits;
}

// The process-wide cookie jar: a curl share handle guarded by one mutex per data kind.
struct Jar {
    CURLSH* share = nullptr;
    std::mutex locks[CURL_LOCK_DATA_LAST];

    Jar() {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        share = curl_share_init();
        curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        curl_share_setopt(share, CURLSHOPT_LOCKFUNC, &Lock);
        curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, &Unlock);
        curl_share_setopt(share, CURLSHOPT_USERDATA, this);
    }
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<Jar*>(self)->locks[data].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* self) { static_cast<Jar*>(self)->locks[data].unlock(); }
};

Jar& TheJar() {
    static Jar jar;
    return jar;
}

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

CurlPtr NewHandle() {
    CurlPtr curl(curl_easy_init());
    if (!curl) throw DorvexError(err::DeviceIo, "cannot create an HTTP client");
    return curl;
}

struct Transfer {
    const std::function<bool(std::string_view)>* sink = nullptr;
    std::string* body = nullptr;
    const std::function<void()>* yield = nullptr;
    std::size_t maxBody = 0;
    bool tooLarge = false;
};

size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    std::string_view chunk(data, size * count);
    if (transfer->sink != nullptr) return (*transfer->sink)(chunk) ? chunk.size() : 0;
    if (transfer->body->size() + chunk.size() > transfer->maxBody) {
        transfer->tooLarge = true;
        return 0;  // aborts the transfer
    }
    transfer->body->append(chunk);
    return chunk.size();
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(user);
    if (transfer->yield != nullptr && *transfer->yield) (*transfer->yield)();
    return 0;
}

std::string HostOf(const std::string& url) {
    std::string host;
    CURLU* parsed = curl_url();
    if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), CURLU_GUESS_SCHEME) == CURLUE_OK) {
        char* part = nullptr;
        if (curl_url_get(parsed, CURLUPART_HOST, &part, 0) == CURLUE_OK) {
            host = part;
            curl_free(part);
        }
    }
    curl_url_cleanup(parsed);
    return host;
}

}  // namespace

HttpLimits GetHttpLimits() {
    std::lock_guard<std::mutex> guard(gLimitsMutex);
    return Limits();
}

void SetHttpLimits(const HttpLimits& limits) {
    std::lock_guard<std::mutex> guard(gLimitsMutex);
    Limits() = limits;
}

// One easy handle per session, so that its connection is reused. It is never reset (libcurl
// would leak its cookie-file list); each request sets every option it depends on.
struct HttpSession::Impl {
    CurlPtr curl = NewHandle();
    Impl() {
        curl_easy_setopt(curl.get(), CURLOPT_SHARE, TheJar().share);
        curl_easy_setopt(curl.get(), CURLOPT_COOKIEFILE, "");  // cookie engine on, jar in memory
    }
};

HttpSession::HttpSession() : mImpl(std::make_unique<Impl>()) { TheJar(); }
HttpSession::~HttpSession() = default;

namespace {

HttpResult Perform(CURL* curl, const std::string& url, const HttpOptions& options, Transfer& transfer,
                   curl_slist* headers) {
    HttpLimits limits = GetHttpLimits();
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    // Server addresses come from the embedding page: only the web's own protocols, redirects too.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connectSeconds);
    // A peer that trickles a few bytes now and then is as stuck as one that sends nothing.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, limits.stallBytesPerSecond);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.stallSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, limits.requestSeconds);
    transfer.maxBody = limits.maxReplyBytes;
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, options.verifyCertificates ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, options.verifyCertificates ? 2L : 0L);
    if (!options.proxy.empty()) {
        curl_easy_setopt(curl, CURLOPT_PROXY, options.proxy.c_str());
    } else {
        curl_easy_setopt(curl, CURLOPT_PROXY, nullptr);  // libcurl then reads the environment
    }
    CURLcode code = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);  // the buffer is about to go
    HttpResult result;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    const char* contentType = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType != nullptr) {
        result.contentType = contentType;
    }
    if (transfer.tooLarge) {
        result.error = "the reply is larger than " + std::to_string(limits.maxReplyBytes >> 20) + " MiB";
        return result;
    }
    if (code != CURLE_OK) {
        result.error = errorText[0] != '\0' ? std::string(errorText) : std::string(curl_easy_strerror(code));
        return result;
    }
    result.transferred = true;
    if (!result.Ok()) result.error = "the server answered HTTP " + std::to_string(result.status);
    return result;
}

}  // namespace

HttpResult HttpSession::Post(const std::string& url, std::string_view body, const HttpOptions& options) {
    CURL* curl = mImpl->curl.get();
    // No "Expect: 100-continue": libcurl would wait up to a second before each chunk's body.
    SlistPtr headers(curl_slist_append(nullptr, "Expect:"));
    if (!options.contentType.empty()) {
        headers.reset(curl_slist_append(headers.release(), ("Content-Type: " + options.contentType).c_str()));
    } else {
        headers.reset(curl_slist_append(headers.release(), "Content-Type:"));
    }
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 0L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    // Whole chunks per send: the default 64 KiB pieces cost a poll round each.
    curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 2L * 1024 * 1024);
    std::string reply;
    Transfer transfer{nullptr, &reply, &mYield};
    HttpResult result = Perform(curl, url, options, transfer, headers.get());
    result.body = std::move(reply);
    return result;
}

HttpResult HttpSession::Get(const std::string& url, const HttpOptions& options) {
    CURL* curl = mImpl->curl.get();
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 0L);
    std::string reply;
    Transfer transfer{nullptr, &reply, &mYield};
    HttpResult result = Perform(curl, url, options, transfer, nullptr);
    result.body = std::move(reply);
    return result;
}

HttpResult HttpSession::GetToSink(const std::string& url, const std::function<bool(std::string_view)>& sink,
                                  const HttpOptions& options) {
    CURL* curl = mImpl->curl.get();
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);  // an error page is not the file
    Transfer transfer{&sink, nullptr, &mYield};
    return Perform(curl, url, options, transfer, nullptr);
}

void PlantCookie(const std::string& url, const std::string& name, const std::string& value) {
    std::string host = HostOf(url);
    if (host.empty()) return;
    CurlPtr curl = NewHandle();
    curl_easy_setopt(curl.get(), CURLOPT_SHARE, TheJar().share);
    curl_easy_setopt(curl.get(), CURLOPT_COOKIEFILE, "");
    // Netscape format: domain, include subdomains, path, secure, expiry (0: session), name, value.
    std::string line = host + "\tFALSE\t/\tFALSE\t0\t" + name + "\t" + value;
    curl_easy_setopt(curl.get(), CURLOPT_COOKIELIST, line.c_str());
}

void ClearCookies() {
    CurlPtr curl = NewHandle();
    curl_easy_setopt(curl.get(), CURLOPT_SHARE, TheJar().share);
    curl_easy_setopt(curl.get(), CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(curl.get(), CURLOPT_COOKIELIST, "ALL");
}

}  // namespace dorvex
