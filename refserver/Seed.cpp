#include "refserver/Seed.h"

#include "platform/Xml.h"
#include "refserver/Protocol.h"
#include "support/Error.h"
#include "support/ModFS.h"

namespace dorvex::refserver {
namespace {

std::string InnerXml(const XmlNode& node) {
    std::string text;
    for (const XmlNode& child : node.Children()) text += child.OuterXml();
    return text;
}

const std::string& Lookup(const std::map<std::string, std::string>& table, const std::string& operatorName) {
    static const std::string kEmpty;
    if (auto it = table.find(operatorName); it != table.end()) return it->second;
    if (auto it = table.find("*"); it != table.end()) return it->second;
    return kEmpty;
}

}  // namespace

const std::string& Seed::ScanListFor(const std::string& operatorName) const { return Lookup(scanLists, operatorName); }
const std::string& Seed::ScanCapsFor(const std::string& operatorName) const { return Lookup(scanCaps, operatorName); }

Seed ParseSeed(const std::string& xml) {
    XmlDocument::Refusal why;
    auto doc = XmlDocument::Parse(xml, &why, kMaxXmlDepth);
    if (why == XmlDocument::Refusal::TooDeep) {
        throw DorvexError(err::InvalidArgument, "the seed file's elements are nested too deep");
    }
    if (!doc || !doc->SelectOne("/Seed")) {
        throw DorvexError(err::InvalidArgument, "the seed file is not XML with a <Seed> root element");
    }
    Seed seed;
    for (const XmlNode& op : doc->Select("/Seed/Operator")) {
        std::string name = op.Attribute("name").value_or("*");
        seed.scanLists[name] = InnerXml(op.SelectOne("ScanList"));
        seed.scanCaps[name] = InnerXml(op.SelectOne("ScanCaps"));
    }
    seed.messages = InnerXml(doc->SelectOne("/Seed/Messages"));
    seed.fixedWords = InnerXml(doc->SelectOne("/Seed/FixedWords"));
    return seed;
}

Seed LoadSeed(const std::string& path) { return ParseSeed(ReadFileBytes(path)); }

}  // namespace dorvex::refserver
