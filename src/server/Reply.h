#pragma once
// Reading the server's XML replies.

#include <string>
#include <string_view>

#include "platform/Xml.h"

namespace dorvex {

// The attribute's text, "" when it is absent.
std::string GetAttribute(const XmlNode& node, const std::string& name);
// The text of the first element named `tag` anywhere; `fallback` when there is none or it is empty.
std::string GetContentByTagName(const XmlDocument& document, const std::string& tag, const std::string& fallback);

// The outcome of a reply by its first //ErrCode and //ErrDescription. A reply succeeds only
// when it is one well-formed XML document whose ErrCode (trimmed) is empty or 0 and, when it
// came over HTTP, its status was 2xx. A non-zero ErrCode is the server's refusal whatever the
// status; a 2xx-less status without one is an HTTP failure; an ErrCode that is a number but
// not a 32-bit integer makes the reply malformed.
struct ReplyStatus {
    enum Kind { NotXml, NoErrCode, Success, ServerError, Malformed, HttpFailure } kind = NotXml;
    std::string errCode;         // the ErrCode text, trimmed
    std::string errDescription;  // the ErrDescription text ("" when absent); "HTTP n" for HttpFailure
};
ReplyStatus ReadReplyStatus(const std::string& reply, long httpStatus = 200);

// A reply's bytes as UTF-8 text, by the charset of its Content-Type or else the encoding of its
// XML declaration (UTF-8, UTF-16 and Big5/CP950 among others).
std::string DecodeReply(std::string_view bytes, const std::string& contentType);

}  // namespace dorvex
