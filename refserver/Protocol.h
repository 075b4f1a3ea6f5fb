#pragma once
// The reference server's answers: one XML reply for each request body, and the plain GET
// download of a document's parts.

#include <optional>
#include <string>

#include "refserver/Seed.h"
#include "refserver/Storage.h"

namespace dorvex::refserver {

class Protocol {
public:
    Protocol(Storage& storage, Seed seed) : mStorage(storage), mSeed(std::move(seed)) {}

    // The reply to a POSTed request; never throws.
    std::string Handle(const std::string& body);
    // Where the bytes of part `part` lie for the enciphered, URL-decoded document number;
    // nullopt when there is no such document or part.
    struct FileRange {
        std::string path;
        std::int64_t size = 0;
    };
    std::optional<FileRange> Download(const std::string& encInno, long part);

    // Bytes per part when a multi-page file is served through QueryImgByInno.
    static constexpr std::int64_t kPartSize = 1048576;

private:
    std::string HandleParsed(const std::string& body);
    Storage& mStorage;
    Seed mSeed;
};

// "<Response method=…><ErrCode>…</ErrCode><ErrDescription>…</ErrDescription>…</Response>"
std::string ReplyText(const std::string& method, int code, const std::string& description, const std::string& content = {});
// Percent-decoding of a query value ("+" is a blank; "%A4FD" stands for two bytes).
std::string UrlDecode(const std::string& text);

}  // namespace dorvex::refserver
