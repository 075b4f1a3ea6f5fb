#pragma once
// The per-user settings file: an INI file ($XDG_CONFIG_HOME/Dorvex/Dorvex.ini, else
// ~/.config/Dorvex/Dorvex.ini). Reading never fails: a missing, unreadable, damaged or foreign
// file reads as whatever well-formed "key=value" lines it holds. Writing replaces the file
// atomically and keeps sections and keys it does not know about.

#include <optional>
#include <string>
#include <vector>

namespace dorvex {

class SettingsStore {
public:
    // The default per-user file.
    static std::string DefaultPath();

    explicit SettingsStore(std::string path = DefaultPath());

    const std::string& Path() const { return mPath; }
    void Reload();
    std::optional<std::string> Get(const std::string& section, const std::string& key) const;
    void Set(const std::string& section, const std::string& key, const std::string& value);
    void Remove(const std::string& section, const std::string& key);
    // The keys of a section, in file order.
    std::vector<std::string> Keys(const std::string& section) const;
    // Writes the file (creating its folder); throws DorvexError when it cannot.
    void Save() const;

private:
    struct Entry {
        std::string section;
        std::string key;
        std::string value;
    };
    std::string mPath;
    std::vector<Entry> mEntries;  // in file order
};

}  // namespace dorvex
