#include "refserver/Storage.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>

#include "support/Error.h"
#include "support/ModFS.h"
#include "support/Random.h"

namespace dorvex::refserver {
namespace {

constexpr std::int64_t kStaleSeconds = 3600;

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// Starts writing the file's new data to disk now, so that the sync before it is committed
// finds little left to do.
void StartWriteback(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    ::close(fd);
}

std::string RandomName() {
    static const char kHex[] = "0123456789abcdef";
    std::string name;
    for (char byte : SystemRandomBytes(12)) {
        name.push_back(kHex[(static_cast<unsigned char>(byte) >> 4) & 15]);
        name.push_back(kHex[static_cast<unsigned char>(byte) & 15]);
    }
    return name;
}

struct Statement {
    sqlite3_stmt* stmt = nullptr;
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
            throw DorvexError(err::DeviceIo, std::string("storage: ") + sqlite3_errmsg(db));
        }
    }
    ~Statement() { sqlite3_finalize(stmt); }
    Statement& Bind(int i, const std::string& text) {
        sqlite3_bind_text(stmt, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int i, std::int64_t value) {
        sqlite3_bind_int64(stmt, i, value);
        return *this;
    }
    bool Step() {
        int rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw DorvexError(err::DeviceIo, std::string("storage: ") + sqlite3_errmsg(sqlite3_db_handle(stmt)));
    }
    std::string Text(int column) const {
        const unsigned char* text = sqlite3_column_text(stmt, column);
        return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(stmt, column))) : std::string();
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(stmt, column); }
};

}  // namespace

Storage::Storage(const std::string& dataDir) : mDir(dataDir) {
    std::filesystem::create_directories(mDir + "/files");
    // Unfinished uploads do not survive a restart: their clients have long given up.
    std::filesystem::remove_all(mDir + "/staging");
    std::filesystem::create_directories(mDir + "/staging");
    if (sqlite3_open((mDir + "/dorvex.db").c_str(), &mDb) != SQLITE_OK) {
        std::string message = mDb ? sqlite3_errmsg(mDb) : "out of memory";
        sqlite3_close(mDb);
        throw DorvexError(err::DeviceIo, "cannot open the database in " + mDir + ": " + message);
    }
    sqlite3_busy_timeout(mDb, 5000);
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
    Exec("CREATE TABLE IF NOT EXISTS documents(inno TEXT PRIMARY KEY, pages INTEGER NOT NULL, "
         "multipage INTEGER NOT NULL, operator TEXT, dvdprefix TEXT, refname TEXT, parentname TEXT, updated INTEGER)");
    Exec("CREATE TABLE IF NOT EXISTS files(inno TEXT NOT NULL, pageindex INTEGER NOT NULL, path TEXT NOT NULL, "
         "size INTEGER NOT NULL, PRIMARY KEY(inno, pageindex))");
    Exec("CREATE TABLE IF NOT EXISTS words(inno TEXT NOT NULL, seq INTEGER NOT NULL, key TEXT NOT NULL, "
         "value TEXT NOT NULL, PRIMARY KEY(inno, seq))");
}

Storage::~Storage() { sqlite3_close(mDb); }

void Storage::Exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(mDb, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "unknown error";
        sqlite3_free(message);
        throw DorvexError(err::DeviceIo, "storage: " + text);
    }
}

void Storage::DropStale() {
    std::int64_t now = Now();
    for (auto it = mStaging.begin(); it != mStaging.end();) {
        if (now - it->second.lastUse > kStaleSeconds) {
            std::remove(it->second.path.c_str());
            it = mStaging.erase(it);
        } else {
            ++it;
        }
    }
}

