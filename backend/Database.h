#pragma once
// The SQL database under the backend's store: an SQLite file for a small community, a PostgreSQL
// server for a large one. Both run the same statements: parameters are written $1, $2, ... and
// every column comes back as text. Each statement is correct on its own (no read-then-write), so
// several backend processes may share one database; a transaction only groups the statements of
// one request, so that they reach the disk in one flush.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace lumivale::backend {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using SqlValue = std::variant<std::int64_t, std::string>;
// Rows of columns; NULL reads as empty text.
using SqlRows = std::vector<std::vector<std::string>>;

class Database {
public:
    virtual ~Database() = default;
    // Runs one statement with its parameters; safe from several threads at once. Throws StoreError.
    virtual SqlRows Run(const char* sql, const std::vector<SqlValue>& values = {}) = 0;
    // Runs `work` as one transaction: the statements it runs on this database (on this thread)
    // commit together, or not at all when it throws. Not nested.
    virtual void Transaction(const std::function<void()>& work) = 0;
    virtual bool IsPostgres() const = 0;
};

// "postgresql://…" or "postgres://…" (libpq's connection address) opens a PostgreSQL database with
// up to `connections` connections; anything else is the path of an SQLite file, created when
// missing. Throws StoreError.
std::unique_ptr<Database> OpenDatabase(const std::string& address, int connections);

std::unique_ptr<Database> OpenSqlite(const std::string& file);
std::unique_ptr<Database> OpenPostgres(const std::string& address, int connections);

// The integer a column holds (0 for anything else).
std::int64_t ColumnInt(const std::string& text);

}  // namespace lumivale::backend
