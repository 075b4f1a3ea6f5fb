#include <csignal>
#include <iostream>

#include "Commands.h"
#include "refserver/Database.h"
#include "refserver/RefServer.h"
#include "support/Error.h"

namespace dorvex::cli {

int Server(const Args& args) {
    refserver::RefServerOptions options;
    std::string listen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (i + 1 >= args.size()) return UsageError(arg + " needs a value");
        const std::string& value = args[++i];
        if (arg == "--listen") listen = value;
        else if (arg == "--data") options.dataDir = value;
        else if (arg == "--seed") options.seedFile = value;
        else if (arg == "--max-body") options.maxBody = std::strtoull(value.c_str(), nullptr, 10);
        else if (arg == "--db") options.databaseUrl = value;
        else if (arg == "--session-cookie") options.sessionCookie = value;
        else return UsageError("unknown option '" + arg + "'");
    }
    std::size_t colon = listen.rfind(':');
    if (listen.empty() || colon == std::string::npos) return UsageError("server needs --listen HOST:PORT");
    if (options.dataDir.empty()) return UsageError("server needs --data DIR");
    if (!options.databaseUrl.empty() && !refserver::IsPostgresUrl(options.databaseUrl)) {
        return UsageError("--db takes a PostgreSQL URI (postgresql://USER@HOST:PORT/DBNAME)");
    }
    if (options.sessionCookie.empty()) return UsageError("--session-cookie needs a cookie name");
    if (options.maxBody < 1024) return UsageError("--max-body must be at least 1024 bytes");
    options.host = listen.substr(0, colon);
    options.port = std::atoi(listen.substr(colon + 1).c_str());

    // Ctrl-C and SIGTERM are taken by sigwait below, on this thread, so the server stops cleanly.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    try {
        refserver::RefServer server(options);
        server.Start();
        std::cout << "listening on " << server.BaseUrl() << std::endl;
        int received = 0;
        sigwait(&stopSignals, &received);
        server.Stop();
        std::cout << "stopped" << std::endl;
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "dorvex server: " << e.what() << "\n";
        return 2;
    }
}

}  // namespace dorvex::cli
