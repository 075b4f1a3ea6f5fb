#pragma once
// Reading the server's XML replies.

#include <string>

#include "platform/Xml.h"

namespace dorvex {

// The attribute's text, "" when it is absent.
std::string GetAttribute(const XmlNode& node, const std::string& name);
// The text of the first element named `tag` anywhere; `fallback` when there is none or it is empty.
std::string GetContentByTagName(const XmlDocument& document, const std::string& tag, const std::string& fallback);

// The outcome of a reply by its first //ErrCode and //ErrDescription.
struct ReplyStatus {
    enum Kind { NotXml, NoErrCode, Success, ServerError } kind = NotXml;
    std::string errCode;         // the ErrCode text
    std::string errDescription;  // the ErrDescription text ("" when absent)
};
ReplyStatus ReadReplyStatus(const std::string& reply);

}  // namespace dorvex
