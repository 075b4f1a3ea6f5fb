#include "server/Transport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "platform/Http.h"
#include "server/Reply.h"
#include "support/CodePage.h"
#include "support/Prompter.h"
#include "support/Trace.h"

namespace dorvex {

CImgReq::CImgReq(IPrompter* prompter) : mPrompter(prompter), mSession(std::make_unique<HttpSession>()) {
    if (mPrompter != nullptr) mSession->SetYield([this] { mPrompter->Yield(); });
}

CImgReq::~CImgReq() = default;

std::string CImgReq::RequestByObject(const std::string& url, const CBaseReq& request, const std::string& proxy) {
    std::vector<std::string> texts = request.GetRequestXML();
    mLastError.clear();
    mLastStatus = 0;
    mLastReply.clear();
    for (std::size_t i = 1; i < texts.size(); ++i) {
        if (RequestByText(url, texts[i], proxy).empty() && !mLastError.empty()) return {};
    }
    return mLastReply;
}

std::string CImgReq::RequestByText(const std::string& url, const std::string& text, const std::string& proxy) {
    HttpOptions options;
    if (UseServerClient) {
        options.contentType = "application/xml";
        options.proxy = proxy;
        options.verifyCertificates = false;
    }
    mLastError.clear();
    HttpResult result = mSession->Post(url, text, options);
    mLastStatus = result.transferred ? result.status : 0;
    mLastReply = result.transferred ? DecodeReply(result.body, result.contentType) : std::string();
    if (!result.Ok()) {
        mLastError = result.error.empty() ? "the request failed" : result.error;
        DebugTrace("RequestByObject failed: " + mLastError);
        if (mPrompter != nullptr) mPrompter->MessageBox(mLastError, "", MsgButtons::OK, MsgIcon::None);
        return {};
    }
    return mLastReply;
}

std::string HttpGetText(const std::string& url, const std::string& cookieName, const std::string& cookieValue) {
    if (!cookieName.empty()) PlantCookie(url, cookieName, cookieValue);
    HttpSession session;
    HttpResult result = session.Get(url);
    if (!result.transferred) return {};
    return DecodeReply(result.body, result.contentType);
}

std::string UrlEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char32_t c : ToU32(text)) {
        if ((c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z')) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        if (c == U' ') {
            out.push_back('+');
            continue;
        }
        std::string bytes = TryToAnsi(ToUtf8(std::u32string(1, c))).value_or("?");
        unsigned code = 0;
        for (char b : bytes) code = (code << 8) | static_cast<unsigned char>(b);
        std::string hex;
        do {
            hex.insert(hex.begin(), kHex[code & 15]);
            code >>= 4;
        } while (code != 0);
        out += "%" + hex;
    }
    return out;
}

bool DownloadToFile(const std::string& url, const std::string& path) {
    std::string temp = path + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    bool writeFailed = false;
    auto sink = [&](std::string_view chunk) {
        while (!chunk.empty()) {
            ssize_t written = ::write(fd, chunk.data(), chunk.size());
            if (written <= 0) {
                writeFailed = true;
                return false;
            }
            chunk.remove_prefix(static_cast<std::size_t>(written));
        }
        return true;
    };
    HttpSession session;
    HttpResult result = session.GetToSink(url, sink);
    bool ok = result.Ok() && !writeFailed && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    DebugTrace("DownloadToFile failed: " + url + ": " + (writeFailed ? std::string("cannot write") : result.error));
    ::unlink(temp.c_str());
    return false;
}

std::string KeepAliveUrl(const std::string& serverUrl) {
    std::size_t slash = serverUrl.rfind('/');
    std::string base = slash == std::string::npos ? std::string() : serverUrl.substr(0, slash + 1);
    return base + "temp.php";
}

}  // namespace dorvex
