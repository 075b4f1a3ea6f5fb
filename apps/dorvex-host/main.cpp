// dorvex-host: the local service that lets web pages on this desk use the control. It listens
// on 127.0.0.1 only and opens the control's windows on the person's desktop.

#include <QApplication>
#include <QFile>
#include <iostream>
#include <memory>

#include "host/HostServer.h"
#include "host/ScriptedDesk.h"
#include "platform/PageMemory.h"
#include "ui/ConsentDialog.h"
#include "ui/QtHost.h"

namespace {

constexpr const char* kUsage = R"(usage: dorvex-host [--port N] [--config FILE]

Serves web pages on this desk: orbscan.js at http://127.0.0.1:PORT/orbscan.js, a health check
at /health, and the control over a WebSocket at ws://127.0.0.1:PORT/ for the origins listed in
the configuration ($XDG_CONFIG_HOME/Dorvex/host.ini; `dorvex host allow ORIGIN`).
  --port N    the port (default: Port in the configuration, else 47615; 0 for a free one)
  --config F  another configuration file
For tests and demonstrations without a person at the screen:
  --scripted-person           a scripted person works the windows (Scan, Upload, Close)
  --person-pause MS           the scripted person's pause between steps (default 300)
  --person-folder DIR         the folder the scripted person picks when asked for one
  --consent-answer A          answers every consent question: once, always or deny
  --idle-timeout MS           a page that answers nothing, not even a ping, for this long is
                              let go (default 600000, ten minutes)
)";

int Usage(const std::string& problem) {
    std::cerr << "dorvex-host: " << problem << "\n" << kUsage;
    return 64;
}

bool ParseNumber(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoi(text);
    return value >= low && value <= high;
}

}  // namespace

int main(int argc, char** argv) {
    // The arguments are read before the application starts, so that --help and a usage error
    // need no display.
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string configPath = dorvex::host::HostConfig::DefaultPath(), folder, consentAnswer;
    int port = -1, pause = 300;
    dorvex::host::HostLimits limits;
    bool scripted = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--scripted-person") {
            scripted = true;
            continue;
        }
        if (i + 1 >= args.size()) return Usage("unknown argument or missing value: '" + arg + "'");
        const std::string& value = args[++i];
        if (arg == "--port") {
            if (!ParseNumber(value, 0, 65535, port)) return Usage("--port takes 0 to 65535");
        } else if (arg == "--config") {
            configPath = value;
        } else if (arg == "--person-pause") {
            if (!ParseNumber(value, 0, 600000, pause)) return Usage("--person-pause takes milliseconds");
        } else if (arg == "--idle-timeout") {
            if (!ParseNumber(value, 100, 86400000, limits.idleMilliseconds)) return Usage("--idle-timeout takes milliseconds");
        } else if (arg == "--person-folder") {
            folder = value;
        } else if (arg == "--consent-answer") {
            if (value != "once" && value != "always" && value != "deny") return Usage("--consent-answer: once, always or deny");
            consentAnswer = value;
        } else {
            return Usage("unknown argument '" + arg + "'");
        }
    }

    dorvex::KeepPageBuffersForReuse();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Dorvex");
    QApplication::setQuitOnLastWindowClosed(false);
    QFile scriptFile(QStringLiteral(":/web/orbscan.js"));
    if (!scriptFile.open(QIODevice::ReadOnly)) {
        std::cerr << "dorvex-host: orbscan.js is missing from this build\n";
        return 1;
    }
    dorvex::host::HostConfig config(configPath);
    if (port < 0) port = config.Port();

    std::unique_ptr<dorvex::IComponentHost> windows;
    if (scripted) windows = std::make_unique<dorvex::host::ScriptedDesk>(folder, pause);
    else windows = std::make_unique<dorvex::ui::QtHost>();
    std::unique_ptr<dorvex::host::IConsentAsker> asker;
    if (consentAnswer.empty()) asker = std::make_unique<dorvex::ui::ConsentDialog>();
    else {
        asker = std::make_unique<dorvex::host::ScriptedConsent>(consentAnswer == "once"     ? dorvex::host::ConsentAnswer::Once
                                                                : consentAnswer == "always" ? dorvex::host::ConsentAnswer::Always
                                                                                            : dorvex::host::ConsentAnswer::Deny);
    }
    dorvex::host::Desk desk{*windows};
    dorvex::host::ConsentKeeper consent(config, *asker);
    dorvex::host::HostServer server(desk, consent, config, scriptFile.readAll(), limits);
    if (!server.Listen(static_cast<quint16>(port))) {
        std::cerr << "dorvex-host: cannot listen on 127.0.0.1:" << port << ": " << server.ErrorString().toStdString()
                  << " (is another dorvex host running?)\n";
        return 1;
    }
    std::cout << "dorvex host: listening on http://127.0.0.1:" << server.Port() << "/ (configuration " << config.Path()
              << ", " << config.Origins().size() << " origin(s) listed)" << std::endl;
    return QApplication::exec();
}
