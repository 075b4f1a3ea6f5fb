#pragma once
// What the local host answers to a plain HTTP request or a WebSocket handshake, decided from
// the request head alone. Default deny: a request must name this host by its loopback address
// and port (a page reached through a rebound DNS name does not), and only listed origins may
// open the control or read an answer across origins.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dorvex::host {

constexpr std::size_t kMaxHeadBytes = 8192;  // a request head longer than this is refused
constexpr std::size_t kMaxHeaderLines = 64;

struct RequestHead {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;  // names as sent
    // The value of a header that occurs once (names compared without case); nullopt when it
    // is missing or repeated.
    std::optional<std::string> Header(std::string_view name) const;
    std::size_t size = 0;  // bytes of the head, its blank line included
};

enum class HeadState { Incomplete, Complete, TooLarge, Malformed };

// Parses the head at the start of `data` (the bytes received so far).
HeadState ParseRequestHead(std::string_view data, RequestHead& head);

// "scheme://host[:port]" in lower case, or "" when `text` is not an http(s) origin.
std::string NormalizeOrigin(std::string_view text);

// How the host treats one origin.
enum class OriginAccess { Unlisted, Listed };

enum class Answer {
    Refuse,     // 403, nothing else said
    Script,     // GET /orbscan.js
    Health,     // GET /health
    Preflight,  // OPTIONS from a listed origin
    Upgrade,    // a WebSocket handshake from a listed origin: hand it to the WebSocket server
    NotFound,
    BadMethod,
};

struct Decision {
    Answer answer = Answer::Refuse;
    std::string origin;  // normalized, "" when the request had none
};

// `access` tells whether a normalized origin is listed in the person's configuration.
Decision Decide(const RequestHead& head, int port, const std::function<OriginAccess(const std::string&)>& access);

// What the health check tells.
struct HostStatus {
    std::string version;
    int connections = 0;  // open now, the one asking included
    int pages = 0;        // page sessions alive, a page whose window is still open included
};

// The whole HTTP response for every answer but Upgrade. `script` is the body of /orbscan.js.
std::string ResponseText(const Decision& decision, const RequestHead& head, const std::string& script,
                         const HostStatus& status);

}  // namespace dorvex::host
