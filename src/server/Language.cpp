#include "server/Language.h"

#include "platform/Xml.h"

namespace dorvex {

void CLanguage::AddXml(const std::string& xml) {
    auto doc = XmlDocument::Parse(xml);
    if (!doc) return;
    for (const XmlNode& message : doc->Select("//Message")) {
        auto key = message.Attribute("key");
        if (!key) continue;
        Add(*key, message.Attribute("value").value_or(""));
    }
}

std::string CLanguage::GetMessage(const std::string& key, const std::string& fallback) const {
    for (const auto& entry : mEntries) {
        if (entry.MapKey == key) return entry.MapValue;
    }
    return fallback;
}

}  // namespace dorvex
