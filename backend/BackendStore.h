#pragma once
// What the backend keeps: registered public keys (and when each last signed a request), play-time
// totals, the signed requests already accepted (so that none is accepted twice), the Java and mod
// catalogues and the operator settings (the CurseForge key and the static token that unlocks it).
// Every operation is one statement on the database, safe to call from several threads, and from
// several backend processes sharing one PostgreSQL database.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Database.h"

namespace lumivale::backend {

// The token the launcher sends for the CurseForge key unless the operator set another one.
inline constexpr const char* kDefaultStaticToken = "lv-cfk-4e9b27d1a8c35f60b2d94e71";

struct RegisteredKey {
    std::string pem;
    std::int64_t registeredAt = 0;
    std::int64_t lastSignedAt = 0;  // the last accepted request this key signed; 0 before the first

    std::int64_t LastUse() const { return lastSignedAt > registeredAt ? lastSignedAt : registeredAt; }
};

struct JavaEntry {
    std::string name;
    std::string url;
    std::string sha256;
    std::int64_t size = 0;
};

struct ModEntry {
    std::string project;
    std::string file;
    std::string name;
    std::string type;  // "mod", "resourcepack", "shader", ...
    std::string url;
};

class BackendStore {
public:
    // Opens the database (see OpenDatabase) and creates or updates its tables. Throws StoreError.
    explicit BackendStore(const std::string& database, int connections = 8);

    // Runs the operations `work` makes (on this thread) as one transaction: one flush to disk for
    // all of a request's changes. Not nested.
    void Transaction(const std::function<void()>& work) { db_->Transaction(work); }

    std::optional<RegisteredKey> FindKey(const std::string& playerId);
    // Saves `pem` as the player's key unless their registered key was used after `lockedAfter`; false
    // when it was (another registration or request got in first).
    bool SaveKey(const std::string& playerId, const std::string& pem, std::int64_t now, std::int64_t lockedAfter);
    // The player's registered key `pem` signed a request accepted at `now`.
    void NoteKeyUse(const std::string& playerId, const std::string& pem, std::int64_t now);

    // Records a signed request by its player and second and by its signature's bytes (hex); false
    // when either was recorded before. Records of seconds before `forgetBefore` are dropped now and
    // then (they are refused by their age anyway).
    bool RecordRequest(const std::string& playerId, std::int64_t signedAt, const std::string& signatureHex,
                       std::int64_t forgetBefore);

    std::int64_t PlayTime(const std::string& playerId);
    // Adds the seconds to the player's total in one statement and hands back the new total.
    std::int64_t AddPlayTime(const std::string& playerId, std::int64_t seconds, std::int64_t now);

    void AddJava(const JavaEntry& entry);  // replaces an entry of the same name
    std::vector<JavaEntry> JavaList();
    std::optional<JavaEntry> FindJava(const std::string& name);

    void AddMod(const ModEntry& entry);  // replaces an entry of the same project and file
    std::vector<ModEntry> ModList();
    std::optional<ModEntry> FindMod(const std::string& project, const std::string& file);

    void SetSetting(const std::string& name, const std::string& value);
    std::optional<std::string> Setting(const std::string& name);

private:
    std::unique_ptr<Database> db_;
    std::atomic<std::int64_t> pruneAfter_{0};
};

}  // namespace lumivale::backend
