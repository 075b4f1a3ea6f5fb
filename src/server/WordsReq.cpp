#include "server/WordsReq.h"

#include "server/XmlText.h"
#include "support/CodePage.h"
#include "support/Error.h"

namespace dorvex {

namespace {
bool IsNameStart(char32_t c) {
    return c == U':' || c == U'_' || (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
           (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}
bool IsNameChar(char32_t c) {
    return IsNameStart(c) || c == U'-' || c == U'.' || (c >= U'0' && c <= U'9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}
}  // namespace

bool IsXmlName(const std::string& name) {
    if (!IsValidUtf8(name)) return false;
    std::u32string wide = ToU32(name);
    if (wide.empty() || !IsNameStart(wide.front())) return false;
    for (char32_t c : wide) {
        if (!IsNameChar(c)) return false;
    }
    return true;
}

std::vector<std::string> CDocWordsReq::GetRequestXML() const {
    std::string text = "<Request method=\"UpdateDocWords\"><UpdateDocWords inno=\"" + XmlEscape(Inno) + "\"";
    std::string body;
    if (Document) {
        for (const CPhase& phase : Document->Words()) {
            if (!IsXmlName(phase.Key)) {
                throw DorvexError(err::InvalidArgument, "the field name \"" + phase.Key + "\" cannot be sent");
            }
            body += phase.Value.empty() ? "<" + phase.Key + "/>"
                                        : "<" + phase.Key + ">" + XmlEscape(phase.Value) + "</" + phase.Key + ">";
        }
    }
    text += body.empty() ? "/>" : ">" + body + "</UpdateDocWords>";
    text += "</Request>";
    return {std::string(), text};
}

std::vector<std::string> CFixWordsReq::GetRequestXML() const {
    return {std::string(), "<Request method=\"QueryFixedWords\"></Request>"};
}

}  // namespace dorvex