Outcome Storage::AddPart(const UploadPart& part) {
    std::lock_guard<std::mutex> guard(mMutex);
    DropStale();
    StagingKey key{part.operatorName, part.name, part.pageIndex};
    std::string which = part.name + " (page index " + std::to_string(part.pageIndex) + ")";
    auto found = mStaging.find(key);
    if (part.part == 1) {
        // A new first part starts the file over, whoever sent the parts before it; their
        // sender's next part is refused.
        if (found != mStaging.end()) {
            std::remove(found->second.path.c_str());
            mStaging.erase(found);
        }
        if (!part.overwrite) {
            Statement exists(mDb, "SELECT 1 FROM documents WHERE inno = ?");
            if (exists.Bind(1, part.name).Step()) {
                return {code::Exists, "文件 " + part.name + " 已存在，未允許覆蓋 (overwrite=\"0\")"};
            }
        }
        if (mStaging.size() >= kMaxStaging) {
            return {code::StorageFailed, "the server has too many uploads in progress; try again later"};
        }
        found = mStaging.emplace(key, Staging{mDir + "/staging/" + RandomName(), part.total, 1, Now(), part.owner}).first;
    }
    if (found != mStaging.end() && found->second.owner != part.owner) {
        return {code::Superseded, "another upload of " + which + " started after this one and replaced it; this upload "
                                  "was abandoned and must start again from part 1"};
    }
    if (found == mStaging.end() || found->second.next != part.part || found->second.total != part.total) {
        std::string expected = found == mStaging.end() ? std::string("1") : std::to_string(found->second.next);
        if (found != mStaging.end()) {
            std::remove(found->second.path.c_str());
            mStaging.erase(found);
        }
        return {code::OutOfOrder, "part " + std::to_string(part.part) + " of " + std::to_string(part.total) +
                                      " arrived out of order (expected part " + expected + "); the upload of " +
                                      which + " must start again from part 1"};
    }
    Staging& staging = found->second;
    if (!AppendBytesToFile(part.bytes, staging.path)) {
        std::remove(staging.path.c_str());
        mStaging.erase(found);
        return {code::StorageFailed, "the server could not store the file: " + std::string(std::strerror(errno))};
    }
    StartWriteback(staging.path);
    staging.next++;
    staging.lastUse = Now();
    if (part.part < part.total) return {};
    Staging done = staging;
    mStaging.erase(found);
    Outcome outcome = Commit(part, done);
    if (!outcome.Ok()) std::remove(done.path.c_str());
    return outcome;
}

Outcome Storage::Commit(const UploadPart& part, const Staging& staging) {
    if (!part.overwrite) {
        Statement exists(mDb, "SELECT 1 FROM documents WHERE inno = ?");
        if (exists.Bind(1, part.name).Step()) {
            return {code::Exists, "文件 " + part.name + " 已存在，未允許覆蓋 (overwrite=\"0\")"};
        }
    }
    std::string target = mDir + "/files/" + RandomName();
    if (!SyncFile(staging.path) || std::rename(staging.path.c_str(), target.c_str()) != 0) {
        return {code::StorageFailed, "the server could not store the file: " + std::string(std::strerror(errno))};
    }
    std::vector<std::string> obsolete;
    try {
        Exec("BEGIN IMMEDIATE");
        {
            // Page index 0 replaces the whole document; a page index replaces that page and any
            // multi-page file the document had.
            Statement old(mDb, part.pageIndex == 0
                                   ? "SELECT path FROM files WHERE inno = ?1"
                                   : "SELECT path FROM files WHERE inno = ?1 AND (pageindex = 0 OR pageindex = ?2 OR pageindex > ?3)");
            old.Bind(1, part.name);
            if (part.pageIndex != 0) old.Bind(2, part.pageIndex).Bind(3, std::max(part.pages, part.pageIndex));
            while (old.Step()) obsolete.push_back(old.Text(0));
            Statement drop(mDb, part.pageIndex == 0
                                    ? "DELETE FROM files WHERE inno = ?1"
                                    : "DELETE FROM files WHERE inno = ?1 AND (pageindex = 0 OR pageindex = ?2 OR pageindex > ?3)");
            drop.Bind(1, part.name);
            if (part.pageIndex != 0) drop.Bind(2, part.pageIndex).Bind(3, std::max(part.pages, part.pageIndex));
            drop.Step();
        }
        {
            Statement add(mDb, "INSERT INTO files(inno, pageindex, path, size) VALUES(?, ?, ?, ?)");
            struct stat st {};
            ::stat(target.c_str(), &st);
            add.Bind(1, part.name).Bind(2, part.pageIndex).Bind(3, target).Bind(4, static_cast<std::int64_t>(st.st_size)).Step();
        }
        {
            Statement doc(mDb,
                          "INSERT INTO documents(inno, pages, multipage, operator, dvdprefix, refname, parentname, updated) "
                          "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8) ON CONFLICT(inno) DO UPDATE SET pages = ?2, "
                          "multipage = ?3, operator = ?4, dvdprefix = ?5, refname = ?6, parentname = ?7, updated = ?8");
            doc.Bind(1, part.name).Bind(2, part.pages).Bind(3, part.pageIndex == 0 ? 1 : 0).Bind(4, part.operatorName)
                .Bind(5, part.dvdPrefix).Bind(6, part.refName).Bind(7, part.parentName).Bind(8, Now()).Step();
        }
        Exec("COMMIT");
    } catch (const DorvexError& e) {
        sqlite3_exec(mDb, "ROLLBACK", nullptr, nullptr, nullptr);
        std::remove(target.c_str());
        return {code::StorageFailed, std::string("the server could not record the file: ") + e.what()};
    }
    for (const auto& path : obsolete) std::remove(path.c_str());
    return {};
}

