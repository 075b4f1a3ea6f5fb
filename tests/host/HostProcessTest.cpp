// The host as a separate process, spoken to over raw sockets on loopback: the handshake rules,
// consent, message limits and the one-window-at-a-time rule.

#include <gtest/gtest.h>

#include "host/HostClient.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace host_client;


TEST(HostProcess, ServesTheScriptAndTheHealthCheck) {
    HostProcess host("once");
    ASSERT_GT(host.Port(), 0);
    std::string hostHeader = "Host: 127.0.0.1:" + std::to_string(host.Port()) + "\r\n";
    std::string script = Exchange(host.Port(), "GET /orbscan.js HTTP/1.1\r\n" + hostHeader + "\r\n");
    EXPECT_EQ(script.rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_NE(script.find("class OrbScan extends EventTarget"), std::string::npos);
    std::string health = Exchange(host.Port(), "GET /health HTTP/1.1\r\n" + hostHeader + "\r\n");
    EXPECT_NE(health.find("\"service\":\"dorvex-host\""), std::string::npos);
}

TEST(HostProcess, AForgedHostHeaderIsRefused) {
    HostProcess host("once");
    ASSERT_GT(host.Port(), 0);
    std::string port = std::to_string(host.Port());
    std::string reply = Exchange(host.Port(), Upgrade("rebind.example.test:" + port, kListed));
    EXPECT_EQ(reply.rfind("HTTP/1.1 403", 0), 0u) << reply;
    reply = Exchange(host.Port(), "GET /orbscan.js HTTP/1.1\r\nHost: rebind.example.test:" + port + "\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 403", 0), 0u) << reply;
}

TEST(HostProcess, AnUnlistedOriginIsRefusedAndLearnsNothing) {
    HostProcess host("always");
    ASSERT_GT(host.Port(), 0);
    std::string refused = Exchange(host.Port(), Upgrade("127.0.0.1:" + std::to_string(host.Port()),
                                                        "http://elsewhere.example.test"));
    std::string forged = Exchange(host.Port(), Upgrade("evil.example.test:1", kListed));
    EXPECT_EQ(refused.rfind("HTTP/1.1 403", 0), 0u) << refused;
    EXPECT_EQ(refused, forged);  // the same bare refusal, whatever the reason
    std::string preflight = Exchange(host.Port(), "OPTIONS / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(host.Port()) +
                                                      "\r\nOrigin: http://elsewhere.example.test\r\n"
                                                      "Access-Control-Request-Method: GET\r\n"
                                                      "Access-Control-Request-Private-Network: true\r\n\r\n");
    EXPECT_EQ(preflight.rfind("HTTP/1.1 403", 0), 0u);
    EXPECT_EQ(preflight.find("Access-Control"), std::string::npos);
}

TEST(HostProcess, AListedOriginIsWelcomedWhenThePersonAllows) {
    HostProcess host("once");
    ASSERT_GT(host.Port(), 0);
    std::string first;
    int fd = OpenPage(host.Port(), &first);
    ASSERT_GE(fd, 0) << first;
    EXPECT_NE(first.find("{\"type\":\"welcome\"}"), std::string::npos);
    SendAll(fd, Frame(R"({"type":"load","bag":{"EncServerURL":"abc","OnlyScanList":false}})"));
    std::string ready = ReadUntil(fd, "\"type\":\"ready\"", 3000);
    EXPECT_NE(ready.find("\"type\":\"ready\""), std::string::npos) << ready;
    EXPECT_NE(ready.find("\"EncServerURL\":\"abc\""), std::string::npos);
    EXPECT_NE(ready.find("\"OnlyScanList\":false"), std::string::npos);
    // A read-only property keeps its number.
    SendAll(fd, Frame(R"({"type":"set","id":1,"name":"UploadReport","value":"x"})"));
    std::string error = ReadUntil(fd, "}", 3000);
    EXPECT_NE(error.find("\"number\":382"), std::string::npos) << error;
    ::close(fd);
}

TEST(HostProcess, APageWhosePersonDeniesGetsAClearRefusal) {
    HostProcess host("deny");
    ASSERT_GT(host.Port(), 0);
    int fd = Connect(host.Port());
    ASSERT_GE(fd, 0);
    SendAll(fd, Upgrade("127.0.0.1:" + std::to_string(host.Port()), kListed));
    bool closed = false;
    std::string reply = ReadUntil(fd, "", 3000, &closed);
    EXPECT_NE(reply.find("\"type\":\"refused\""), std::string::npos) << reply;
    EXPECT_NE(reply.find("did not allow http://desk.example.test"), std::string::npos);
    ::close(fd);
}

TEST(HostProcess, AMessageOverTheLimitClosesTheConnectionAndTheHostGoesOn) {
    HostProcess host("once");
    ASSERT_GT(host.Port(), 0);
    int fd = OpenPage(host.Port());
    ASSERT_GE(fd, 0);
    std::string huge = R"({"type":"load","bag":{"Proxy":")" + std::string(70 * 1024, 'x') + "\"}}";
    SendAll(fd, Frame(huge));
    bool closed = false;
    std::string reply = ReadUntil(fd, "", 5000, &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(reply.find("\"type\":\"ready\""), std::string::npos);
    ::close(fd);
    EXPECT_TRUE(host.Alive());
    std::string health = Exchange(host.Port(), "GET /health HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(host.Port()) +
                                                   "\r\n\r\n");
    EXPECT_EQ(health.rfind("HTTP/1.1 200", 0), 0u);
}

