#include "refserver/Database.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "support/Error.h"

namespace dorvex::refserver {
namespace {

[[noreturn]] void Fail(const std::string& what) { throw DorvexError(err::DeviceIo, "database: " + what); }

std::string Text(const SqlValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    return std::to_string(std::get<std::int64_t>(value));
}

// SQLite: one connection, one transaction at a time in this process (a second process on the
// same file waits for its write lock).
class SqliteConnection : public SqlConnection {
public:
    explicit SqliteConnection(sqlite3* db) : mDb(db) {}

    SqlResult Run(const std::string& sql, const std::vector<SqlValue>& params) override {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(mDb, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
            Fail(sqlite3_errmsg(mDb));
        }
        std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(stmt, sqlite3_finalize);
        for (std::size_t i = 0; i < params.size(); ++i) {
            int index = sqlite3_bind_parameter_index(stmt, ("$" + std::to_string(i + 1)).c_str());
            if (index == 0) continue;  // a parameter this statement does not use
            int rc = std::holds_alternative<std::int64_t>(params[i])
                         ? sqlite3_bind_int64(stmt, index, std::get<std::int64_t>(params[i]))
                         : sqlite3_bind_text(stmt, index, std::get<std::string>(params[i]).data(),
                                             static_cast<int>(std::get<std::string>(params[i]).size()), SQLITE_TRANSIENT);
            if (rc != SQLITE_OK) Fail(sqlite3_errmsg(mDb));
        }
        SqlResult result;
        int columns = sqlite3_column_count(stmt);
        for (;;) {
            int rc = sqlite3_step(stmt);
            if (rc == SQLITE_DONE) break;
            if (rc != SQLITE_ROW) Fail(sqlite3_errmsg(mDb));
            SqlRow row;
            for (int c = 0; c < columns; ++c) {
                const unsigned char* text = sqlite3_column_text(stmt, c);
                row.emplace_back(text ? std::string(reinterpret_cast<const char*>(text),
                                                    static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)))
                                      : std::string());
            }
            result.rows.push_back(std::move(row));
        }
        result.changed = columns == 0 ? sqlite3_changes(mDb) : 0;
        return result;
    }

private:
    sqlite3* mDb;
};

class SqliteDatabase : public Database {
public:
    explicit SqliteDatabase(const std::string& path) {
        if (sqlite3_open(path.c_str(), &mDb) != SQLITE_OK) {
            std::string message = mDb ? sqlite3_errmsg(mDb) : "out of memory";
            sqlite3_close(mDb);
            Fail("cannot open " + path + ": " + message);
        }
        sqlite3_busy_timeout(mDb, 5000);
        SqliteConnection connection(mDb);
        connection.Run("PRAGMA journal_mode=WAL", {});
        connection.Run("PRAGMA synchronous=NORMAL", {});
    }
    ~SqliteDatabase() override { sqlite3_close(mDb); }

    void Transaction(const std::string&, const std::function<void(SqlConnection&)>& work) override {
        std::lock_guard<std::mutex> guard(mMutex);
        SqliteConnection connection(mDb);
        connection.Run("BEGIN IMMEDIATE", {});
        try {
            work(connection);
            connection.Run("COMMIT", {});
        } catch (...) {
            sqlite3_exec(mDb, "ROLLBACK", nullptr, nullptr, nullptr);  // nothing to do when it fails
            throw;
        }
    }

private:
    std::mutex mMutex;
    sqlite3* mDb = nullptr;
};

// PostgreSQL: a pool of connections, one per transaction in progress; a transaction's lock is
// an advisory lock on the hash of its name, held until it ends.
class PostgresConnection : public SqlConnection {
public:
    explicit PostgresConnection(PGconn* conn) : mConn(conn) {}