std::optional<StoredDocument> Storage::Find(const std::string& inno) {
    std::lock_guard<std::mutex> guard(mMutex);
    Statement doc(mDb, "SELECT pages, multipage FROM documents WHERE inno = ?");
    if (!doc.Bind(1, inno).Step()) return std::nullopt;
    StoredDocument result;
    result.inno = inno;
    result.pages = static_cast<int>(doc.Int(0));
    result.multiPage = doc.Int(1) != 0;
    Statement files(mDb, "SELECT pageindex, path, size FROM files WHERE inno = ? ORDER BY pageindex");
    files.Bind(1, inno);
    while (files.Step()) result.files.push_back({static_cast<int>(files.Int(0)), files.Text(1), files.Int(2)});
    return result;
}

std::vector<std::string> Storage::Innos(std::size_t limit) {
    std::lock_guard<std::mutex> guard(mMutex);
    Statement list(mDb, "SELECT inno FROM documents ORDER BY inno LIMIT ?");
    list.Bind(1, static_cast<std::int64_t>(limit));
    std::vector<std::string> innos;
    while (list.Step()) innos.push_back(list.Text(0));
    return innos;
}

std::optional<int> Storage::Pages(const std::string& inno) {
    std::lock_guard<std::mutex> guard(mMutex);
    Statement doc(mDb, "SELECT pages FROM documents WHERE inno = ?");
    if (!doc.Bind(1, inno).Step()) return std::nullopt;
    return static_cast<int>(doc.Int(0));
}

bool Storage::SetPages(const std::string& inno, int pages) {
    std::lock_guard<std::mutex> guard(mMutex);
    Statement update(mDb, "UPDATE documents SET pages = ? WHERE inno = ?");
    update.Bind(1, pages).Bind(2, inno).Step();
    return sqlite3_changes(mDb) > 0;
}

void Storage::SetWords(const std::string& inno, const std::vector<std::pair<std::string, std::string>>& words) {
    std::lock_guard<std::mutex> guard(mMutex);
    Exec("BEGIN IMMEDIATE");
    try {
        Statement drop(mDb, "DELETE FROM words WHERE inno = ?");
        drop.Bind(1, inno).Step();
        std::int64_t seq = 0;
        for (const auto& [key, value] : words) {
            Statement add(mDb, "INSERT INTO words(inno, seq, key, value) VALUES(?, ?, ?, ?)");
            add.Bind(1, inno).Bind(2, ++seq).Bind(3, key).Bind(4, value).Step();
        }
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(mDb, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::vector<std::pair<std::string, std::string>> Storage::Words(const std::string& inno) {
    std::lock_guard<std::mutex> guard(mMutex);
    Statement select(mDb, "SELECT key, value FROM words WHERE inno = ? ORDER BY seq");
    select.Bind(1, inno);
    std::vector<std::pair<std::string, std::string>> words;
    while (select.Step()) words.emplace_back(select.Text(0), select.Text(1));
    return words;
}

}  // namespace dorvex::refserver
