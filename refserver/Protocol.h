#pragma once
// The reference server's answers: one XML reply for each request body, and the plain GET
// download of a document's parts.

#include <optional>
#include <string>

#include "platform/Xml.h"
#include "refserver/Seed.h"
#include "refserver/Storage.h"

namespace dorvex::refserver {

class Protocol {
public:
    Protocol(Storage& storage, Seed seed) : mStorage(storage), mSeed(std::move(seed)) {}

    // The reply to a POSTed request; never throws. `session` is the value of the sender's
    // session cookie ("" without one): with the operator, it tells whose upload a part is.
    std::string Handle(const std::string& body, const std::string& session = {});
    // Where the bytes of part `part` lie for the enciphered, URL-decoded document number;
    // nullopt when there is no such document or part.
    struct FileRange {
        std::string path;
        std::int64_t size = 0;
    };
    std::optional<FileRange> Download(const std::string& encInno, long part);

    // Bytes per part when a multi-page file is served through QueryImgByInno.
    static constexpr std::int64_t kPartSize = 1048576;
    // Largest part count of one file (1 TiB in 1 MiB parts) and largest page count or index.
    static constexpr long kMaxParts = 1L << 20;
    static constexpr long kMaxPages = 32767;
    // A part number of a query: digits only, 1 to kMaxParts; nullopt otherwise.
    static std::optional<long> PartNumber(const std::string& text);

private:
    std::string HandleParsed(const std::string& body, const std::string& session);
    Storage& mStorage;
    Seed mSeed;
};

// "<Response method=…><ErrCode>…</ErrCode><ErrDescription>…</ErrDescription>…</Response>"
std::string ReplyText(const std::string& method, int code, const std::string& description, const std::string& content = {});
// How deep the elements of a request and of the seed file may lie.
constexpr int kMaxXmlDepth = 32;

// Percent-decoding of a query value ("+" is a blank; "%A4FD" stands for two bytes).
std::string UrlDecode(const std::string& text);

}  // namespace dorvex::refserver
