#include "refserver/RefServer.h"

#include <httplib.h>

#include <fstream>
#include <thread>

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
          storage(opts.dataDir),
          protocol(storage, opts.seedFile.empty() ? Seed{} : LoadSeed(opts.seedFile)) {}

    void Routes() {
        http.set_payload_max_length(options.maxBody);
        http.set_tcp_nodelay(true);  // a reply in two writes must not wait for a delayed ACK
        http.set_keep_alive_max_count(1000);  // an upload of many parts keeps its connection
        http.set_read_timeout(60, 0);
        http.set_write_timeout(60, 0);
        http.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
            std::string sender = request.remote_addr + " " + std::to_string(request.remote_port);
            response.set_content(protocol.Handle(request.body, sender), "text/xml; charset=utf-8");
        });
        http.Get(".*", [this](const httplib::Request& request, httplib::Response& response) { Get(request, response); });
        http.set_error_handler([](const httplib::Request&, httplib::Response& response) {
            if (response.status == 413) {
                response.set_content(ReplyText("", code::BadRequest, "the request body exceeds the server's limit"),
                                     "text/xml; charset=utf-8");
            }
        });
    }

    void Get(const httplib::Request& request, httplib::Response& response) {
        const std::string& path = request.path;
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
