#pragma once
// The reference server's storage: documents, their files' metadata, words and the uploads in
// progress in a database (SQLite in the data folder, or PostgreSQL shared by several server
// instances); file contents under the data folder (shared by those instances), each assembled
// in a staging file and renamed into place once its last part arrived and was flushed. Any
// instance may take any part of an upload: all the state between parts is in the database.
// Thread-safe.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dorvex::refserver {

class Database;
class SqlConnection;

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
    // Who sent the part, with the operator: the session cookie's value ("" without one),
    // whatever connection carried it. A file's upload belongs to the sender of its part 1;
    // parts from anyone else are refused.
    std::string session;
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
    // `databaseUrl` "" keeps the database in dataDir/dorvex.db (SQLite); a PostgreSQL URI
    // puts it there (the schema is made on first use). Throws DorvexError when it cannot open.
    explicit Storage(const std::string& dataDir, const std::string& databaseUrl = "");
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
    struct Staging;
    Outcome AddPartLocked(SqlConnection& db, const UploadPart& part, std::vector<std::string>& dropOnSuccess,
                          std::vector<std::string>& dropOnFailure);
    Outcome Commit(SqlConnection& db, const UploadPart& part, const Staging& staging,
                   std::vector<std::string>& dropOnSuccess, std::vector<std::string>& dropOnFailure);
    void DropStale(bool sweepFolder);
    std::string Resolve(const std::string& stored) const;

    std::string mDir;
    std::unique_ptr<Database> mDb;
    std::atomic<std::int64_t> mLastSweep{0};
};

}  // namespace dorvex::refserver