TEST(HostProcess, MessagesThatBreakTheRulesCloseTheConnection) {
    HostProcess host("once");
    ASSERT_GT(host.Port(), 0);
    for (std::string bad : {std::string("not json"), std::string(R"({"type":"call","id":1,"method":"ShowMultiTwain"})"),
                            std::string(R"({"type":"load","bag":{"Nonsense":"1"}})"),
                            std::string(R"({"type":"load","bag":{"Proxy":")") + std::string(3000, 'p') + "\"}}"}) {
        int fd = OpenPage(host.Port());
        ASSERT_GE(fd, 0);
        SendAll(fd, Frame(bad));
        bool closed = false;
        std::string reply = ReadUntil(fd, "", 3000, &closed);
        EXPECT_NE(reply.find("\"code\":\"protocol\""), std::string::npos) << bad.substr(0, 60);
        EXPECT_EQ(reply.find("\"type\":\"ready\""), std::string::npos);
        ::close(fd);
    }
    EXPECT_TRUE(host.Alive());
}

// Calls whose arguments would reach files outside the folder the person picks, or announce more
// pages than a letter has, close the connection after the page is ready.
TEST(HostProcess, ArgumentsOutsideTheirBoundsCloseTheConnection) {
    HostProcess host("once");
    ASSERT_GT(host.Port(), 0);
    for (std::string bad : {std::string(R"({"type":"call","id":1,"method":"UploadFileWithInno","args":["../../Documents/contract"]})"),
                            std::string(R"({"type":"call","id":1,"method":"UploadFileWithInno","args":[".."]})"),
                            std::string(R"({"type":"call","id":1,"method":"AddInno","args":["A1",100000,false,"B1"]})"),
                            std::string(R"({"type":"call","id":1,"method":"AddInno","args":["A1",-1,false,"B1"]})"),
                            std::string(R"({"type":"call","id":1,"method":"AddInno","args":["a/b",1,false,"B1"]})")}) {
        int fd = OpenPage(host.Port());
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(Loaded(fd));
        SendAll(fd, Frame(bad));
        bool closed = false;
        std::string reply = ReadUntil(fd, "", 3000, &closed);
        EXPECT_NE(reply.find("\"code\":\"protocol\""), std::string::npos) << bad;
        EXPECT_EQ(reply.find("\"type\":\"result\""), std::string::npos) << bad;
        ::close(fd);
    }
    // A plain number and a page count within bounds are taken.
    int fd = OpenPage(host.Port());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(Loaded(fd));
    SendAll(fd, Frame(R"({"type":"call","id":2,"method":"AddInno","args":["A1",3,false,"B1"]})"));
    std::string reply = ReadUntil(fd, "\"type\":\"result\"", 3000);
    EXPECT_NE(reply.find("\"type\":\"result\""), std::string::npos) << reply;
    ::close(fd);
    EXPECT_TRUE(host.Alive());
}

TEST(HostProcess, AHeadTooLongIsRefused) {
    HostProcess host("once");
    ASSERT_GT(host.Port(), 0);
    std::string reply = Exchange(host.Port(), "GET / HTTP/1.1\r\nX-Long: " + std::string(9000, 'a') + "\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 431", 0), 0u) << reply.substr(0, 40);
}

TEST(HostProcess, OneWindowAtATimeOnTheDesk) {
    HostProcess host("once", 1500);
    ASSERT_GT(host.Port(), 0);
    int first = OpenPage(host.Port());
    int second = OpenPage(host.Port());
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    for (int fd : {first, second}) {
        ASSERT_TRUE(Loaded(fd));
    }
    SendAll(first, Frame(R"({"type":"call","id":1,"method":"ShowMultiTwain","args":[""]})"));
    ::usleep(300 * 1000);  // the first page's window is open: the scripted person takes 1.5 s a step
    SendAll(second, Frame(R"({"type":"call","id":7,"method":"ShowSingleTwain","args":[]})"));
    std::string busy = ReadUntil(second, "}", 3000);
    EXPECT_NE(busy.find("\"code\":\"busy\""), std::string::npos) << busy;
    EXPECT_NE(busy.find("\"id\":7"), std::string::npos);
    std::string done = ReadUntil(first, "\"type\":\"result\"", 20000);
    EXPECT_NE(done.find("\"type\":\"result\""), std::string::npos) << done;
    ::close(first);
    ::close(second);
}

TEST(HostProcess, NothingListensOnOtherAddresses) {
    HostProcess host("once");
    ASSERT_GT(host.Port(), 0);
    ifaddrs* list = nullptr;
    ASSERT_EQ(::getifaddrs(&list), 0);
    int tried = 0;
    for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN];
        ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
        if (std::string(text).rfind("127.", 0) == 0) continue;
        ++tried;
        int fd = Connect(host.Port(), text);
        EXPECT_LT(fd, 0) << text;
        if (fd >= 0) ::close(fd);
    }
    ::freeifaddrs(list);
    if (tried == 0) GTEST_SKIP() << "no address but loopback on this machine";
}

}  // namespace
