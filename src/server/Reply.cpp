#include "server/Reply.h"

namespace dorvex {

std::string GetAttribute(const XmlNode& node, const std::string& name) { return node.Attribute(name).value_or(""); }

std::string GetContentByTagName(const XmlDocument& document, const std::string& tag, const std::string& fallback) {
    XmlNode node = document.SelectOne("//" + tag);
    if (!node) return fallback;
    std::string text = node.Text();
    return text.empty() ? fallback : text;
}

ReplyStatus ReadReplyStatus(const std::string& reply) {
    ReplyStatus status;
    auto doc = XmlDocument::Parse(reply);
    if (!doc) return status;
    XmlNode code = doc->SelectOne("//ErrCode");
    if (!code) {
        status.kind = ReplyStatus::NoErrCode;
        return status;
    }
    status.errCode = code.Text();
    if (XmlNode description = doc->SelectOne("//ErrDescription")) status.errDescription = description.Text();
    status.kind = status.errCode.empty() || status.errCode == "0" ? ReplyStatus::Success : ReplyStatus::ServerError;
    return status;
}

}  // namespace dorvex
