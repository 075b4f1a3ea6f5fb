#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "Commands.h"
#include "host/HostConfig.h"
#include "support/Error.h"
#include "support/ModFS.h"

namespace dorvex::cli {
namespace {

constexpr const char* kHostUsage = R"(usage: dorvex host [--port N] [--config FILE]      run the host (dorvex-host)
       dorvex host allow ORIGIN [--always]           list an origin
       dorvex host forget ORIGIN                     take an origin off the list
       dorvex host origins                           show the list and the port
       dorvex host port N                            set the port (default 47615)

The host lets web pages on this desk use the control: it listens on 127.0.0.1 only, serves
orbscan.js, and opens the control's windows here for pages of the listed origins, after asking
you (allow once, always allow, deny). --always lists an origin as already always allowed.
The list is kept in $XDG_CONFIG_HOME/Dorvex/host.ini. See docs/host.md.
)";

}  // namespace

int Host(const Args& args) {
    std::string verb = args.empty() ? "" : args.front();
    if (verb == "--help" || verb == "-h") {
        std::cout << kHostUsage;
        return 0;
    }
    if (verb != "allow" && verb != "forget" && verb != "origins" && verb != "port") {
        std::string host = BesideThisProgram("dorvex-host");
        if (!FileExists(host)) {
            std::cerr << "dorvex host: " << host << " is not installed (it needs Qt 6 WebSockets)\n";
            return 2;
        }
        bool scripted = std::find(args.begin(), args.end(), "--scripted-person") != args.end();
        if (!scripted && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) {
            std::cerr << "dorvex host: no desktop session here (DISPLAY and WAYLAND_DISPLAY are unset): the host "
                         "opens its windows on the person's desktop; start it from the desktop session or with "
                         "`systemctl --user start dorvex-host`\n";
            return 2;
        }
        std::vector<std::string> all{host};
        all.insert(all.end(), args.begin(), args.end());
        ExecProgram(all);
        std::cerr << "dorvex host: cannot start " << host << "\n";
        return 2;
    }
    host::HostConfig config;
    try {
        if (verb == "origins" && args.size() == 1) {
            std::cout << "port " << config.Port() << " (" << config.Path() << ")\n";
            for (const std::string& origin : config.Origins()) {
                std::cout << origin << (config.ConsentOf(origin) == host::Consent::Always ? "  always allowed" : "  asks")
                          << "\n";
            }
            return 0;
        }
        if (verb == "allow" && (args.size() == 2 || (args.size() == 3 && args[2] == "--always"))) {
            config.Allow(args[1], args.size() == 3 ? host::Consent::Always : host::Consent::Ask);
        } else if (verb == "forget" && args.size() == 2) {
            config.Forget(args[1]);
        } else if (verb == "port" && args.size() == 2 && args[1].size() <= 5 &&
                   args[1].find_first_not_of("0123456789") == std::string::npos && !args[1].empty() &&
                   std::stoi(args[1]) >= 1 && std::stoi(args[1]) <= 65535) {
            config.SetPort(std::stoi(args[1]));
        } else {
            return UsageError("host " + verb + ": see dorvex host --help");
        }
        config.Save();
    } catch (const DorvexError& e) {
        std::cerr << "dorvex host: " << e.what() << "\n";
        return 2;
    }
    std::cout << "saved " << config.Path() << "\n";
    return 0;
}

}  // namespace dorvex::cli
