#pragma once
// The reference server: speaks the control's whole protocol over HTTP at every path, stores
// uploads under a data folder, and answers the questions it does not store from a seed file.

#include <cstddef>
#include <memory>
#include <string>

namespace dorvex::refserver {

struct RefServerOptions {
    std::string host = "127.0.0.1";
    int port = 0;  // 0: any free port
    std::string dataDir;
    std::string seedFile;  // "" for an empty seed
    std::size_t maxBody = 8 * 1024 * 1024;  // bytes of one request body
    // "" keeps the database in dataDir (SQLite); a PostgreSQL URI puts it there, so that
    // several instances sharing it and dataDir serve the same documents.
    std::string databaseUrl;
    // The cookie that tells the clients apart (the page's SessionIdName).
    std::string sessionCookie = "SessionID";
};

class RefServer {
public:
    // Opens the storage and reads the seed; throws DorvexError on failure.
    explicit RefServer(const RefServerOptions& options);
    ~RefServer();
    RefServer(const RefServer&) = delete;
    RefServer& operator=(const RefServer&) = delete;

    // Binds and serves on a background thread; returns the port. Throws when it cannot bind.
    int Start();
    // Serves on the calling thread until Stop() (from a signal handler's thread or another).
    void Run();
    void Stop();
    int Port() const { return mPort; }
    std::string BaseUrl() const;

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
    int mPort = 0;
};

}  // namespace dorvex::refserver
