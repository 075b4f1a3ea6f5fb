// The host as a separate process, spoken to over raw sockets on loopback: the handshake rules,
// consent, message limits and the one-window-at-a-time rule.

#include <gtest/gtest.h>

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

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* kListed = "http://desk.example.test";
const char* kUpgradeHeaders = "Connection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";

// dorvex-host started with a private configuration listing one origin.
class HostProcess {
public:
    explicit HostProcess(const std::string& consent, int pause = 300) {
        mDir = fs::temp_directory_path() / ("dorvex-host-test-" + std::to_string(::getpid()) + "-" + consent);
        fs::remove_all(mDir);
        fs::create_directories(mDir);
        std::ofstream(mDir / "host.ini") << "[Origins]\n" << kListed << "=ask\n";
        int out[2];
        if (::pipe(out) != 0) return;
        mPid = ::fork();
        if (mPid == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("XDG_CONFIG_HOME", (mDir / "config").c_str(), 1);
            ::setenv("DORVEX_TMPDIR", (mDir / "tmp").c_str(), 1);
            std::string config = (mDir / "host.ini").string(), pauseText = std::to_string(pause);
            ::execl(DORVEX_HOST_BIN, DORVEX_HOST_BIN, "--port", "0", "--config", config.c_str(), "--scripted-person",
                    "--person-pause", pauseText.c_str(), "--consent-answer", consent.c_str(), nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        // The first line names the port.
        std::string line;
        auto deadline = Clock::now() + std::chrono::seconds(20);
        while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
            pollfd p{out[0], POLLIN, 0};
            if (::poll(&p, 1, 200) <= 0) continue;
            char c[256];
            ssize_t n = ::read(out[0], c, sizeof c);
            if (n <= 0) break;
            line.append(c, static_cast<std::size_t>(n));
        }
        mOut = out[0];
        std::size_t at = line.find("127.0.0.1:");
        if (at != std::string::npos) mPort = std::stoi(line.substr(at + 10));
    }
    ~HostProcess() {
        if (mPid > 0) {
            ::kill(mPid, SIGTERM);
            int status = 0;
            ::waitpid(mPid, &status, 0);
        }
        if (mOut >= 0) ::close(mOut);
        fs::remove_all(mDir);
    }
    int Port() const { return mPort; }
    bool Alive() const { return mPid > 0 && ::waitpid(mPid, nullptr, WNOHANG) == 0; }

private:
    fs::path mDir;
    pid_t mPid = -1;
    int mOut = -1;
    int mPort = 0;
};

int Connect(int port, const char* address = "127.0.0.1") {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address, &to.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads until `until` appears, the peer closes, or the time is up. `closed` tells which.
std::string ReadUntil(int fd, const std::string& until, int milliseconds, bool* closed = nullptr) {
    std::string got;
    auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    if (closed) *closed = false;
    while (Clock::now() < deadline && (until.empty() || got.find(until) == std::string::npos)) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char buffer[4096];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            if (closed) *closed = true;
            break;
        }
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

std::string Exchange(int port, const std::string& request) {
    int fd = Connect(port);
    if (fd < 0) return "";
    SendAll(fd, request);
    std::string reply = ReadUntil(fd, "", 3000);
    ::close(fd);
    return reply;
}

std::string Upgrade(const std::string& host, const std::string& origin) {
    return "GET / HTTP/1.1\r\nHost: " + host + "\r\n" + (origin.empty() ? "" : "Origin: " + origin + "\r\n") +
           kUpgradeHeaders + "\r\n";
}

// A client's masked text frame.
std::string Frame(const std::string& text) {
    std::string frame = "\x81";
    std::size_t n = text.size();
    if (n < 126) {
        frame += static_cast<char>(0x80 | n);
    } else if (n < 65536) {
        frame += static_cast<char>(0x80 | 126);
        frame += static_cast<char>(n >> 8);
        frame += static_cast<char>(n & 0xff);
    } else {
        frame += static_cast<char>(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8) frame += static_cast<char>((n >> shift) & 0xff);
    }
    const char mask[4] = {0x12, 0x34, 0x56, 0x78};
    frame.append(mask, 4);
    for (std::size_t i = 0; i < n; ++i) frame += static_cast<char>(text[i] ^ mask[i % 4]);
    return frame;
}

// A page connected and past the handshake; "" on failure.
int OpenPage(int port, std::string* first = nullptr) {
    int fd = Connect(port);
    if (fd < 0) return -1;
    SendAll(fd, Upgrade("127.0.0.1:" + std::to_string(port), kListed));
    std::string reply = ReadUntil(fd, "\"}", 5000);
    if (first) *first = reply;
    if (reply.rfind("HTTP/1.1 101", 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}


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
    std::string ready = ReadUntil(fd, "}}", 3000);
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
        SendAll(fd, Frame(R"({"type":"load","bag":null})"));
        ASSERT_NE(ReadUntil(fd, "}}", 3000).find("\"ready\""), std::string::npos);
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
    SendAll(fd, Frame(R"({"type":"load","bag":null})"));
    ASSERT_NE(ReadUntil(fd, "}}", 3000).find("\"ready\""), std::string::npos);
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
        SendAll(fd, Frame(R"({"type":"load","bag":null})"));
        ASSERT_NE(ReadUntil(fd, "}}", 3000).find("\"ready\""), std::string::npos);
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
