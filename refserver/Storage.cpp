#include "refserver/Storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "refserver/Database.h"
#include "support/Error.h"
#include "support/ModFS.h"
#include "support/Random.h"

namespace dorvex::refserver {
namespace {

constexpr std::int64_t kStaleSeconds = 3600;
// How often an instance looks for uploads gone stale.
constexpr std::int64_t kSweepSeconds = 60;

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::int64_t Number(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

std::string RandomName() {
    static const char kHex[] = "0123456789abcdef";
    std::string name;
    for (char byte : SystemRandomBytes(12)) {
        name.push_back(kHex[(static_cast<unsigned char>(byte) >> 4) & 15]);
        name.push_back(kHex[static_cast<unsigned char>(byte) & 15]);
    }
    return name;
}

std::string ErrnoMessage() { return std::strerror(errno); }

// Writes a part at `offset` of its staging file and cuts off what lies beyond it, so a part
// that an interrupted attempt wrote only in part is written over whole. Starts writing the
// data to disk now, so that the sync before the file is stored finds little left to do.
bool WritePart(const std::string& path, std::int64_t offset, const std::string& bytes, bool create) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0), 0644);
    if (fd < 0) return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<std::size_t>(n);
    }
    if (ok && ::ftruncate(fd, static_cast<off_t>(offset) + static_cast<off_t>(bytes.size())) != 0) ok = false;
    if (ok) ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);  // only a hint: its failure changes nothing
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    errno = saved;
    return ok;
}

// A rename is kept across a crash only once its folder is flushed too.
bool SyncFolder(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

const char* const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS documents(inno TEXT PRIMARY KEY, pages BIGINT NOT NULL, multipage BIGINT NOT NULL, "
    "operator TEXT, dvdprefix TEXT, refname TEXT, parentname TEXT, updated BIGINT)",
    "CREATE TABLE IF NOT EXISTS files(inno TEXT NOT NULL, pageindex BIGINT NOT NULL, path TEXT NOT NULL, "
    "size BIGINT NOT NULL, PRIMARY KEY(inno, pageindex))",
    "CREATE TABLE IF NOT EXISTS words(inno TEXT NOT NULL, seq BIGINT NOT NULL, key TEXT NOT NULL, "
    "value TEXT NOT NULL, PRIMARY KEY(inno, seq))",
    // One upload in progress per file: its sender, how far it got and where its bytes lie.
    "CREATE TABLE IF NOT EXISTS staging(inno TEXT NOT NULL, pageindex BIGINT NOT NULL, operator TEXT NOT NULL, "
    "session TEXT NOT NULL, total BIGINT NOT NULL, next BIGINT NOT NULL, size BIGINT NOT NULL, path TEXT NOT NULL, "
    "lastuse BIGINT NOT NULL, PRIMARY KEY(inno, pageindex))",
};

Outcome Refused(int code, const std::string& description) { return {code, description}; }

Outcome ExistsRefusal(const std::string& name) {
    return {code::Exists, "文件 " + name + " 已存在，未允許覆蓋 (overwrite=\"0\")"};
}

}  // namespace

struct Storage::Staging {
    std::string operatorName, session, path;
    std::int64_t total = 0, next = 1, size = 0;
};

Storage::Storage(const std::string& dataDir, const std::string& databaseUrl) : mDir(dataDir) {
    std::filesystem::create_directories(mDir + "/files");
    std::filesystem::create_directories(mDir + "/staging");
    mDb = databaseUrl.empty() ? OpenSqlite(mDir + "/dorvex.db") : OpenPostgres(databaseUrl);
    // Instances starting at once make the schema one after another.
    mDb->Transaction("dorvex schema", [](SqlConnection& db) {
        for (const char* sql : kSchema) db.Run(sql);
    });
    DropStale(true);
}

Storage::~Storage() = default;

// Paths are kept relative to the data folder, which instances may mount at different places;
// a database from before holds absolute ones.
std::string Storage::Resolve(const std::string& stored) const {
    return !stored.empty() && stored[0] == '/' ? stored : mDir + "/" + stored;
}

void Storage::DropStale(bool sweepFolder) {
    std::int64_t now = Now();
    auto stale = mDb->Run("DELETE FROM staging WHERE lastuse < $1 RETURNING path", {now - kStaleSeconds});
    for (const auto& row : stale.rows) std::remove(Resolve(row[0]).c_str());
    mLastSweep = now;
    if (!sweepFolder) return;
    // Staging files that no upload names: left by an instance killed before it recorded them.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(mDir + "/staging", ignored)) {
        struct stat st {};
        if (::stat(entry.path().c_str(), &st) != 0 || now - st.st_mtime <= kStaleSeconds) continue;
        std::string relative = "staging/" + entry.path().filename().string();
        if (mDb->Run("SELECT 1 FROM staging WHERE path = $1", {relative}).rows.empty()) {
            std::remove(entry.path().c_str());
        }
    }
}

