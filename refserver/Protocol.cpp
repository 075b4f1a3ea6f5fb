#include "refserver/Protocol.h"

#include <fstream>

#include "platform/Xml.h"
#include "server/Base64.h"
#include "server/Cipher.h"
#include "server/XmlText.h"
#include "support/CodePage.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/ModMath.h"

namespace dorvex::refserver {
namespace {

std::string Attr(const XmlNode& node, const char* name) { return node.Attribute(name).value_or(""); }

// A decimal number of plain digits (an optional leading "-") within [low, high], or nullopt.
std::optional<long> WholeNumber(const std::string& text, long low, long high) {
    std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == start || text.size() - start > 10) return std::nullopt;
    long value = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
    }
    if (start == 1) value = -value;
    if (value < low || value > high) return std::nullopt;
    return value;
}

std::optional<long> WholeAttr(const XmlNode& node, const char* name, long low, long high) {
    return WholeNumber(Attr(node, name), low, high);
}

std::optional<std::string> ReadRange(const std::string& path, std::int64_t offset, std::int64_t length) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    in.seekg(offset);
    std::string data(static_cast<std::size_t>(length), '\0');
    if (!in.read(data.data(), length)) return std::nullopt;
    return data;
}

}  // namespace

std::string ReplyText(const std::string& method, int code, const std::string& description, const std::string& content) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Response method=\"" + XmlEscape(method) + "\"><ErrCode>" +
           std::to_string(code) + "</ErrCode><ErrDescription>" + XmlEscape(description) + "</ErrDescription>" +
           content + "</Response>";
}

