#pragma once
// The message map: server message keys ("msg.20", "tdesc", ...) to texts. Duplicates are
// allowed; a lookup takes the first match.

#include <string>
#include <vector>

namespace dorvex {

struct CLanguageFragment {
    std::string MapKey;
    std::string MapValue;
};

class CLanguage {
public:
    void Add(const std::string& key, const std::string& value) { mEntries.push_back({key, value}); }
    // Adds every //Message (attributes key and value) of a reply; a reply that is not XML adds
    // nothing, and a Message without a key is skipped.
    void AddXml(const std::string& xml);
    std::string GetMessage(const std::string& key, const std::string& fallback) const;
    std::size_t Count() const { return mEntries.size(); }

private:
    std::vector<CLanguageFragment> mEntries;
};

}  // namespace dorvex
