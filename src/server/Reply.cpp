#include "server/Reply.h"

#include <cctype>
#include <cmath>

#include "support/CodePage.h"
#include "support/ModMath.h"
#include "support/Text.h"

namespace dorvex {

std::string GetAttribute(const XmlNode& node, const std::string& name) { return node.Attribute(name).value_or(""); }

std::string GetContentByTagName(const XmlDocument& document, const std::string& tag, const std::string& fallback) {
    XmlNode node = document.SelectOne("//" + tag);
    if (!node) return fallback;
    std::string text = node.Text();
    return text.empty() ? fallback : text;
}

ReplyStatus ReadReplyStatus(const std::string& reply, long httpStatus) {
    ReplyStatus status;
    const bool httpOk = httpStatus >= 200 && httpStatus < 300;
    auto httpFailure = [&] {
        status.kind = ReplyStatus::HttpFailure;
        status.errDescription = "HTTP " + std::to_string(httpStatus);
        return status;
    };
    auto doc = XmlDocument::Parse(reply);
    if (!doc) return httpOk ? status : httpFailure();
    XmlNode code = doc->SelectOne("//ErrCode");
    if (!code) {
        status.kind = ReplyStatus::NoErrCode;
        return httpOk ? status : httpFailure();
    }
    status.errCode = Trim(code.Text());
    if (XmlNode description = doc->SelectOne("//ErrDescription")) status.errDescription = description.Text();
    if (status.errCode.empty() || status.errCode == "0") {
        status.kind = ReplyStatus::Success;
        return httpOk ? status : httpFailure();
    }
    status.kind = ReplyStatus::ServerError;
    if (IsNumeric(status.errCode)) {
        double value = Val(status.errCode);
        if (!(value >= -2147483648.0 && value <= 2147483647.0) || value != std::floor(value)) status.kind = ReplyStatus::Malformed;
    }
    return status;
}

std::string DecodeReply(std::string_view bytes, const std::string& contentType) {
    auto valueAfter = [](std::string_view text, std::string_view key) -> std::string {
        std::string lower(text);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::size_t at = lower.find(key);
        if (at == std::string::npos) return {};
        std::string_view rest = text.substr(at + key.size());
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '=' )) rest.remove_prefix(1);
        if (!rest.empty() && (rest.front() == '"' || rest.front() == '\'')) {
            char quote = rest.front();
            rest.remove_prefix(1);
            return std::string(rest.substr(0, rest.find(quote)));
        }
        return std::string(rest.substr(0, rest.find_first_of("; \t")));
    };
    std::string charset = valueAfter(contentType, "charset");
    if (charset.empty() && bytes.substr(0, 5) == "<?xml") {
        std::string_view declaration = bytes.substr(0, bytes.find("?>"));
        charset = valueAfter(declaration, "encoding");
    }
    return DecodeText(bytes, charset);
}
}  // namespace dorvex