Outcome Storage::AddPart(const UploadPart& part) {
    if (Now() - mLastSweep >= kSweepSeconds) DropStale(false);
    // Files to remove once the outcome is decided: old staging and obsolete files when the
    // transaction commits, files it had made when it does not.
    std::vector<std::string> dropOnSuccess, dropOnFailure;
    Outcome outcome;
    try {
        mDb->Transaction(part.name, [&](SqlConnection& db) { outcome = AddPartLocked(db, part, dropOnSuccess, dropOnFailure); });
    } catch (const DorvexError& e) {
        for (const auto& path : dropOnFailure) std::remove(path.c_str());
        return Refused(code::StorageFailed, std::string("the server could not record the part: ") + e.what());
    }
    for (const auto& path : dropOnSuccess) std::remove(path.c_str());
    return outcome;
}

// Runs in the document's transaction: no other part of the document is taken meanwhile, on
// this instance or another.
Outcome Storage::AddPartLocked(SqlConnection& db, const UploadPart& part, std::vector<std::string>& dropOnSuccess,
                               std::vector<std::string>& dropOnFailure) {
    std::string which = part.name + " (page index " + std::to_string(part.pageIndex) + ")";
    const std::vector<SqlValue> key{part.name, static_cast<std::int64_t>(part.pageIndex)};
    auto drop = [&](const Staging& staging) {
        db.Run("DELETE FROM staging WHERE inno = $1 AND pageindex = $2", key);
        dropOnSuccess.push_back(Resolve(staging.path));
    };
    std::optional<Staging> found;
    auto rows = db.Run("SELECT operator, session, total, next, size, path FROM staging WHERE inno = $1 AND pageindex = $2", key).rows;
    if (!rows.empty()) found = Staging{rows[0][0], rows[0][1], rows[0][5], Number(rows[0][2]), Number(rows[0][3]), Number(rows[0][4])};
    if (part.part == 1) {
        // A new first part starts the file over, whoever sent the parts before it; their
        // sender's next part is refused.
        if (found) drop(*found);
        found.reset();
        if (!part.overwrite && !db.Run("SELECT 1 FROM documents WHERE inno = $1", {part.name}).rows.empty()) {
            return ExistsRefusal(part.name);
        }
        if (Number(db.Run("SELECT count(*) FROM staging").rows.at(0).at(0)) >= static_cast<std::int64_t>(kMaxStaging)) {
            return Refused(code::StorageFailed, "the server has too many uploads in progress; try again later");
        }
        Staging fresh{part.operatorName, part.session, "staging/" + RandomName(), part.total, 1, 0};
        db.Run("INSERT INTO staging(inno, pageindex, operator, session, total, next, size, path, lastuse) "
               "VALUES($1, $2, $3, $4, $5, 1, 0, $6, $7)",
               {part.name, static_cast<std::int64_t>(part.pageIndex), part.operatorName, part.session,
                static_cast<std::int64_t>(part.total), fresh.path, Now()});
        found = fresh;
    }
    if (found && (found->operatorName != part.operatorName || found->session != part.session)) {
        return Refused(code::Superseded, "another upload of " + which + " started after this one and replaced it; this "
                                         "upload was abandoned and must start again from part 1");
    }
    if (!found || found->next != part.part || found->total != part.total) {
        std::string expected = found ? std::to_string(found->next) : std::string("1");
        if (found) drop(*found);
        return Refused(code::OutOfOrder, "part " + std::to_string(part.part) + " of " + std::to_string(part.total) +
                                             " arrived out of order (expected part " + expected + "); the upload of " +
                                             which + " must start again from part 1");
    }
    Staging& staging = *found;
    std::string stagingPath = Resolve(staging.path);
    if (part.part == 1) dropOnFailure.push_back(stagingPath);
    if (!WritePart(stagingPath, staging.size, part.bytes, part.part == 1)) {
        std::string why = ErrnoMessage();
        drop(staging);
        return Refused(code::StorageFailed, "the server could not store the file: " + why);
    }
    staging.size += static_cast<std::int64_t>(part.bytes.size());
    if (part.part < part.total) {
        db.Run("UPDATE staging SET next = next + 1, size = $3, lastuse = $4 WHERE inno = $1 AND pageindex = $2",
               {part.name, static_cast<std::int64_t>(part.pageIndex), staging.size, Now()});
        return {};
    }
    db.Run("DELETE FROM staging WHERE inno = $1 AND pageindex = $2", key);
    Outcome outcome = Commit(db, part, staging, dropOnSuccess, dropOnFailure);
    if (!outcome.Ok()) dropOnSuccess.push_back(stagingPath);
    return outcome;
}

