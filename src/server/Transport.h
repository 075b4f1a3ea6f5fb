#pragma once
// Sending requests to the server and the small HTTP helpers: the plain GET used as a session
// keep-alive, the URL encoder, and the download of a URL into a file.

#include <memory>
#include <string>

#include "server/Requests.h"

namespace dorvex {

class HttpSession;
class IPrompter;

class CImgReq {
public:
    // `prompter` shows transport failures (OK only); it may be null for silent use.
    explicit CImgReq(IPrompter* prompter = nullptr);
    ~CImgReq();

    // false (the default, used by the control): no extra header, the environment's proxy.
    // true: "Content-Type: application/xml", the given proxy, certificate errors ignored.
    bool UseServerClient = false;

    // Posts each request text in order and returns the reply to the last one, as UTF-8 text
    // (decoded by its charset). A failure (refused URL, dead, silent or trickling server, an
    // oversized reply, an HTTP error status) is shown to the person and gives "" (which no
    // caller can read as XML); the reply that came with an error status stays in LastReply().
    std::string RequestByObject(const std::string& url, const CBaseReq& request, const std::string& proxy);
    // The same for one request's text already rendered.
    std::string RequestByText(const std::string& url, const std::string& text, const std::string& proxy);
    // The description of the last failure ("" after a success).
    const std::string& LastError() const { return mLastError; }
    // The HTTP status of the last reply (0 when none arrived) and its text whatever the status.
    long LastStatus() const { return mLastStatus; }
    const std::string& LastReply() const { return mLastReply; }

private:
    IPrompter* mPrompter;
    std::unique_ptr<HttpSession> mSession;
    std::string mLastError;
    long mLastStatus = 0;
    std::string mLastReply;
};

// GETs `url` (with the session cookie name=value planted first when the name is set) and
// returns the body; "" when the server cannot be reached.
std::string HttpGetText(const std::string& url, const std::string& cookieName, const std::string& cookieValue);

// Digits and ASCII letters stay, a blank becomes "+", every other character becomes "%" and
// the upper-case hex of its CP950 code without leading zero ("\t" -> "%9", "王" -> "%A4FD").
std::string UrlEncode(const std::string& text);

// Streams `url` into `path`. Only a complete 2xx answer replaces the file (written beside it
// and renamed over it); anything else leaves `path` as it was and returns false.
bool DownloadToFile(const std::string& url, const std::string& path);

// The keep-alive address: the server address up to and including its last "/", then "temp.php".
std::string KeepAliveUrl(const std::string& serverUrl);

}  // namespace dorvex
