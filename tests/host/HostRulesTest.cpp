#include <gtest/gtest.h>

#include "host/HostRules.h"

namespace dorvex::host {
namespace {

constexpr int kPort = 47615;

RequestHead Head(const std::string& text) {
    RequestHead head;
    EXPECT_EQ(ParseRequestHead(text, head), HeadState::Complete) << text;
    return head;
}

Decision DecideFor(const std::string& text) {
    return Decide(Head(text), kPort, [](const std::string& origin) {
        return origin == "https://desk.example.org" ? OriginAccess::Listed : OriginAccess::Unlisted;
    });
}

const char* kUpgrade = "Connection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
                       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";

TEST(HostRules, ParsesAHeadAndWaitsForItsEnd) {
    RequestHead head;
    EXPECT_EQ(ParseRequestHead("GET /health HTTP/1.1\r\nHost: 127.0.0.1:1\r\n", head), HeadState::Incomplete);
    ASSERT_EQ(ParseRequestHead("GET /health?x=1 HTTP/1.1\r\nHost:  127.0.0.1:1 \r\n\r\nrest", head), HeadState::Complete);
    EXPECT_EQ(head.method, "GET");
    EXPECT_EQ(head.target, "/health?x=1");
    EXPECT_EQ(head.Header("host"), "127.0.0.1:1");
    EXPECT_EQ(head.size, std::string("GET /health?x=1 HTTP/1.1\r\nHost:  127.0.0.1:1 \r\n\r\n").size());
}

TEST(HostRules, RefusesHeadsTooLongOrMalformed) {
    RequestHead head;
    std::string longHead = "GET / HTTP/1.1\r\nX: " + std::string(kMaxHeadBytes, 'a');
    EXPECT_EQ(ParseRequestHead(longHead, head), HeadState::TooLarge);
    EXPECT_EQ(ParseRequestHead(longHead + "\r\n\r\n", head), HeadState::TooLarge);
    std::string many = "GET / HTTP/1.1\r\n";
    for (std::size_t i = 0; i <= kMaxHeaderLines; ++i) many += "A: b\r\n";
    EXPECT_EQ(ParseRequestHead(many + "\r\n", head), HeadState::TooLarge);
    EXPECT_EQ(ParseRequestHead("GET / HTTP/1.0\r\n\r\n", head), HeadState::Malformed);
    EXPECT_EQ(ParseRequestHead("GET / HTTP/1.1\r\nNo colon\r\n\r\n", head), HeadState::Malformed);
    EXPECT_EQ(ParseRequestHead("GET / HTTP/1.1\r\nBad name: x\r\n\r\n", head), HeadState::Malformed);
    static const char kNulInValue[] = "GET / HTTP/1.1\r\nA: x\0y\r\n\r\n";
    EXPECT_EQ(ParseRequestHead(std::string(kNulInValue, sizeof kNulInValue - 1), head), HeadState::Malformed);
    EXPECT_EQ(ParseRequestHead("GET http://x/ HTTP/1.1\r\n\r\n", head), HeadState::Malformed);
}

TEST(HostRules, NormalizesOrigins) {
    EXPECT_EQ(NormalizeOrigin("HTTPS://Desk.Example.org"), "https://desk.example.org");
    EXPECT_EQ(NormalizeOrigin("http://127.0.0.1:8080"), "http://127.0.0.1:8080");
    EXPECT_EQ(NormalizeOrigin("null"), "");
    EXPECT_EQ(NormalizeOrigin("file://"), "");
    EXPECT_EQ(NormalizeOrigin("https://desk.example.org/page"), "");
    EXPECT_EQ(NormalizeOrigin("https://user@desk.example.org"), "");
    EXPECT_EQ(NormalizeOrigin("https://"), "");
}

TEST(HostRules, TheHostHeaderMustNameTheLoopbackAddressAndPort) {
    EXPECT_EQ(DecideFor("GET /health HTTP/1.1\r\nHost: 127.0.0.1:47615\r\n\r\n").answer, Answer::Health);
    EXPECT_EQ(DecideFor("GET /health HTTP/1.1\r\nHost: LOCALHOST:47615\r\n\r\n").answer, Answer::Health);
    // A rebound DNS name, another port, no port, no Host, two Hosts.
    EXPECT_EQ(DecideFor("GET /health HTTP/1.1\r\nHost: attacker.example:47615\r\n\r\n").answer, Answer::Refuse);
    EXPECT_EQ(DecideFor("GET /health HTTP/1.1\r\nHost: 127.0.0.1:80\r\n\r\n").answer, Answer::Refuse);
    EXPECT_EQ(DecideFor("GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").answer, Answer::Refuse);
    EXPECT_EQ(DecideFor("GET /health HTTP/1.1\r\n\r\n").answer, Answer::Refuse);
    EXPECT_EQ(DecideFor("GET /health HTTP/1.1\r\nHost: 127.0.0.1:47615\r\nHost: evil:47615\r\n\r\n").answer,
              Answer::Refuse);
    std::string forged = std::string("GET / HTTP/1.1\r\nHost: rebind.example:47615\r\nOrigin: https://desk.example.org\r\n") +
                         kUpgrade + "\r\n";
    EXPECT_EQ(DecideFor(forged).answer, Answer::Refuse);
}

TEST(HostRules, OnlyListedOriginsOpenTheControl) {
    std::string start = "GET / HTTP/1.1\r\nHost: 127.0.0.1:47615\r\n";
    Decision listed = DecideFor(start + "Origin: https://Desk.Example.org\r\n" + kUpgrade + "\r\n");
    EXPECT_EQ(listed.answer, Answer::Upgrade);
    EXPECT_EQ(listed.origin, "https://desk.example.org");
    EXPECT_EQ(DecideFor(start + "Origin: https://other.example.org\r\n" + kUpgrade + "\r\n").answer, Answer::Refuse);
    EXPECT_EQ(DecideFor(start + "Origin: null\r\n" + kUpgrade + "\r\n").answer, Answer::Refuse);
    EXPECT_EQ(DecideFor(start + kUpgrade + "\r\n").answer, Answer::Refuse);
    EXPECT_EQ(DecideFor(start + "Origin: https://desk.example.org\r\nOrigin: https://other.example.org\r\n" + kUpgrade +
                        "\r\n")
                  .answer,
              Answer::Refuse);
    EXPECT_EQ(DecideFor("GET /x HTTP/1.1\r\nHost: 127.0.0.1:47615\r\nOrigin: https://desk.example.org\r\n" +
                        std::string(kUpgrade) + "\r\n")
                  .answer,
              Answer::Refuse);
}

TEST(HostRules, PreflightsAreAnsweredForListedOriginsOnly) {
    std::string head = "OPTIONS /health HTTP/1.1\r\nHost: 127.0.0.1:47615\r\nAccess-Control-Request-Method: GET\r\n"
                       "Access-Control-Request-Private-Network: true\r\n";
    RequestHead listed = Head(head + "Origin: https://desk.example.org\r\n\r\n");
    Decision yes = DecideFor(head + "Origin: https://desk.example.org\r\n\r\n");
    ASSERT_EQ(yes.answer, Answer::Preflight);
    std::string text = ResponseText(yes, listed, "", HostStatus{"1"});
    EXPECT_NE(text.find("HTTP/1.1 204"), std::string::npos);
    EXPECT_NE(text.find("Access-Control-Allow-Origin: https://desk.example.org\r\n"), std::string::npos);
    EXPECT_NE(text.find("Access-Control-Allow-Private-Network: true\r\n"), std::string::npos);

    RequestHead unlisted = Head(head + "Origin: https://other.example.org\r\n\r\n");
    Decision no = DecideFor(head + "Origin: https://other.example.org\r\n\r\n");
    EXPECT_EQ(no.answer, Answer::Refuse);
    text = ResponseText(no, unlisted, "", HostStatus{"1"});
    EXPECT_NE(text.find("HTTP/1.1 403"), std::string::npos);
    EXPECT_EQ(text.find("Access-Control"), std::string::npos);
    EXPECT_EQ(DecideFor("OPTIONS /health HTTP/1.1\r\nHost: 127.0.0.1:47615\r\n\r\n").answer, Answer::Refuse);
}

TEST(HostRules, NeverAWildcardAndNoOriginNamedToAnUnlistedPage) {
    std::string script = "// the script";
    RequestHead head = Head("GET /orbscan.js HTTP/1.1\r\nHost: 127.0.0.1:47615\r\n\r\n");
    Decision d = DecideFor("GET /orbscan.js HTTP/1.1\r\nHost: 127.0.0.1:47615\r\n\r\n");
    ASSERT_EQ(d.answer, Answer::Script);
    std::string text = ResponseText(d, head, script, HostStatus{"1"});
    EXPECT_NE(text.find("Content-Type: text/javascript"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - script.size()), script);
    EXPECT_EQ(text.find("Access-Control-Allow-Origin"), std::string::npos);
    // A listed origin reads the health check; an unlisted one is refused outright.
    EXPECT_EQ(DecideFor("GET /health HTTP/1.1\r\nHost: 127.0.0.1:47615\r\nOrigin: https://other.example.org\r\n\r\n").answer,
              Answer::Refuse);
    RequestHead listedHead = Head("GET /health HTTP/1.1\r\nHost: 127.0.0.1:47615\r\nOrigin: https://desk.example.org\r\n\r\n");
    text = ResponseText(DecideFor("GET /health HTTP/1.1\r\nHost: 127.0.0.1:47615\r\nOrigin: https://desk.example.org\r\n\r\n"),
                        listedHead, "", HostStatus{"1"});
    EXPECT_NE(text.find("Access-Control-Allow-Origin: https://desk.example.org\r\n"), std::string::npos);
    EXPECT_EQ(text.find("Access-Control-Allow-Origin: *"), std::string::npos);
    EXPECT_EQ(DecideFor("POST /health HTTP/1.1\r\nHost: 127.0.0.1:47615\r\n\r\n").answer, Answer::BadMethod);
    EXPECT_EQ(DecideFor("GET /etc/passwd HTTP/1.1\r\nHost: 127.0.0.1:47615\r\n\r\n").answer, Answer::NotFound);
}

}  // namespace
}  // namespace dorvex::host