Outcome Storage::Commit(SqlConnection& db, const UploadPart& part, const Staging& staging,
                        std::vector<std::string>& dropOnSuccess, std::vector<std::string>& dropOnFailure) {
    if (!part.overwrite && !db.Run("SELECT 1 FROM documents WHERE inno = $1", {part.name}).rows.empty()) {
        return ExistsRefusal(part.name);
    }
    std::string target = "files/" + RandomName();
    if (!SyncFile(Resolve(staging.path)) || std::rename(Resolve(staging.path).c_str(), Resolve(target).c_str()) != 0 ||
        !SyncFolder(mDir + "/files")) {
        return Refused(code::StorageFailed, "the server could not store the file: " + ErrnoMessage());
    }
    dropOnFailure.push_back(Resolve(target));
    // Page index 0 replaces the whole document; a page index replaces that page and any
    // multi-page file the document had.
    std::vector<SqlValue> which{part.name, static_cast<std::int64_t>(part.pageIndex),
                                static_cast<std::int64_t>(std::max(part.pages, part.pageIndex))};
    const char* condition = part.pageIndex == 0 ? " WHERE inno = $1"
                                                : " WHERE inno = $1 AND (pageindex = 0 OR pageindex = $2 OR pageindex > $3)";
    for (const auto& row : db.Run(std::string("SELECT path FROM files") + condition, which).rows) {
        dropOnSuccess.push_back(Resolve(row[0]));
    }
    db.Run(std::string("DELETE FROM files") + condition, which);
    db.Run("INSERT INTO files(inno, pageindex, path, size) VALUES($1, $2, $3, $4)",
           {part.name, static_cast<std::int64_t>(part.pageIndex), target, staging.size});
    db.Run("INSERT INTO documents(inno, pages, multipage, operator, dvdprefix, refname, parentname, updated) "
           "VALUES($1, $2, $3, $4, $5, $6, $7, $8) ON CONFLICT(inno) DO UPDATE SET pages = $2, "
           "multipage = $3, operator = $4, dvdprefix = $5, refname = $6, parentname = $7, updated = $8",
           {part.name, static_cast<std::int64_t>(part.pages), static_cast<std::int64_t>(part.pageIndex == 0 ? 1 : 0),
            part.operatorName, part.dvdPrefix, part.refName, part.parentName, Now()});
    return {};
}

std::optional<StoredDocument> Storage::Find(const std::string& inno) {
    // One statement: the document and its files as one commit left them.
    auto rows = mDb->Run("SELECT d.pages, d.multipage, f.pageindex, f.path, f.size FROM documents d "
                         "LEFT JOIN files f ON f.inno = d.inno WHERE d.inno = $1 ORDER BY f.pageindex",
                         {inno}).rows;
    if (rows.empty()) return std::nullopt;
    StoredDocument result;
    result.inno = inno;
    result.pages = static_cast<int>(Number(rows[0][0]));
    result.multiPage = Number(rows[0][1]) != 0;
    for (const auto& row : rows) {
        if (row[3].empty()) continue;  // a document without files
        result.files.push_back({static_cast<int>(Number(row[2])), Resolve(row[3]), Number(row[4])});
    }
    return result;
}

std::vector<std::string> Storage::Innos(std::size_t limit) {
    std::vector<std::string> innos;
    for (const auto& row : mDb->Run("SELECT inno FROM documents ORDER BY inno LIMIT $1", {static_cast<std::int64_t>(limit)}).rows) {
        innos.push_back(row[0]);
    }
    return innos;
}

std::optional<int> Storage::Pages(const std::string& inno) {
    auto rows = mDb->Run("SELECT pages FROM documents WHERE inno = $1", {inno}).rows;
    if (rows.empty()) return std::nullopt;
    return static_cast<int>(Number(rows[0][0]));
}

bool Storage::SetPages(const std::string& inno, int pages) {
    return mDb->Run("UPDATE documents SET pages = $1 WHERE inno = $2", {static_cast<std::int64_t>(pages), inno}).changed > 0;
}

void Storage::SetWords(const std::string& inno, const std::vector<std::pair<std::string, std::string>>& words) {
    mDb->Transaction(inno, [&](SqlConnection& db) {
        db.Run("DELETE FROM words WHERE inno = $1", {inno});
        std::int64_t seq = 0;
        for (const auto& [key, value] : words) {
            db.Run("INSERT INTO words(inno, seq, key, value) VALUES($1, $2, $3, $4)", {inno, ++seq, key, value});
        }
    });
}

std::vector<std::pair<std::string, std::string>> Storage::Words(const std::string& inno) {
    std::vector<std::pair<std::string, std::string>> words;
    for (const auto& row : mDb->Run("SELECT key, value FROM words WHERE inno = $1 ORDER BY seq", {inno}).rows) {
        words.emplace_back(row[0], row[1]);
    }
    return words;
}

}  // namespace dorvex::refserver
