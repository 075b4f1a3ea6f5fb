#include "model/SettingsStore.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "support/CodePage.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/Text.h"

namespace dorvex {
namespace {

// Values may hold any text; backslash, CR and LF are escaped so that one entry is one line.
std::string Escape(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

std::optional<std::string> Unescape(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            out += value[i];
            continue;
        }
        if (++i == value.size()) return std::nullopt;
        if (value[i] == '\\') out += '\\';
        else if (value[i] == 'n') out += '\n';
        else if (value[i] == 'r') out += '\r';
        else return std::nullopt;
    }
    return out;
}

void MakeParentFolder(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return;
    std::string folder = path.substr(0, slash);
    for (std::size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
        std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            throw DorvexError(err::PathNotFound, "cannot create " + part + ": " + std::strerror(errno));
        }
        if (at == std::string::npos) break;
    }
}

}  // namespace

std::string SettingsStore::DefaultPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "/tmp") + "/.config";
    }
    return base + "/Dorvex/Dorvex.ini";
}

SettingsStore::SettingsStore(std::string path) : mPath(std::move(path)) { Reload(); }

void SettingsStore::Reload() {
    mEntries.clear();
    std::ifstream in(mPath, std::ios::binary);
    if (!in) return;
    std::string section;
    std::string line;
    while (std::getline(in, line)) {
        if (!IsValidUtf8(line)) continue;
        std::string trimmed = Trim(line, " \t\r");
        if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') continue;
        if (trimmed.front() == '[' && trimmed.back() == ']') {
            section = Trim(trimmed.substr(1, trimmed.size() - 2), " \t\r");
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string::npos || section.empty()) continue;
        std::string key = Trim(line.substr(0, eq), " \t\r");
        std::string raw = line.substr(eq + 1);
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        auto value = Unescape(raw);
        if (key.empty() || !value) continue;
        Set(section, key, *value);
    }
}

std::optional<std::string> SettingsStore::Get(const std::string& section, const std::string& key) const {
    for (const auto& entry : mEntries) {
        if (entry.section == section && entry.key == key) return entry.value;
    }
    return std::nullopt;
}

void SettingsStore::Set(const std::string& section, const std::string& key, const std::string& value) {
    for (auto& entry : mEntries) {
        if (entry.section == section && entry.key == key) {
            entry.value = value;
            return;
        }
    }
    // Keep a section's keys together: insert after its last key.
    auto last = mEntries.end();
    for (auto it = mEntries.begin(); it != mEntries.end(); ++it) {
        if (it->section == section) last = it + 1;
    }
    mEntries.insert(last, Entry{section, key, value});
}

void SettingsStore::Remove(const std::string& section, const std::string& key) {
    std::erase_if(mEntries, [&](const Entry& entry) { return entry.section == section && entry.key == key; });
}

std::vector<std::string> SettingsStore::Keys(const std::string& section) const {
    std::vector<std::string> keys;
    for (const auto& entry : mEntries) {
        if (entry.section == section) keys.push_back(entry.key);
    }
    return keys;
}

void SettingsStore::Save() const {
    std::ostringstream out;
    std::string section;
    bool first = true;
    for (const auto& entry : mEntries) {
        if (first || entry.section != section) {
            if (!first) out << '\n';
            out << '[' << entry.section << "]\n";
            section = entry.section;
            first = false;
        }
        out << entry.key << '=' << Escape(entry.value) << '\n';
    }
    MakeParentFolder(mPath);
    WriteFileAtomic(mPath, out.str());
}

}  // namespace dorvex
