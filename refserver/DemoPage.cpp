#include "refserver/DemoPage.h"

#include <httplib.h>

#include "refserver/Storage.h"
#include "server/Cipher.h"
#include "support/Error.h"

namespace dorvex::refserver {

extern const char* const kDemoHtml;  // web/demo.html, built in

namespace {

constexpr std::size_t kMaxListed = 500;
constexpr std::size_t kMaxEncipher = 256;
constexpr const char* kDemoOperator = "王小明";

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
        else if (c < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

void Replace(std::string& text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
}

}  // namespace

bool ServeDemo(const httplib::Request& request, httplib::Response& response, Storage& storage,
               const std::string& baseUrl) {
    const std::string& path = request.path;
    if (path == "/demo") {
        response.set_redirect("/demo/");
        return true;
    }
    if (path == "/demo/") {
        // The cipher's alphabet holds no quote or backslash: safe inside the page's strings.
        std::string page = kDemoHtml;
        Replace(page, "{{ENC_SERVER_URL}}", EncryptText(baseUrl + "upload.php"));
        Replace(page, "{{ENC_OPERATOR}}", EncryptText(kDemoOperator));
        response.set_header("Cache-Control", "no-store");
        response.set_content(page, "text/html; charset=utf-8");
        return true;
    }
    if (path == "/demo/holdings") {
        std::string json = "[";
        for (const std::string& inno : storage.Innos(kMaxListed)) {
            std::optional<StoredDocument> doc = storage.Find(inno);
            if (!doc) continue;
            if (json.size() > 1) json += ",";
            json += "{\"inno\":" + JsonText(inno) + ",\"pages\":" + std::to_string(doc->pages) +
                    ",\"files\":" + std::to_string(doc->files.size()) + "}";
        }
        response.set_header("Cache-Control", "no-store");
        response.set_content(json + "]", "application/json");
        return true;
    }
    if (path == "/demo/enc") {
        std::string text = request.get_param_value("text");
        try {
            if (text.size() > kMaxEncipher) throw DorvexError(err::InvalidArgument, "too long");
            response.set_content(EncryptText(text), "text/plain; charset=utf-8");
        } catch (const DorvexError& e) {
            response.status = 400;
            response.set_content(std::string(e.what()) + "\n", "text/plain; charset=utf-8");
        }
        return true;
    }
    return false;
}

}  // namespace dorvex::refserver
