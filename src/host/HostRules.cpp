#include "host/HostRules.h"

#include <algorithm>

#include "support/Text.h"

namespace dorvex::host {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool IsTokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Whether a comma-separated header value holds `token` (e.g. "keep-alive, Upgrade").
bool ListHas(const std::optional<std::string>& value, std::string_view token) {
    if (!value) return false;
    std::string_view rest = *value;
    while (!rest.empty()) {
        std::size_t comma = rest.find(',');
        if (EqualNoCase(TrimSpaces(rest.substr(0, comma)), token)) return true;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return false;
}

const char* StatusLine(Answer answer) {
    switch (answer) {
        case Answer::Script:
        case Answer::Health: return "HTTP/1.1 200 OK";
        case Answer::Preflight: return "HTTP/1.1 204 No Content";
        case Answer::NotFound: return "HTTP/1.1 404 Not Found";
        case Answer::BadMethod: return "HTTP/1.1 405 Method Not Allowed";
        default: return "HTTP/1.1 403 Forbidden";
    }
}

}  // namespace

std::optional<std::string> RequestHead::Header(std::string_view name) const {
    std::optional<std::string> found;
    for (const auto& [key, value] : headers) {
        if (!EqualNoCase(key, name)) continue;
        if (found) return std::nullopt;
        found = value;
    }
    return found;
}

HeadState ParseRequestHead(std::string_view data, RequestHead& head) {
    std::size_t end = data.find("\r\n\r\n");
    if (end == std::string_view::npos) return data.size() >= kMaxHeadBytes ? HeadState::TooLarge : HeadState::Incomplete;
    if (end + 4 > kMaxHeadBytes) return HeadState::TooLarge;
    head = RequestHead();
    head.size = end + 4;
    std::string_view rest = data.substr(0, end + 2);
    bool first = true;
    while (!rest.empty()) {
        std::size_t eol = rest.find("\r\n");
        std::string_view line = rest.substr(0, eol);
        rest.remove_prefix(eol + 2);
        for (char c : line) {
            // Control characters (bare CR or LF, NUL) make a head we do not read.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t') return HeadState::Malformed;
        }
        if (first) {
            first = false;
            std::size_t sp1 = line.find(' ');
            std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
            if (sp2 == std::string_view::npos || line.substr(sp2 + 1) != "HTTP/1.1") return HeadState::Malformed;
            head.method = std::string(line.substr(0, sp1));
            head.target = std::string(line.substr(sp1 + 1, sp2 - sp1 - 1));
            if (head.method.empty() || head.target.empty() || head.target[0] != '/') return HeadState::Malformed;
            continue;
        }
        std::size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos) return HeadState::Malformed;
        for (std::size_t i = 0; i < colon; ++i) {
            if (!IsTokenChar(line[i])) return HeadState::Malformed;
        }
        if (head.headers.size() >= kMaxHeaderLines) return HeadState::TooLarge;
        head.headers.emplace_back(std::string(line.substr(0, colon)), std::string(TrimSpaces(line.substr(colon + 1))));
    }
    return HeadState::Complete;
}

std::string NormalizeOrigin(std::string_view text) {
    std::string origin = ToLowerAscii(std::string(text));
    std::size_t start;
    if (origin.rfind("http://", 0) == 0) start = 7;
    else if (origin.rfind("https://", 0) == 0) start = 8;
    else return "";
    if (origin.size() == start || origin.size() > 255) return "";
    for (std::size_t i = start; i < origin.size(); ++i) {
        char c = origin[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':' || c == '[' ||
                  c == ']';
        if (!ok) return "";  // a path, user information, a query: not an origin
    }
    return origin;
}

bool HostNamesLoopback(const RequestHead& head, int port) {
    std::optional<std::string> host = head.Header("Host");
    if (!host) return false;
    std::string suffix = ":" + std::to_string(port);
    return EqualNoCase(*host, "127.0.0.1" + suffix) || EqualNoCase(*host, "localhost" + suffix);
}

bool IsWebSocketUpgrade(const RequestHead& head) {
    return ListHas(head.Header("Upgrade"), "websocket") || ListHas(head.Header("Connection"), "upgrade");
}

std::string PathOf(const std::string& target) { return target.substr(0, target.find('?')); }

Decision Decide(const RequestHead& head, int port, const std::function<OriginAccess(const std::string&)>& access) {
    Decision d;
    if (!HostNamesLoopback(head, port)) return d;
    auto origins = std::count_if(head.headers.begin(), head.headers.end(),
                                 [](const auto& h) { return EqualNoCase(h.first, "Origin"); });
    if (origins > 1) return d;
    if (origins == 1) {
        // An origin that is sent but is not one ("null", garbage) is never listed.
        d.origin = NormalizeOrigin(*head.Header("Origin"));
        if (d.origin.empty() || access(d.origin) != OriginAccess::Listed) {
            d.origin.clear();
            return d;
        }
    }
    std::string path = PathOf(head.target);
    if (head.method == "OPTIONS") {
        d.answer = d.origin.empty() ? Answer::Refuse : Answer::Preflight;
        return d;
    }
    if (head.method != "GET") {
        d.answer = Answer::BadMethod;
        return d;
    }
    if (IsWebSocketUpgrade(head)) {
        // A handshake without an origin does not come from a page that was allowed.
        d.answer = !d.origin.empty() && path == "/" ? Answer::Upgrade : Answer::Refuse;
        return d;
    }
    if (path == "/orbscan.js") d.answer = Answer::Script;
    else if (path == "/health") d.answer = Answer::Health;
    else d.answer = Answer::NotFound;
    return d;
}

std::string ResponseText(const Decision& decision, const RequestHead& head, const std::string& script,
                         const HostStatus& status) {
    std::string headers = std::string(StatusLine(decision.answer)) + "\r\n";
    std::string body, type = "text/plain; charset=utf-8";
    // Only a listed origin is ever named back; never a wildcard.
    if (!decision.origin.empty() && decision.answer != Answer::Refuse) {
        headers += "Access-Control-Allow-Origin: " + decision.origin + "\r\nVary: Origin\r\n";
    }
    switch (decision.answer) {
        case Answer::Script:
            body = script;
            type = "text/javascript; charset=utf-8";
            headers += "Cache-Control: no-cache\r\n";
            break;
        case Answer::Health:
            body = "{\"service\":\"dorvex-host\",\"version\":\"" + status.version + "\",\"connections\":" +
                   std::to_string(status.connections) + ",\"pages\":" + std::to_string(status.pages) + "}";
            type = "application/json";
            headers += "Cache-Control: no-store\r\n";
            break;
        case Answer::Preflight:
            headers += "Access-Control-Allow-Methods: GET\r\nAccess-Control-Max-Age: 600\r\n";
            if (EqualNoCase(head.Header("Access-Control-Request-Private-Network").value_or(""), "true")) {
                headers += "Access-Control-Allow-Private-Network: true\r\n";
            }
            if (EqualNoCase(head.Header("Access-Control-Request-Local-Network").value_or(""), "true")) {
                headers += "Access-Control-Allow-Local-Network: true\r\n";
            }
            break;
        case Answer::Refuse: body = "forbidden\n"; break;
        case Answer::NotFound: body = "not found\n"; break;
        case Answer::BadMethod: body = "method not allowed\n"; break;
        case Answer::Upgrade: break;
    }
    headers += "Content-Type: " + type + "\r\nX-Content-Type-Options: nosniff\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    return headers + body;
}

}  // namespace dorvex::host
