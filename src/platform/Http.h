#pragma once
// HTTP over libcurl (kept out of this header). One process-wide cookie jar serves every
// session, so a session cookie planted once goes with every post, download and keep-alive.
// Requests never hang: a connect limit and a stall limit end them with an error.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace dorvex {

struct HttpLimits {
    long connectSeconds = 15;   // to establish the connection
    long stallSeconds = 60;     // moving less than stallBytesPerSecond on average over this long
    long requestSeconds = 600;  // one request from start to end, whatever moves
    long stallBytesPerSecond = 1024;
    std::size_t maxReplyBytes = 64u << 20;  // a reply read into memory (downloads to a file: no limit)
};

// Process-wide limits; the defaults can be overridden by DORVEX_CONNECT_TIMEOUT,
// DORVEX_STALL_TIMEOUT and DORVEX_REQUEST_TIMEOUT (seconds) in the environment.
HttpLimits GetHttpLimits();
void SetHttpLimits(const HttpLimits& limits);

struct HttpOptions {
    std::string contentType;  // "" sends no Content-Type header
    // "" follows the environment (http_proxy, https_proxy, no_proxy); else host:port.
    std::string proxy;
    bool verifyCertificates = true;
};

struct HttpResult {
    bool transferred = false;  // a complete HTTP response arrived
    long status = 0;           // HTTP status code
    std::string body;
    std::string contentType;  // the Content-Type header ("" when none)
    std::string error;        // why nothing (complete) arrived, or the HTTP status text

    bool Ok() const { return transferred && status >= 200 && status < 300; }
};

// A connection-keeping HTTP client; one per exchange or per upload run.
class HttpSession {
public:
    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    HttpResult Post(const std::string& url, std::string_view body, const HttpOptions& options);
    HttpResult Get(const std::string& url, const HttpOptions& options = {});
    // Streams the body into `sink` (returning false aborts); result body stays empty.
    HttpResult GetToSink(const std::string& url, const std::function<bool(std::string_view)>& sink,
                         const HttpOptions& options = {});

    // Called while a transfer runs (about every chunk of progress), to serve the event loop.
    void SetYield(std::function<void()> yield) { mYield = std::move(yield); }

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
    std::function<void()> mYield;
};

// Puts name=value into the process-wide cookie jar for the host of `url`.
void PlantCookie(const std::string& url, const std::string& name, const std::string& value);
// Empties the process-wide cookie jar.
void ClearCookies();

}  // namespace dorvex
