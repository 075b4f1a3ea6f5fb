#pragma once
// The reference server's storage: documents and their files in SQLite (WAL), file contents in
// files under the data folder written beside and renamed into place. Chunked uploads are
// assembled in a staging folder and become visible only when their last part arrived.
// Thread-safe: one mutex serialises every operation.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

struct sqlite3;

namespace dorvex::refserver {

struct StoredFile {
    int pageIndex = 0;
    std::string path;
    std::int64_t size = 0;
};

struct StoredDocument {
    std::string inno;
    int pages = 0;         // the page count recorded for the document
    bool multiPage = false;  // one multi-page file (page index 0)
    std::vector<StoredFile> files;  // by page index
};

struct UploadPart {
    std::string operatorName;
    std::string name;
    int pages = 0;
    int pageIndex = 0;
    bool overwrite = true;
    std::string dvdPrefix;
    std::string refName;
    std::string parentName;
    long total = 0;
    long part = 0;
    std::string bytes;
    // Who sent the part: the connection (peer address and port). A file's upload belongs to
    // the sender of its part 1; parts from anyone else are refused.
    std::string owner;
};

// The outcome of one operation: 0 or a refusal code with its description.
struct Outcome {
    int code = 0;
    std::string description;
    bool Ok() const { return code == 0; }
};

namespace code {
constexpr int NotXml = -1;
constexpr int UnknownMethod = -2;
constexpr int Exists = -3;
constexpr int BadBase64 = -4;
constexpr int OutOfOrder = -5;
constexpr int StorageFailed = -6;
constexpr int BadRequest = -7;
constexpr int NoSuchPart = -8;
constexpr int Superseded = -9;  // another upload of the same file started after this one
}  // namespace code

class Storage {
public:
    explicit Storage(const std::string& dataDir);
    ~Storage();
    Storage(const Storage&) = delete;
    Storage& operator=(const Storage&) = delete;

    Outcome AddPart(const UploadPart& part);
    // Uploads in progress at once; a part 1 beyond them is refused.
    static constexpr std::size_t kMaxStaging = 256;
    std::optional<StoredDocument> Find(const std::string& inno);
    // The numbers of the documents held, in order, at most `limit`.
    std::vector<std::string> Innos(std::size_t limit);
    // Recorded page count, nullopt when the document is unknown.
    std::optional<int> Pages(const std::string& inno);
    bool SetPages(const std::string& inno, int pages);
    void SetWords(const std::string& inno, const std::vector<std::pair<std::string, std::string>>& words);
    std::vector<std::pair<std::string, std::string>> Words(const std::string& inno);

private:
    struct Staging {
        std::string path;
        long total = 0;
        long next = 1;
        std::int64_t lastUse = 0;
        std::string owner;
    };
    // Operator, document number and page index: compared field by field, so no name can pass
    // for another whatever characters it holds.
    using StagingKey = std::tuple<std::string, std::string, int>;
    Outcome Commit(const UploadPart& part, const Staging& staging);
    void Exec(const std::string& sql);
    void DropStale();

    std::mutex mMutex;
    std::string mDir;
    sqlite3* mDb = nullptr;
    std::map<StagingKey, Staging> mStaging;
};

}  // namespace dorvex::refserver
