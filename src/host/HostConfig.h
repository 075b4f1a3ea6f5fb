#pragma once
// The person's configuration of the local host, in $XDG_CONFIG_HOME/Dorvex/host.ini:
//   [Host]     Port=47615
//   [Origins]  https://desk.example.org=ask     listed: may connect, the person is asked
//              http://127.0.0.1:8080=always      listed, and the person said "always allow"
// An origin that is not listed is refused.

#include <string>
#include <vector>

#include "host/HostRules.h"
#include "model/SettingsStore.h"

namespace dorvex::host {

enum class Consent { Ask, Always };

class HostConfig {
public:
    static constexpr int kDefaultPort = 47615;
    static std::string DefaultPath();

    explicit HostConfig(std::string path = DefaultPath());

    const std::string& Path() const { return mStore.Path(); }
    void Reload() { mStore.Reload(); }
    int Port() const;  // the default when missing or not a port
    void SetPort(int port) { mStore.Set("Host", "Port", std::to_string(port)); }

    OriginAccess Access(const std::string& origin) const;
    // Ask for a listed origin the person has not always allowed.
    Consent ConsentOf(const std::string& origin) const;
    std::vector<std::string> Origins() const;
    // Lists an origin (normalized); throws DorvexError(InvalidArgument) for one that is not.
    void Allow(const std::string& origin, Consent consent);
    void Forget(const std::string& origin);
    void Save() const { mStore.Save(); }

private:
    SettingsStore mStore;
};

}  // namespace dorvex::host
