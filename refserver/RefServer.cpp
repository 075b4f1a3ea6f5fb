#include "refserver/RefServer.h"

#include <httplib.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <thread>

#include "refserver/DemoPage.h"
#include "refserver/Protocol.h"
#include "refserver/Seed.h"
#include "refserver/Storage.h"
#include "support/Error.h"

namespace dorvex::refserver {

struct RefServer::Impl {
    RefServerOptions options;
    Storage storage;
    Protocol protocol;
    httplib::Server http;
    std::thread thread;

    Impl(const RefServerOptions& opts)
        : options(opts),
          storage(opts.dataDir, opts.databaseUrl),
          protocol(storage, opts.seedFile.empty() ? Seed{} : LoadSeed(opts.seedFile)) {}

    // Worker threads: each connection holds one while it is open, so that many slow or idle
    // connections can wait without keeping a normal client out.
    static constexpr std::size_t kWorkers = 192;
    // Seconds a connection may stay silent in a request, and between two requests.
    static constexpr time_t kReadTimeout = 5;
    static constexpr time_t kKeepAliveTimeout = 10;

    // The declared length of the body, UINT64_MAX when it cannot be read; nullopt without one.
    static std::optional<std::uint64_t> DeclaredLength(const httplib::Request& request) {
        if (!request.has_header("Content-Length")) return std::nullopt;
        std::string text = request.get_header_value("Content-Length");
        if (text.empty() || text.size() > 19) return UINT64_MAX;
        std::uint64_t value = 0;
        for (char c : text) {
            if (c < '0' || c > '9') return UINT64_MAX;
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
        }
        return value;
    }

    // The value of the cookie `name` ("" when the request has none): the sender of an upload,
    // whichever connection or proxy carried the request.
    static std::string SessionCookie(const httplib::Request& request, const std::string& name) {
        std::size_t count = request.get_header_value_count("Cookie");
        for (std::size_t i = 0; i < count; ++i) {
            std::string header = request.get_header_value("Cookie", i);
            std::size_t at = 0;
            while (at < header.size()) {
                std::size_t end = header.find(';', at);
                if (end == std::string::npos) end = header.size();
                std::string pair = header.substr(at, end - at);
                at = end + 1;
                std::size_t first = pair.find_first_not_of(' ');
                if (first == std::string::npos) continue;
                std::size_t equals = pair.find('=', first);
                if (equals == std::string::npos || pair.compare(first, equals - first, name) != 0) continue;
                std::string value = pair.substr(equals + 1);
                while (!value.empty() && value.back() == ' ') value.pop_back();
                if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
                return value;
            }
        }
        return "";
    }

    // Ends the exchange with a refusal; the connection is not kept for another request, as
    // the rest of the body is never read.
    void Refuse(httplib::Response& response, int status, const std::string& description) const {
        response.status = status;
        response.set_header("Connection", "close");
        response.set_content(ReplyText("", code::BadRequest, description), "text/xml; charset=utf-8");
    }

    std::string TooLong() const {
        return "the request body exceeds the server's limit of " + std::to_string(options.maxBody) + " bytes";
    }

