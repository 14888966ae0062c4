#include "BackendStore.h"

#include <sqlite3.h>

#include <limits>

namespace lumivale::backend {

namespace {

// A prepared statement with positional text/integer bindings.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            throw StoreError(std::string("prepare failed: ") + sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, const std::string& text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int index, std::int64_t value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    // True while a row is available.
    bool Step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw StoreError(std::string("step failed: ") + sqlite3_errmsg(db_));
    }
    // SQLITE_DONE or a constraint failure, without throwing for the latter.
    bool StepUnlessConstraint() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_DONE) return true;
        if ((rc & 0xFF) == SQLITE_CONSTRAINT) return false;
        throw StoreError(std::string("step failed: ") + sqlite3_errmsg(db_));
    }
    std::string Text(int column) const {
        const auto* text = sqlite3_column_text(stmt_, column);
        return text ? std::string(reinterpret_cast<const char*>(text),
                                  static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                    : std::string();
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

JavaEntry ReadJava(const Statement& s) { return {s.Text(0), s.Text(1), s.Text(2), s.Int(3)}; }
ModEntry ReadMod(const Statement& s) { return {s.Text(0), s.Text(1), s.Text(2), s.Text(3), s.Text(4)}; }

}  // namespace

BackendStore::BackendStore(const std::filesystem::path& file) {
    const std::string name = file.string();
    if (sqlite3_open_v2(name.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw StoreError("cannot open " + name + ": " + message);
    }
    sqlite3_busy_timeout(db_, 5000);
    try {
        Exec("PRAGMA journal_mode=WAL");
        Exec("CREATE TABLE IF NOT EXISTS player_keys (player_id TEXT PRIMARY KEY, pubkey_pem TEXT NOT NULL,"
             " registered_at INTEGER NOT NULL)");
        Exec("CREATE TABLE IF NOT EXISTS playtime (player_id TEXT PRIMARY KEY, total_seconds INTEGER NOT NULL,"
             " updated_at INTEGER NOT NULL)");
        Exec("CREATE TABLE IF NOT EXISTS used_signatures (action TEXT NOT NULL, player_id TEXT NOT NULL,"
             " timestamp INTEGER NOT NULL, signature TEXT NOT NULL,"
             " PRIMARY KEY (action, player_id, timestamp, signature))");
        Exec("CREATE TABLE IF NOT EXISTS java_catalogue (name TEXT PRIMARY KEY, url TEXT NOT NULL,"
             " sha256 TEXT NOT NULL DEFAULT '', size INTEGER NOT NULL DEFAULT 0)");
        Exec("CREATE TABLE IF NOT EXISTS mod_catalogue (project TEXT NOT NULL, file TEXT NOT NULL,"
             " name TEXT NOT NULL, type TEXT NOT NULL, url TEXT NOT NULL, PRIMARY KEY (project, file))");
        Exec("CREATE TABLE IF NOT EXISTS settings (name TEXT PRIMARY KEY, value TEXT NOT NULL)");
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

BackendStore::~BackendStore() { sqlite3_close(db_); }

void BackendStore::Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw StoreError(message);
    }
}

std::optional<RegisteredKey> BackendStore::FindKey(const std::string& playerId) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT pubkey_pem, registered_at FROM player_keys WHERE player_id = ?");
    s.Bind(1, playerId);
    if (!s.Step()) return std::nullopt;
    return RegisteredKey{s.Text(0), s.Int(1)};
}

void BackendStore::SaveKey(const std::string& playerId, const std::string& pem, std::int64_t now) {
    std::lock_guard lock(mutex_);
    Statement s(db_,
                "INSERT INTO player_keys (player_id, pubkey_pem, registered_at) VALUES (?, ?, ?)"
                " ON CONFLICT(player_id) DO UPDATE SET pubkey_pem = excluded.pubkey_pem,"
                " registered_at = excluded.registered_at");
    s.Bind(1, playerId).Bind(2, pem).Bind(3, now);
    s.Step();
}

bool BackendStore::RecordSignature(const std::string& action, const std::string& playerId,
                                   std::int64_t timestamp, const std::string& signature,
                                   std::int64_t forgetBefore) {
    std::lock_guard lock(mutex_);
    {
        Statement prune(db_, "DELETE FROM used_signatures WHERE timestamp < ?");
        prune.Bind(1, forgetBefore);
        prune.Step();
    }
    Statement s(db_, "INSERT INTO used_signatures (action, player_id, timestamp, signature) VALUES (?, ?, ?, ?)");
    s.Bind(1, action).Bind(2, playerId).Bind(3, timestamp).Bind(4, signature);
    return s.StepUnlessConstraint();
}

std::int64_t BackendStore::PlayTime(const std::string& playerId) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT total_seconds FROM playtime WHERE player_id = ?");
    s.Bind(1, playerId);
    return s.Step() ? s.Int(0) : 0;
}