    SqlResult Run(const std::string& sql, const std::vector<SqlValue>& params) override {
        // PostgreSQL takes exactly the parameters a statement names.
        std::size_t used = 0;
        for (std::size_t at = sql.find('$'); at != std::string::npos; at = sql.find('$', at + 1)) {
            used = std::max<std::size_t>(used, std::strtoul(sql.c_str() + at + 1, nullptr, 10));
        }
        if (used > params.size()) Fail("a statement names more parameters than it was given: " + sql);
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < used; ++i) texts.push_back(Text(params[i]));
        std::vector<const char*> values;
        for (const auto& text : texts) values.push_back(text.c_str());
        PGresult* raw = PQexecParams(mConn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                                     nullptr, nullptr, 0);
        std::unique_ptr<PGresult, void (*)(PGresult*)> pg(raw, PQclear);
        if (!raw) Fail(PQerrorMessage(mConn));
        ExecStatusType status = PQresultStatus(raw);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail(PQresultErrorMessage(raw));
        SqlResult result;
        int rows = PQntuples(raw);
        int columns = PQnfields(raw);
        for (int r = 0; r < rows; ++r) {
            SqlRow row;
            for (int c = 0; c < columns; ++c) {
                row.emplace_back(PQgetvalue(raw, r, c), static_cast<std::size_t>(PQgetlength(raw, r, c)));
            }
            result.rows.push_back(std::move(row));
        }
        const char* changed = PQcmdTuples(raw);
        result.changed = changed && *changed ? std::strtoll(changed, nullptr, 10) : 0;
        return result;
    }

private:
    PGconn* mConn;
};

class PostgresDatabase : public Database {
public:
    explicit PostgresDatabase(std::string url) : mUrl(std::move(url)) { Release(Connect()); }
    ~PostgresDatabase() override {
        for (PGconn* conn : mIdle) PQfinish(conn);
    }

    void Transaction(const std::string& lock, const std::function<void(SqlConnection&)>& work) override {
        PGconn* conn = Acquire();
        PostgresConnection connection(conn);
        try {
            connection.Run("BEGIN", {});
            if (!lock.empty()) connection.Run("SELECT pg_advisory_xact_lock(hashtextextended($1, 0))", {lock});
            work(connection);
            connection.Run("COMMIT", {});
        } catch (...) {
            PGresult* rollback = PQexec(conn, "ROLLBACK");
            bool usable = rollback && PQresultStatus(rollback) == PGRES_COMMAND_OK && PQstatus(conn) == CONNECTION_OK;
            PQclear(rollback);
            if (usable) {
                Release(conn);
            } else {
                Forget(conn);  // a broken connection is replaced by a new one when needed
            }
            throw;
        }
        Release(conn);
    }

private:
    // Enough for the server's busiest moments; a request beyond them waits for a connection.
    static constexpr std::size_t kMaxConnections = 16;

    PGconn* Connect() {
        PGconn* conn = PQconnectdb(mUrl.c_str());
        if (!conn) Fail("out of memory");
        if (PQstatus(conn) != CONNECTION_OK) {
            std::string message = PQerrorMessage(conn);
            PQfinish(conn);
            Fail("cannot connect to PostgreSQL: " + message);
        }
        PGresult* quiet = PQexec(conn, "SET client_min_messages = warning");
        PQclear(quiet);
        return conn;
    }

    PGconn* Acquire() {
        std::unique_lock<std::mutex> guard(mMutex);
        mFree.wait(guard, [this] { return !mIdle.empty() || mOpen < kMaxConnections; });
        if (!mIdle.empty()) {
            PGconn* conn = mIdle.back();
            mIdle.pop_back();
            return conn;
        }
        ++mOpen;
        guard.unlock();
        try {
            return Connect();
        } catch (...) {
            guard.lock();
            --mOpen;
            mFree.notify_one();
            throw;
        }
    }

    void Release(PGconn* conn) {
        std::lock_guard<std::mutex> guard(mMutex);
        mIdle.push_back(conn);
        mFree.notify_one();
    }

    void Forget(PGconn* conn) {
        PQfinish(conn);
        std::lock_guard<std::mutex> guard(mMutex);
        --mOpen;
        mFree.notify_one();
    }

    std::string mUrl;
    std::mutex mMutex;
    std::condition_variable mFree;
    std::vector<PGconn*> mIdle;
    std::size_t mOpen = 1;  // the first connection, made by the constructor
};

}  // namespace

SqlResult Database::Run(const std::string& sql, const std::vector<SqlValue>& params) {
    SqlResult result;
    Transaction("", [&](SqlConnection& connection) { result = connection.Run(sql, params); });
    return result;
}

std::unique_ptr<Database> OpenSqlite(const std::string& path) { return std::make_unique<SqliteDatabase>(path); }

std::unique_ptr<Database> OpenPostgres(const std::string& url) { return std::make_unique<PostgresDatabase>(url); }

bool IsPostgresUrl(const std::string& url) {
    return url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0;
}

}  // namespace dorvex::refserver
