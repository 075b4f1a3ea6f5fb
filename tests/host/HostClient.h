#pragma once
// A dorvex-host process and a raw-socket client for it on loopback: what the host process tests
// speak to it with.

#include <arpa/inet.h>
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
#include <thread>
#include <vector>

namespace host_client {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline constexpr const char* kListed = "http://desk.example.test";
inline constexpr const char* kUpgradeHeaders = "Connection: Upgrade\r\nUpgrade: websocket\r\nSec-WebSocket-Version: 13\r\n"
                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";

// dorvex-host started with a private configuration listing one origin.
class HostProcess {
public:
    // `extra`: more arguments for the host.
    explicit HostProcess(const std::string& consent, int pause = 300, std::vector<std::string> extra = {}) {
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
            std::vector<std::string> args{DORVEX_HOST_BIN, "--port", "0", "--config", (mDir / "host.ini").string(),
                                          "--scripted-person", "--person-pause", std::to_string(pause),
                                          "--consent-answer", consent};
            args.insert(args.end(), extra.begin(), extra.end());
            std::vector<char*> argv;
            for (std::string& arg : args) argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(DORVEX_HOST_BIN, argv.data());
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
        // The host goes on writing to its output; a full pipe would stop it.
        mDrain = std::thread([fd = mOut] {
            char sink[4096];
            while (::read(fd, sink, sizeof sink) > 0) {
            }
        });
        std::size_t at = line.find("127.0.0.1:");
        if (at != std::string::npos) mPort = std::stoi(line.substr(at + 10));
    }
    ~HostProcess() {
        if (mPid > 0) {
            ::kill(mPid, SIGTERM);
            int status = 0;
            ::waitpid(mPid, &status, 0);
        }
        if (mDrain.joinable()) mDrain.join();  // the pipe ends with the host
        if (mOut >= 0) ::close(mOut);
        fs::remove_all(mDir);
    }
    int Port() const { return mPort; }
    pid_t Pid() const { return mPid; }
    bool Alive() const { return mPid > 0 && ::waitpid(mPid, nullptr, WNOHANG) == 0; }

private:
    fs::path mDir;
    pid_t mPid = -1;
    int mOut = -1;
    int mPort = 0;
    std::thread mDrain;
};

inline int Connect(int port, const char* address = "127.0.0.1") {
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

inline bool SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads until `until` appears, the peer closes, or the time is up. `closed` tells which.
inline std::string ReadUntil(int fd, const std::string& until, int milliseconds, bool* closed = nullptr) {
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

inline std::string Exchange(int port, const std::string& request) {
    int fd = Connect(port);
    if (fd < 0) return "";
    SendAll(fd, request);
    std::string reply = ReadUntil(fd, "", 3000);
    ::close(fd);
    return reply;
}

inline std::string Upgrade(const std::string& host, const std::string& origin) {
    return "GET / HTTP/1.1\r\nHost: " + host + "\r\n" + (origin.empty() ? "" : "Origin: " + origin + "\r\n") +
           kUpgradeHeaders + "\r\n";
}

// A client's masked text frame.
inline std::string Frame(const std::string& text) {
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

// A page connected and past the handshake (its descriptor), -1 on failure.
inline int OpenPage(int port, std::string* first = nullptr) {
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


// Loads a connected page with the default properties; true when the host says it is ready.
inline bool Loaded(int fd) {
    SendAll(fd, Frame(R"({"type":"load","bag":null})"));
    return ReadUntil(fd, "\"type\":\"ready\"", 5000).find("\"type\":\"ready\"") != std::string::npos;
}

}  // namespace host_client