std::int64_t BackendStore::AddPlayTime(const std::string& playerId, std::int64_t seconds, std::int64_t now) {
    std::lock_guard lock(mutex_);
    Exec("BEGIN IMMEDIATE");
    try {
        std::int64_t total = 0;
        {
            Statement read(db_, "SELECT total_seconds FROM playtime WHERE player_id = ?");
            read.Bind(1, playerId);
            if (read.Step()) total = read.Int(0);
        }
        total = total > std::numeric_limits<std::int64_t>::max() - seconds ? std::numeric_limits<std::int64_t>::max()
                                                                            : total + seconds;
        Statement write(db_,
                        "INSERT INTO playtime (player_id, total_seconds, updated_at) VALUES (?, ?, ?)"
                        " ON CONFLICT(player_id) DO UPDATE SET total_seconds = excluded.total_seconds,"
                        " updated_at = excluded.updated_at");
        write.Bind(1, playerId).Bind(2, total).Bind(3, now);
        write.Step();
        Exec("COMMIT");
        return total;
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void BackendStore::AddJava(const JavaEntry& entry) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "INSERT OR REPLACE INTO java_catalogue (name, url, sha256, size) VALUES (?, ?, ?, ?)");
    s.Bind(1, entry.name).Bind(2, entry.url).Bind(3, entry.sha256).Bind(4, entry.size);
    s.Step();
}

std::vector<JavaEntry> BackendStore::JavaList() {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT name, url, sha256, size FROM java_catalogue ORDER BY name");
    std::vector<JavaEntry> out;
    while (s.Step()) out.push_back(ReadJava(s));
    return out;
}

std::optional<JavaEntry> BackendStore::FindJava(const std::string& name) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT name, url, sha256, size FROM java_catalogue WHERE name = ?");
    s.Bind(1, name);
    if (!s.Step()) return std::nullopt;
    return ReadJava(s);
}

void BackendStore::AddMod(const ModEntry& entry) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "INSERT OR REPLACE INTO mod_catalogue (project, file, name, type, url) VALUES (?, ?, ?, ?, ?)");
    s.Bind(1, entry.project).Bind(2, entry.file).Bind(3, entry.name).Bind(4, entry.type).Bind(5, entry.url);
    s.Step();
}

std::vector<ModEntry> BackendStore::ModList() {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT project, file, name, type, url FROM mod_catalogue ORDER BY project, file");
    std::vector<ModEntry> out;
    while (s.Step()) out.push_back(ReadMod(s));
    return out;
}

std::optional<ModEntry> BackendStore::FindMod(const std::string& project, const std::string& file) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT project, file, name, type, url FROM mod_catalogue WHERE project = ? AND file = ?");
    s.Bind(1, project).Bind(2, file);
    if (!s.Step()) return std::nullopt;
    return ReadMod(s);
}

void BackendStore::SetSetting(const std::string& name, const std::string& value) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "INSERT OR REPLACE INTO settings (name, value) VALUES (?, ?)");
    s.Bind(1, name).Bind(2, value);
    s.Step();
}

std::optional<std::string> BackendStore::Setting(const std::string& name) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT value FROM settings WHERE name = ?");
    s.Bind(1, name);
    if (!s.Step()) return std::nullopt;
    return s.Text(0);
}

}  // namespace lumivale::backend
