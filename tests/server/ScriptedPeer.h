#pragma once
// A scripted HTTP peer on loopback for the failure paths: each connection gets the next scripted
// action (answer with a body and status, close without answering, or hang); when the script is
// used up the listening socket is closed, so later connections are refused. Every request it
// read is recorded. Each answer closes its connection.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dorvex::test {

struct PeerAction {
    enum Kind { Answer, Close, Hang, Trickle } kind = Answer;
    std::string body;
    int status = 200;
    std::string contentType = "text/xml";
    static PeerAction Reply(std::string body, int status = 200, std::string contentType = "text/xml") {
        return {Answer, std::move(body), status, std::move(contentType)};
    }
    static PeerAction CloseWithoutAnswer() { return {Close, {}, 0}; }
    static PeerAction NeverAnswer() { return {Hang, {}, 0}; }
    // Answers two bytes of `body` a second (for at most 30 s), after a complete header.
    static PeerAction TrickleReply(std::string body) { return {Trickle, std::move(body), 200}; }
};

struct PeerRequest {
    std::string head;  // request line and headers
    std::string body;
    std::string Path() const { return head.substr(head.find(' ') + 1, head.find(' ', head.find(' ') + 1) - head.find(' ') - 1); }
    bool HasHeader(const std::string& name) const {
        std::string lower = head;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string wanted = "\r\n" + name;
        for (char& c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lower.find(wanted) != std::string::npos;
    }
    std::string Header(const std::string& name) const {
        std::size_t at = head.find("\r\n" + name + ":");
        if (at == std::string::npos) return {};
        std::size_t start = at + name.size() + 3;
        while (start < head.size() && head[start] == ' ') ++start;
        return head.substr(start, head.find("\r\n", start) - start);
    }
};

class ScriptedPeer {
public:
    // `repeatLast`: keep giving the last action instead of closing the listener.
    explicit ScriptedPeer(std::vector<PeerAction> script, bool repeatLast = false)
        : mScript(std::move(script)), mRepeatLast(repeatLast) {
        mListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int yes = 1;
        ::setsockopt(mListener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(mListener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(mListener, 16);
        socklen_t length = sizeof address;
        ::getsockname(mListener, reinterpret_cast<sockaddr*>(&address), &length);
        mPort = ntohs(address.sin_port);
        mThread = std::thread([this] { Serve(); });
    }
    ~ScriptedPeer() {
        mStop = true;
        mThread.join();
        if (mListener >= 0) ::close(mListener);
        for (int fd : mHanging) ::close(fd);
    }

    std::string Url(const std::string& path = "/dorvex/upload.php") const {
        return "http://127.0.0.1:" + std::to_string(mPort) + path;
    }
    std::vector<PeerRequest> Requests() {
        std::lock_guard<std::mutex> guard(mMutex);
        return mRequests;
    }

private:
    void Serve() {
        std::size_t next = 0;
        while (!mStop) {
            if (next >= mScript.size() && !mRepeatLast) {
                ::close(mListener);
                mListener = -1;
                return;
            }
            pollfd p{mListener, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            int fd = ::accept4(mListener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            const PeerAction& action = mScript[std::min(next, mScript.size() - 1)];
            ++next;
            PeerRequest request;
            bool complete = ReadRequest(fd, request);
            if (complete) {
                std::lock_guard<std::mutex> guard(mMutex);
                mRequests.push_back(request);
            }
            if (action.kind == PeerAction::Hang) {
                mHanging.push_back(fd);
                continue;
            }
            std::string head = "HTTP/1.1 " + std::to_string(action.status) + " Scripted\r\nContent-Length: " +
                               std::to_string(action.body.size()) + "\r\nContent-Type: " + action.contentType +
                               "\r\nConnection: close\r\n\r\n";
            if (action.kind == PeerAction::Answer) {
                std::string response = head + action.body;
                ::send(fd, response.data(), response.size(), MSG_NOSIGNAL);
            }
            if (action.kind == PeerAction::Trickle) {
                ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
                for (std::size_t at = 0; at < action.body.size() && at < 60 && !mStop; at += 2) {
                    if (::send(fd, action.body.data() + at, std::min<std::size_t>(2, action.body.size() - at), MSG_NOSIGNAL) <= 0) break;
                    std::this_thread::sleep_for(std::chrono::seconds(1));
                }
            }
            ::close(fd);
        }
    }

    bool ReadRequest(int fd, PeerRequest& request) {
        std::string data;
        char buffer[65536];
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::size_t headEnd = std::string::npos;
        std::size_t wanted = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) return false;
            data.append(buffer, static_cast<std::size_t>(got));
            if (headEnd == std::string::npos) {
                headEnd = data.find("\r\n\r\n");
                if (headEnd == std::string::npos) continue;
                request.head = data.substr(0, headEnd);
                std::string length = request.Header("Content-Length");
                wanted = length.empty() ? 0 : std::stoul(length);
            }
            if (data.size() >= headEnd + 4 + wanted) {
                request.body = data.substr(headEnd + 4, wanted);
                return true;
            }
        }
        return false;
    }

    std::vector<PeerAction> mScript;
    bool mRepeatLast;
    int mListener = -1;
    int mPort = 0;
    std::atomic<bool> mStop{false};
    std::thread mThread;
    std::mutex mMutex;
    std::vector<PeerRequest> mRequests;
    std::vector<int> mHanging;
};

}  // namespace dorvex::test
