#pragma once
// The reference server's database behind one small interface, so that the storage logic is
// written once: SQL text with $1, $2, ... parameters runs on SQLite (one file beside the data,
// the embedded default) or on PostgreSQL (shared by several server instances). Values come
// back as text (NULL as ""). Every failure throws DorvexError.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace dorvex::refserver {

using SqlValue = std::variant<std::string, std::int64_t>;
using SqlRow = std::vector<std::string>;

struct SqlResult {
    std::vector<SqlRow> rows;
    std::int64_t changed = 0;  // rows inserted, updated or deleted
};

// One connection inside a transaction.
class SqlConnection {
public:
    virtual ~SqlConnection() = default;
    virtual SqlResult Run(const std::string& sql, const std::vector<SqlValue>& params = {}) = 0;
};

class Database {
public:
    virtual ~Database() = default;
    // Runs `work` in one transaction: committed when it returns, rolled back when it throws.
    // Transactions naming the same `lock` run one after another, on every server instance that
    // shares the database; "" takes no lock.
    virtual void Transaction(const std::string& lock, const std::function<void(SqlConnection&)>& work) = 0;
    // One statement in a transaction of its own.
    SqlResult Run(const std::string& sql, const std::vector<SqlValue>& params = {});
};

std::unique_ptr<Database> OpenSqlite(const std::string& path);
// `url` is a libpq connection URI (postgresql://user@host:port/dbname?...).
std::unique_ptr<Database> OpenPostgres(const std::string& url);
bool IsPostgresUrl(const std::string& url);

}  // namespace dorvex::refserver
