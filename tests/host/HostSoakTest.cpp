// A clerk's day on the host: thousands of connections of every kind come and go, and the host
// still serves afterwards, holding no more connections, descriptors or memory than before.

#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <iostream>
#include <regex>

#include "host/HostClient.h"

namespace {

using namespace host_client;

int CountDescriptors(pid_t pid) {
    std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return -1;
    int count = 0;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(dir);
    return count;
}

long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// The connections the host counts as open, the health check's own one left out; -1 when it does
// not answer.
int OpenConnections(int port) {
    std::string reply = Exchange(port, "GET /health HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n");
    std::smatch found;
    if (!std::regex_search(reply, found, std::regex("\"connections\":(\\d+)"))) return -1;
    return std::stoi(found[1]) - 1;
}

// Waits until the host has let every connection go (a closed socket is released from its event
// loop, a moment later).
int SettledConnections(int port) {
    int open = -1;
    for (int i = 0; i < 100; ++i) {
        open = OpenConnections(port);
        if (open == 0) break;
        ::usleep(50 * 1000);
    }
    return open;
}

std::string CloseFrame() {
    std::string frame = "\x88\x82";
    const char mask[4] = {0x01, 0x02, 0x03, 0x04};
    frame.append(mask, 4);
    frame += static_cast<char>(0x03 ^ mask[0]);  // 1000, a normal closure
    frame += static_cast<char>(0xe8 ^ mask[1]);
    return frame;
}

void Reset(int fd) {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

// One connection of kind `kind`, the ways a page or another program comes and goes. False when
// the host did not behave.
bool OneConnection(int port, int kind) {
    const std::string hostHeader = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    switch (kind) {
        case 0: {  // a page that loads and says goodbye
            int fd = OpenPage(port);
            if (fd < 0) return false;
            if (!Loaded(fd)) {
                ::close(fd);
                return false;
            }
            SendAll(fd, CloseFrame());
            bool closed = false;
            ReadUntil(fd, "", 3000, &closed);
            ::close(fd);
            return closed;
        }
        case 1: {  // a tab closed at once
            int fd = OpenPage(port);
            if (fd < 0) return false;
            ::close(fd);
            return true;
        }
        case 2: {  // a message over the limit
            int fd = OpenPage(port);
            if (fd < 0) return false;
            SendAll(fd, Frame(R"({"type":"load","bag":{"Proxy":")" + std::string(70 * 1024, 'x') + "\"}}"));
            bool closed = false;
            ReadUntil(fd, "", 5000, &closed);
            ::close(fd);
            return closed;
        }
        case 3: {  // a message that breaks the rules
            int fd = OpenPage(port);
            if (fd < 0) return false;
            SendAll(fd, Frame("not json"));
            bool closed = false;
            ReadUntil(fd, "", 3000, &closed);
            ::close(fd);
            return closed;
        }
        case 4: {  // connects and vanishes
            int fd = Connect(port);
            if (fd < 0) return false;
            ::close(fd);
            return true;
        }
        case 5: {  // half a head, then gone
            int fd = Connect(port);
            if (fd < 0) return false;
            SendAll(fd, "GET /orbscan.js HTTP/1.1\r\nHost: 127.0.0.1:");
            Reset(fd);
            return true;
        }
        case 6: {  // the script
            std::string reply = Exchange(port, "GET /orbscan.js HTTP/1.1\r\n" + hostHeader + "\r\n");
            return reply.rfind("HTTP/1.1 200", 0) == 0;
        }
        default: {  // a page that works a little and drops the connection hard
            int fd = OpenPage(port);
            if (fd < 0) return false;
            if (!Loaded(fd)) {
                ::close(fd);
                return false;
            }
            SendAll(fd, Frame(R"({"type":"call","id":1,"method":"AddInno","args":["A1",1,false,"B1"]})"));
            bool answered = ReadUntil(fd, "\"type\":\"result\"", 5000).find("\"result\"") != std::string::npos;
            Reset(fd);
            return answered;
        }
    }
}

// Reads the host's frames and answers its pings as a browser does, for `milliseconds`. False
// when the host closed the connection meanwhile.
bool AnswerPings(int fd, int milliseconds, int* pings) {
    std::string pending;
    auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char buffer[4096];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        pending.append(buffer, static_cast<std::size_t>(n));
        // The host's frames are small and unmasked: a two-byte header and the payload.
        while (pending.size() >= 2 && pending.size() >= 2 + static_cast<std::size_t>(pending[1] & 0x7f)) {
            auto length = static_cast<std::size_t>(pending[1] & 0x7f);
            if ((pending[0] & 0x0f) == 0x9) {
                ++*pings;
                std::string pong = "\x8a";
                pong += static_cast<char>(0x80 | length);
                pong.append("\0\0\0\0", 4);  // a zero mask: the payload as it came
                pong += pending.substr(2, length);
                SendAll(fd, pong);
            }
            if ((pending[0] & 0x0f) == 0x8) return false;
            pending.erase(0, 2 + length);
        }
    }
    return true;
}

