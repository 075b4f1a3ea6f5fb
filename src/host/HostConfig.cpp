#include "host/HostConfig.h"

#include <filesystem>
#include <optional>

#include "support/Error.h"

namespace dorvex::host {

std::string HostConfig::DefaultPath() {
    return (std::filesystem::path(SettingsStore::DefaultPath()).parent_path() / "host.ini").string();
}

HostConfig::HostConfig(std::string path) : mStore(std::move(path)) {}

int HostConfig::Port() const {
    std::optional<std::string> text = mStore.Get("Host", "Port");
    if (!text || text->empty() || text->size() > 5) return kDefaultPort;
    int port = 0;
    for (char c : *text) {
        if (c < '0' || c > '9') return kDefaultPort;
        port = port * 10 + (c - '0');
    }
    return port >= 1 && port <= 65535 ? port : kDefaultPort;
}

OriginAccess HostConfig::Access(const std::string& origin) const {
    std::string normal = NormalizeOrigin(origin);
    if (normal.empty()) return OriginAccess::Unlisted;
    std::optional<std::string> value = mStore.Get("Origins", normal);
    return value && (*value == "ask" || *value == "always") ? OriginAccess::Listed : OriginAccess::Unlisted;
}

Consent HostConfig::ConsentOf(const std::string& origin) const {
    return mStore.Get("Origins", NormalizeOrigin(origin)) == std::optional<std::string>("always") ? Consent::Always
                                                                                                : Consent::Ask;
}

std::vector<std::string> HostConfig::Origins() const { return mStore.Keys("Origins"); }

void HostConfig::Allow(const std::string& origin, Consent consent) {
    std::string normal = NormalizeOrigin(origin);
    if (normal.empty()) {
        throw DorvexError(err::InvalidArgument, "'" + origin + "' is not an origin (http:// or https://, a host, a port)");
    }
    mStore.Set("Origins", normal, consent == Consent::Always ? "always" : "ask");
}

void HostConfig::Forget(const std::string& origin) { mStore.Remove("Origins", NormalizeOrigin(origin)); }

}  // namespace dorvex::host
