#include "BackendStore.h"

namespace lumivale::backend {

namespace {

// Old records of used requests are dropped at most this often.
constexpr std::int64_t kPruneEverySeconds = 60;

JavaEntry ReadJava(const std::vector<std::string>& row) { return {row[0], row[1], row[2], ColumnInt(row[3])}; }
ModEntry ReadMod(const std::vector<std::string>& row) { return {row[0], row[1], row[2], row[3], row[4]}; }

}  // namespace

BackendStore::BackendStore(const std::string& database, int connections)
    : db_(OpenDatabase(database, connections)) {
    Database& db = *db_;
    // Backend processes starting together on one PostgreSQL database create the tables one at a time
    // (the pool has this one connection while the store is being opened).
    if (db.IsPostgres()) db.Run("SELECT pg_advisory_lock(7310451)");
    db.Run("CREATE TABLE IF NOT EXISTS player_keys (player_id TEXT PRIMARY KEY, pubkey_pem TEXT NOT NULL,"
           " registered_at BIGINT NOT NULL, last_signed_at BIGINT NOT NULL DEFAULT 0)");
    // Files made before keys counted their last use get the column; PostgreSQL tables always had it.
    if (!db.IsPostgres() &&
        db.Run("SELECT 1 FROM pragma_table_info('player_keys') WHERE name = 'last_signed_at'").empty()) {
        db.Run("ALTER TABLE player_keys ADD COLUMN last_signed_at BIGINT NOT NULL DEFAULT 0");
    }
    db.Run("CREATE TABLE IF NOT EXISTS playtime (player_id TEXT PRIMARY KEY, total_seconds BIGINT NOT NULL,"
           " updated_at BIGINT NOT NULL)");
    db.Run("CREATE TABLE IF NOT EXISTS used_requests (player_id TEXT NOT NULL, signed_at BIGINT NOT NULL,"
           " signature TEXT NOT NULL UNIQUE, PRIMARY KEY (player_id, signed_at))");
    db.Run("CREATE INDEX IF NOT EXISTS used_requests_by_age ON used_requests (signed_at)");
    // Its records, kept by signature text, expired minutes after they were made.
    db.Run("DROP TABLE IF EXISTS used_signatures");
    db.Run("CREATE TABLE IF NOT EXISTS java_catalogue (name TEXT PRIMARY KEY, url TEXT NOT NULL,"
           " sha256 TEXT NOT NULL DEFAULT '', size BIGINT NOT NULL DEFAULT 0)");
    db.Run("CREATE TABLE IF NOT EXISTS mod_catalogue (project TEXT NOT NULL, file TEXT NOT NULL,"
           " name TEXT NOT NULL, type TEXT NOT NULL, url TEXT NOT NULL, PRIMARY KEY (project, file))");
    db.Run("CREATE TABLE IF NOT EXISTS settings (name TEXT PRIMARY KEY, value TEXT NOT NULL)");
    if (db.IsPostgres()) db.Run("SELECT pg_advisory_unlock(7310451)");
}

std::optional<RegisteredKey> BackendStore::FindKey(const std::string& playerId) {
    const SqlRows rows =
        db_->Run("SELECT pubkey_pem, registered_at, last_signed_at FROM player_keys WHERE player_id = $1", {playerId});
    if (rows.empty()) return std::nullopt;
    return RegisteredKey{rows[0][0], ColumnInt(rows[0][1]), ColumnInt(rows[0][2])};
}

bool BackendStore::SaveKey(const std::string& playerId, const std::string& pem, std::int64_t now,
                           std::int64_t lockedAfter) {
    // The lock is part of the statement, so two registrations racing in two processes cannot both win.
    return !db_->Run("INSERT INTO player_keys (player_id, pubkey_pem, registered_at, last_signed_at)"
                     " VALUES ($1, $2, $3, $3) ON CONFLICT (player_id) DO UPDATE SET"
                     " pubkey_pem = excluded.pubkey_pem, registered_at = excluded.registered_at,"
                     " last_signed_at = excluded.last_signed_at"
                     " WHERE player_keys.registered_at <= $4 AND player_keys.last_signed_at <= $4"
                     " RETURNING 1",
                     {playerId, pem, now, lockedAfter})
                .empty();
}

void BackendStore::NoteKeyUse(const std::string& playerId, const std::string& pem, std::int64_t now) {
    db_->Run("UPDATE player_keys SET last_signed_at = $3"
             " WHERE player_id = $1 AND pubkey_pem = $2 AND last_signed_at < $3",
             {playerId, pem, now});
}

bool BackendStore::RecordRequest(const std::string& playerId, std::int64_t signedAt,
                                 const std::string& signatureHex, std::int64_t forgetBefore) {
    std::int64_t due = pruneAfter_;
    if (forgetBefore >= due && pruneAfter_.compare_exchange_strong(due, forgetBefore + kPruneEverySeconds)) {
        db_->Run("DELETE FROM used_requests WHERE signed_at < $1", {forgetBefore});
    }
    return !db_->Run("INSERT INTO used_requests (player_id, signed_at, signature) VALUES ($1, $2, $3)"
                     " ON CONFLICT DO NOTHING RETURNING 1",
                     {playerId, signedAt, signatureHex})
                .empty();
}

std::int64_t BackendStore::PlayTime(const std::string& playerId) {
    const SqlRows rows = db_->Run("SELECT total_seconds FROM playtime WHERE player_id = $1", {playerId});
    return rows.empty() ? 0 : ColumnInt(rows[0][0]);
}

std::int64_t BackendStore::AddPlayTime(const std::string& playerId, std::int64_t seconds, std::int64_t now) {
    const SqlRows rows = db_->Run("INSERT INTO playtime (player_id, total_seconds, updated_at) VALUES ($1, $2, $3)"
                                  " ON CONFLICT (player_id) DO UPDATE SET"
                                  " total_seconds = playtime.total_seconds + excluded.total_seconds,"
                                  " updated_at = excluded.updated_at RETURNING total_seconds",
                                  {playerId, seconds, now});
    if (rows.empty()) throw StoreError("play time not updated");
    return ColumnInt(rows[0][0]);
}

void BackendStore::AddJava(const JavaEntry& entry) {
    db_->Run("INSERT INTO java_catalogue (name, url, sha256, size) VALUES ($1, $2, $3, $4)"
             " ON CONFLICT (name) DO UPDATE SET url = excluded.url, sha256 = excluded.sha256, size = excluded.size",
             {entry.name, entry.url, entry.sha256, entry.size});
}

std::vector<JavaEntry> BackendStore::JavaList() {
    std::vector<JavaEntry> out;
    for (const auto& row : db_->Run("SELECT name, url, sha256, size FROM java_catalogue ORDER BY name")) {
        out.push_back(ReadJava(row));
    }
    return out;
}

std::optional<JavaEntry> BackendStore::FindJava(const std::string& name) {
    const SqlRows rows = db_->Run("SELECT name, url, sha256, size FROM java_catalogue WHERE name = $1", {name});
    if (rows.empty()) return std::nullopt;
    return ReadJava(rows[0]);
}

void BackendStore::AddMod(const ModEntry& entry) {
    db_->Run("INSERT INTO mod_catalogue (project, file, name, type, url) VALUES ($1, $2, $3, $4, $5)"
             " ON CONFLICT (project, file) DO UPDATE SET name = excluded.name, type = excluded.type,"
             " url = excluded.url",
             {entry.project, entry.file, entry.name, entry.type, entry.url});
}

std::vector<ModEntry> BackendStore::ModList() {
    std::vector<ModEntry> out;
    for (const auto& row : db_->Run("SELECT project, file, name, type, url FROM mod_catalogue ORDER BY project, file")) {
        out.push_back(ReadMod(row));
    }
    return out;
}

std::optional<ModEntry> BackendStore::FindMod(const std::string& project, const std::string& file) {
    const SqlRows rows = db_->Run(
        "SELECT project, file, name, type, url FROM mod_catalogue WHERE project = $1 AND file = $2", {project, file});
    if (rows.empty()) return std::nullopt;
    return ReadMod(rows[0]);
}

void BackendStore::SetSetting(const std::string& name, const std::string& value) {
    db_->Run("INSERT INTO settings (name, value) VALUES ($1, $2) ON CONFLICT (name) DO UPDATE SET value = excluded.value",
             {name, value});
}

std::optional<std::string> BackendStore::Setting(const std::string& name) {
    const SqlRows rows = db_->Run("SELECT value FROM settings WHERE name = $1", {name});
    if (rows.empty()) return std::nullopt;
    return rows[0][0];
}

}  // namespace lumivale::backend
