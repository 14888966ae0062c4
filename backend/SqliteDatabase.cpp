// The store's SQLite file: one connection shared under a mutex (held through a transaction),
// write-ahead logging, so that reads never wait for a writer of another process on the same file.
#include <sqlite3.h>

#include <memory>
#include <mutex>
#include <string>

#include "Database.h"

namespace lumivale::backend {

namespace {

class SqliteDatabase : public Database {
public:
    explicit SqliteDatabase(const std::string& file) {
        if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                            nullptr) != SQLITE_OK) {
            const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw StoreError("cannot open " + file + ": " + message);
        }
        sqlite3_busy_timeout(db_, 5000);
        try {
            Run("PRAGMA journal_mode=WAL", {});
        } catch (...) {
            sqlite3_close(db_);
            throw;
        }
    }
    ~SqliteDatabase() override { sqlite3_close(db_); }

    void Transaction(const std::function<void()>& work) override {
        std::lock_guard lock(mutex_);
        Run("BEGIN IMMEDIATE", {});
        try {
            work();
            Run("COMMIT", {});
        } catch (...) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    SqlRows Run(const char* sql, const std::vector<SqlValue>& values) override {
        std::lock_guard lock(mutex_);
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db_, sql, -1, &raw, nullptr) != SQLITE_OK) Fail("prepare");
        const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const std::string name = "$" + std::to_string(i + 1);
            const int index = sqlite3_bind_parameter_index(raw, name.c_str());
            if (index == 0) continue;
            if (const auto* number = std::get_if<std::int64_t>(&values[i])) {
                sqlite3_bind_int64(raw, index, *number);
            } else {
                const std::string& text = std::get<std::string>(values[i]);
                sqlite3_bind_text(raw, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
            }
        }
        SqlRows rows;
        for (;;) {
            const int step = sqlite3_step(raw);
            if (step == SQLITE_DONE) return rows;
            if (step != SQLITE_ROW) Fail("step");
            auto& row = rows.emplace_back();
            for (int column = 0; column < sqlite3_column_count(raw); ++column) {
                const auto* text = sqlite3_column_text(raw, column);
                row.emplace_back(text ? std::string(reinterpret_cast<const char*>(text),
                                                    static_cast<std::size_t>(sqlite3_column_bytes(raw, column)))
                                      : std::string());
            }
        }
    }

    bool IsPostgres() const override { return false; }

private:
    [[noreturn]] void Fail(const char* what) { throw StoreError(std::string(what) + " failed: " + sqlite3_errmsg(db_)); }

    std::recursive_mutex mutex_;
    sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<Database> OpenSqlite(const std::string& file) { return std::make_unique<SqliteDatabase>(file); }

}  // namespace lumivale::backend