// A page whose tab is closed while its window is open: the person finishes the window, and its
// slot is free once the window has closed.
void LeaveWithTheWindowOpen(int port) {
    int page = OpenPage(port);
    ASSERT_GE(page, 0);
    ASSERT_TRUE(Loaded(page));
    SendAll(page, Frame(R"({"type":"call","id":1,"method":"ShowMultiTwain","args":[""]})"));
    ::usleep(100 * 1000);
    ::close(page);
    EXPECT_EQ(SettledConnections(port), 0);
}

TEST(HostSoak, ThousandsOfConnectionsComeAndGoAndTheHostStillServes) {
    HostProcess host("once", 20);
    ASSERT_GT(host.Port(), 0);
    const int port = host.Port();
    // Warm up: what the first connections and the first window allocate once stays.
    for (int i = 0; i < 64; ++i) ASSERT_TRUE(OneConnection(port, i % 8)) << "warm-up kind " << i % 8;
    LeaveWithTheWindowOpen(port);
    ASSERT_EQ(SettledConnections(port), 0);
    const int descriptorsBefore = CountDescriptors(host.Pid());
    const long residentBefore = ResidentKiB(host.Pid());

    const int rounds = 3000;
    int failed = 0;
    for (int i = 0; i < rounds; ++i) {
        if (!OneConnection(port, i % 8)) {
            ++failed;
            ASSERT_LT(failed, 5) << "connection " << i << " of kind " << i % 8 << " failed; "
                                 << OpenConnections(port) << " still counted open";
        }
    }
    LeaveWithTheWindowOpen(port);

    const int open = SettledConnections(port);
    const int descriptorsAfter = CountDescriptors(host.Pid());
    const long residentAfter = ResidentKiB(host.Pid());
    std::cout << "soak: " << rounds << " connections; descriptors " << descriptorsBefore << " -> " << descriptorsAfter
              << "; resident " << residentBefore / 1024.0 << " -> " << residentAfter / 1024.0 << " MiB; open " << open
              << "\n";
    EXPECT_EQ(open, 0);
    EXPECT_LE(descriptorsAfter, descriptorsBefore);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer keeps freed memory in quarantine
    EXPECT_LE(residentAfter - residentBefore, 4 * 1024) << "resident memory grew";
#endif

    // It still serves the script and opens a window for a new page.
    EXPECT_TRUE(OneConnection(port, 6));
    int fresh = OpenPage(port);
    ASSERT_GE(fresh, 0);
    ASSERT_TRUE(Loaded(fresh));
    SendAll(fresh, Frame(R"({"type":"call","id":2,"method":"ShowSingleTwain","args":[]})"));
    std::string done = ReadUntil(fresh, "\"type\":\"result\"", 30000);
    EXPECT_NE(done.find("\"type\":\"result\""), std::string::npos) << done;
    ::close(fresh);
}

TEST(HostSoak, SixteenSilentConnectionsHoldTheHostOnlyUntilTheirHeadTimeRunsOut) {
    HostProcess host("once", 20);
    ASSERT_GT(host.Port(), 0);
    std::vector<int> silent;
    for (int i = 0; i < 16; ++i) {
        int fd = Connect(host.Port());
        ASSERT_GE(fd, 0);
        SendAll(fd, "GET / HTTP/1.1\r\n");  // and never the rest
        silent.push_back(fd);
    }
    ::usleep(200 * 1000);
    // The seventeenth is turned away while the sixteen are open.
    int refused = Connect(host.Port());
    ASSERT_GE(refused, 0);
    bool closed = false;
    ReadUntil(refused, "", 1000, &closed);
    EXPECT_TRUE(closed);
    ::close(refused);
    // The host ends each of them when its head has not come in time.
    for (int fd : silent) {
        closed = false;
        ReadUntil(fd, "", 8000, &closed);
        EXPECT_TRUE(closed);
        ::close(fd);
    }
    EXPECT_EQ(SettledConnections(host.Port()), 0);
    int page = OpenPage(host.Port());
    EXPECT_GE(page, 0);
    if (page >= 0) ::close(page);
}

TEST(HostSoak, APageThatStopsAnsweringIsClosedAndOneThatAnswersPingsStays) {
    HostProcess host("once", 20, {"--idle-timeout", "1200"});
    ASSERT_GT(host.Port(), 0);
    int live = OpenPage(host.Port());
    int dead = OpenPage(host.Port());
    ASSERT_GE(live, 0);
    ASSERT_GE(dead, 0);
    ASSERT_TRUE(Loaded(live));
    ASSERT_TRUE(Loaded(dead));
    // The live page answers pings for three idle times; the dead one hears them and says nothing.
    int pings = 0;
    EXPECT_TRUE(AnswerPings(live, 3600, &pings));
    EXPECT_GE(pings, 2);
    bool closed = false;
    ReadUntil(dead, "", 1000, &closed);
    EXPECT_TRUE(closed) << "a page that answers nothing stays open";
    ::close(dead);
    EXPECT_EQ(OpenConnections(host.Port()), 1);
    SendAll(live, Frame(R"({"type":"call","id":3,"method":"AddInno","args":["A1",1,false,"B1"]})"));
    EXPECT_NE(ReadUntil(live, "\"type\":\"result\"", 3000).find("\"result\""), std::string::npos);
    ::close(live);
}

}  // namespace