    void Routes() {
        http.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
        http.set_payload_max_length(options.maxBody);
        http.set_tcp_nodelay(true);  // a reply in two writes must not wait for a delayed ACK
        http.set_keep_alive_max_count(1000);  // an upload of many parts keeps its connection
        http.set_keep_alive_timeout(kKeepAliveTimeout);
        http.set_read_timeout(kReadTimeout, 0);
        http.set_write_timeout(30, 0);
        http.set_expect_100_continue_handler([this](const httplib::Request& request, httplib::Response& response) {
            auto length = DeclaredLength(request);
            if (length && *length > options.maxBody) {
                Refuse(response, 413, TooLong());
                return 413;
            }
            return 100;
        });
        http.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
            if (request.method != "POST") {
                // Only a POST carries a body; another request with one is not read.
                auto length = DeclaredLength(request);
                if ((length && *length != 0) || request.has_header("Transfer-Encoding")) {
                    Refuse(response, 400, "only a POST request carries a body");
                    return httplib::Server::HandlerResponse::Handled;
                }
                return httplib::Server::HandlerResponse::Unhandled;
            }
            // The body is the request's XML whatever type it declares: no form or multipart
            // parsing (the request object is the server's own, handed over read-only).
            auto& own = const_cast<httplib::Request&>(request);
            own.headers.erase("Content-Type");
            return httplib::Server::HandlerResponse::Unhandled;
        });
        http.Post(".*", [this](const httplib::Request& request, httplib::Response& response,
                               const httplib::ContentReader& reader) { Post(request, response, reader); });
        http.Get(".*", [this](const httplib::Request& request, httplib::Response& response) { Get(request, response); });
        http.set_error_handler([this](const httplib::Request&, httplib::Response& response) {
            // httplib's own 413 (a body it read itself) gets the same answer as ours.
            if (response.status == 413 && response.body.empty()) {
                if (!response.has_header("Connection")) response.set_header("Connection", "close");
                response.set_content(ReplyText("", code::BadRequest, TooLong()), "text/xml; charset=utf-8");
            }
        });
    }

    // The body is read as it arrives and refused as soon as it passes the limit, whether its
    // length was declared or it comes in chunks.
    void Post(const httplib::Request& request, httplib::Response& response, const httplib::ContentReader& reader) {
        auto length = DeclaredLength(request);
        if (length && *length > options.maxBody) return Refuse(response, 413, TooLong());
        std::string body;
        bool tooLong = false;
        bool read = reader([&](const char* data, std::size_t size) {
            if (size > options.maxBody - body.size()) {
                tooLong = true;
                return false;
            }
            body.append(data, size);
            return true;
        });
        if (tooLong) return Refuse(response, 413, TooLong());
        if (!read) return Refuse(response, 400, "the request body could not be read");
        response.set_content(protocol.Handle(body, SessionCookie(request, options.sessionCookie)), "text/xml; charset=utf-8");
    }

    void Get(const httplib::Request& request, httplib::Response& response) {
        const std::string& path = request.path;
        std::string base = "http://" + options.host + ":" + std::to_string(request.local_port) + "/";
        if (ServeDemo(request, response, storage, base)) return;
        if (path.size() >= 8 && path.compare(path.size() - 8, 8, "temp.php") == 0) {
            response.set_content("OK", "text/plain");
            return;
        }
        if (!request.has_param("enc_inno")) {
            response.set_content("Dorvex reference server: POST requests to any path; see docs/protocol.md\n",
                                 "text/plain");
            return;
        }
        // httplib has already percent-decoded the query value.
        std::string enc = request.get_param_value("enc_inno");
        auto part = Protocol::PartNumber(request.get_param_value("part"));
        auto range = part ? protocol.Download(enc, *part) : std::nullopt;
        if (!range) {
            response.status = 404;
            response.set_content("no such document or part\n", "text/plain");
            return;
        }
        auto file = std::make_shared<std::ifstream>(range->path, std::ios::binary);
        if (!*file) {
            response.status = 500;
            return;
        }
        response.set_content_provider(static_cast<std::size_t>(range->size), "application/octet-stream",
                                      [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                          std::string buffer(std::min<std::size_t>(length, 65536), '\0');
                                          file->seekg(static_cast<std::streamoff>(offset));
                                          file->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                                          std::size_t got = static_cast<std::size_t>(file->gcount());
                                          if (got == 0) return false;
                                          sink.write(buffer.data(), got);
                                          return true;
                                      });
    }
};

RefServer::RefServer(const RefServerOptions& options) : mImpl(std::make_unique<Impl>(options)) { mImpl->Routes(); }

RefServer::~RefServer() { Stop(); }

int RefServer::Start() {
    const RefServerOptions& options = mImpl->options;
    mPort = options.port == 0 ? mImpl->http.bind_to_any_port(options.host.c_str())
                              : (mImpl->http.bind_to_port(options.host.c_str(), options.port) ? options.port : -1);
    if (mPort <= 0) {
        throw DorvexError(err::DeviceIo, "cannot listen on " + options.host + ":" + std::to_string(options.port));
    }
    mImpl->thread = std::thread([this] { mImpl->http.listen_after_bind(); });
    return mPort;
}

void RefServer::Run() {
    if (mImpl->thread.joinable()) mImpl->thread.join();
}

void RefServer::Stop() {
    mImpl->http.stop();
    if (mImpl->thread.joinable()) mImpl->thread.join();
}

std::string RefServer::BaseUrl() const { return "http://" + mImpl->options.host + ":" + std::to_string(mPort) + "/"; }

}  // namespace dorvex::refserver