std::string UrlDecode(const std::string& text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out.push_back(' ');
        } else if (text[i] == '%' && i + 2 < text.size() + 0 && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string Protocol::Handle(const std::string& body, const std::string& session) {
    try {
        return HandleParsed(body, session);
    } catch (const std::exception& e) {
        return ReplyText("", code::StorageFailed, std::string("the server failed: ") + e.what());
    }
}

std::string Protocol::HandleParsed(const std::string& body, const std::string& session) {
    XmlDocument::Refusal why;
    auto doc = XmlDocument::Parse(body, &why, kMaxXmlDepth);
    if (why == XmlDocument::Refusal::TooDeep) {
        return ReplyText("", code::BadRequest,
                         "the request's elements are nested more than " + std::to_string(kMaxXmlDepth) + " levels deep");
    }
    XmlNode request = doc ? doc->SelectOne("/Request") : XmlNode();
    if (!request) return ReplyText("", code::NotXml, "the request is not XML with a <Request> root element");
    std::string method = Attr(request, "method");
    std::string op = Attr(request, "operator");

    if (method == "BatchUpload") {
        XmlNode upload = request.SelectOne("BatchUpload");
        if (!upload) return ReplyText(method, code::BadRequest, "<BatchUpload> is missing");
        UploadPart part;
        part.operatorName = op;
        part.session = session;
        part.name = Attr(upload, "name");
        auto total = WholeAttr(upload, "total", 1, kMaxParts);
        auto current = WholeAttr(upload, "this", 1, kMaxParts);
        auto pages = WholeAttr(upload, "pages", 0, kMaxPages);
        auto pageIndex = WholeAttr(upload, "pageindex", 0, kMaxPages);
        if (part.name.empty()) return ReplyText(method, code::BadRequest, "the document number (name) is empty");
        if (!total || !current || *current > *total) {
            return ReplyText(method, code::BadRequest, "total and this must be whole numbers with 1 <= this <= total <= " +
                                                           std::to_string(kMaxParts));
        }
        if (!pages || !pageIndex) {
            return ReplyText(method, code::BadRequest,
                             "pages and pageindex must be whole numbers from 0 to " + std::to_string(kMaxPages));
        }
        if (Attr(upload, "encoding") != "base64") return ReplyText(method, code::BadRequest, "encoding must be base64");
        std::optional<std::string> bytes = Base64DecodeStrict(upload.Text());
        if (!bytes) return ReplyText(method, code::BadBase64, "the content is not valid base64");
        if (bytes->empty()) return ReplyText(method, code::BadRequest, "the content is empty: every part carries at least one byte");
        part.total = *total;
        part.part = *current;
        part.pages = static_cast<int>(*pages);
        part.pageIndex = static_cast<int>(*pageIndex);
        part.overwrite = Attr(upload, "overwrite") != "0";
        part.dvdPrefix = Attr(upload, "dvdprefix");
        part.refName = Attr(upload, "refname");
        part.parentName = Attr(upload, "parentname");
        part.bytes = std::move(*bytes);
        Outcome outcome = mStorage.AddPart(part);
        return ReplyText(method, outcome.code, outcome.description);
    }
    if (method == "QueryImgInfoByInno") {
        std::string inno = Attr(request.SelectOne("QueryImgInfoByInno"), "inno");
        auto stored = mStorage.Find(inno);
        long parts = 0;
        if (stored && !stored->files.empty()) {
            parts = stored->multiPage ? static_cast<long>((stored->files.front().size + kPartSize - 1) / kPartSize)
                                      : static_cast<long>(stored->files.size());
        }
        std::string content = "<ImgInfo><Inno>" + XmlEscape(inno) + "</Inno><TotalPart>" + std::to_string(parts) +
                              "</TotalPart><MultiPage>" + (stored && stored->multiPage ? "True" : "False") +
                              "</MultiPage><Pages>" + std::to_string(stored ? stored->pages : 0) + "</Pages></ImgInfo>";
        return ReplyText(method, 0, "", content);
    }
    if (method == "QueryImgByInno") {
        XmlNode query = request.SelectOne("QueryImgByInno");
        std::string inno = Attr(query, "inno");
        auto partNumber = WholeAttr(query, "part", 1, kMaxParts);
        auto stored = mStorage.Find(inno);
        if (!stored || !partNumber) return ReplyText(method, code::NoSuchPart, "no such document or part");
        std::optional<std::string> bytes;
        if (stored->multiPage && !stored->files.empty()) {
            const StoredFile& file = stored->files.front();
            std::int64_t offset = (*partNumber - 1) * kPartSize;
            if (offset < file.size) bytes = ReadRange(file.path, offset, std::min(kPartSize, file.size - offset));
        } else if (*partNumber <= static_cast<long>(stored->files.size())) {
            const StoredFile& file = stored->files[static_cast<std::size_t>(*partNumber - 1)];
            bytes = ReadRange(file.path, 0, file.size);
        }
        if (!bytes) return ReplyText(method, code::NoSuchPart, "no such document or part");
        return ReplyText(method, 0, "", "<ImgData><Part>" + std::to_string(*partNumber) + "</Part><MainData>" +
                                            Base64Encode(*bytes) + "</MainData></ImgData>");
    }
    if (method == "QueryInnoPages") {
        std::string content;
        for (const XmlNode& inno : request.Select("QueryInnoPages/Inno")) {
            auto pages = mStorage.Pages(inno.Text());
            content += "<Ref inno=\"" + XmlEscape(inno.Text()) + "\" pages=\"" + std::to_string(pages.value_or(-1)) + "\"/>";
        }
        return ReplyText(method, 0, "", "<InnoPages>" + content + "</InnoPages>");
    }
    if (method == "InnoPagesUpdate") {
        std::string content;
        for (const XmlNode& ref : request.Select("InnoPagesUpdate/Ref")) {
            std::string inno = Attr(ref, "inno");
            auto pages = WholeAttr(ref, "pages", 0, kMaxPages);
            bool updated = pages && mStorage.SetPages(inno, static_cast<int>(*pages));
            content += "<Ref inno=\"" + XmlEscape(inno) + "\" pages=\"" + (updated ? std::to_string(*pages) : "-2") + "\"/>";
        }
        return ReplyText(method, 0, "", "<InnoPages>" + content + "</InnoPages>");
    }
    if (method == "UpdateDocWords") {
        XmlNode words = request.SelectOne("UpdateDocWords");
        std::string inno = Attr(words, "inno");
        if (inno.empty()) return ReplyText(method, code::BadRequest, "the document number (inno) is empty");
        std::vector<std::pair<std::string, std::string>> fields;
        for (const XmlNode& field : words.Children()) fields.emplace_back(field.Name(), field.Text());
        mStorage.SetWords(inno, fields);
        return ReplyText(method, 0, "");
    }
    if (method == "QueryScanList") return ReplyText(method, 0, "", "<ScanList>" + mSeed.ScanListFor(op) + "</ScanList>");
    if (method == "QueryScanCaps") return ReplyText(method, 0, "", "<ScanCaps>" + mSeed.ScanCapsFor(op) + "</ScanCaps>");
    if (method == "QueryLanguage") return ReplyText(method, 0, "", "<Messages>" + mSeed.messages + "</Messages>");
    if (method == "QueryFixedWords") return ReplyText(method, 0, "", "<Words>" + mSeed.fixedWords + "</Words>");
    return ReplyText(method, code::UnknownMethod, "unknown method \"" + method + "\"");
}

std::optional<long> Protocol::PartNumber(const std::string& text) { return WholeNumber(text, 1, kMaxParts); }

std::optional<Protocol::FileRange> Protocol::Download(const std::string& encInno, long part) {
    std::string inno;
    try {
        auto text = TryFromAnsi(Decrypt(encInno));
        if (!text) return std::nullopt;
        inno = *text;
    } catch (const DorvexError&) {
        return std::nullopt;
    }
    auto stored = mStorage.Find(inno);
    if (!stored || part < 1 || part > kMaxParts || stored->files.empty()) return std::nullopt;
    // A multi-page document is one file: part 1 is all of it.
    if (stored->multiPage) {
        if (part != 1) return std::nullopt;
        return FileRange{stored->files.front().path, stored->files.front().size};
    }
    if (part > static_cast<long>(stored->files.size())) return std::nullopt;
    const StoredFile& file = stored->files[static_cast<std::size_t>(part - 1)];
    return FileRange{file.path, file.size};
}

}  // namespace dorvex::refserver
