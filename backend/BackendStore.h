#pragma once
// The backend's SQLite database: registered public keys, play-time totals, the signatures already
// accepted (so that none is accepted twice), the Java and mod catalogues and the operator
// settings (the CurseForge key and the static token that unlocks it). One connection, guarded by
// a mutex: every operation is safe to call from several threads at once.
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace lumivale::backend {

// The token the launcher sends for the CurseForge key unless the operator set another one.
inline constexpr const char* kDefaultStaticToken = "lv-cfk-4e9b27d1a8c35f60b2d94e71";

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct RegisteredKey {
    std::string pem;
    std::int64_t registeredAt = 0;
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
    // Opens (creating when needed) the database file and its tables. Throws StoreError.
    explicit BackendStore(const std::filesystem::path& file);
    ~BackendStore();
    BackendStore(const BackendStore&) = delete;
    BackendStore& operator=(const BackendStore&) = delete;

    std::optional<RegisteredKey> FindKey(const std::string& playerId);
    void SaveKey(const std::string& playerId, const std::string& pem, std::int64_t now);

    // Records a (player, timestamp, signature) used for `action`; false when it was recorded
    // before. Entries older than `forgetBefore` are dropped first (they are refused by their age
    // anyway).
    bool RecordSignature(const std::string& action, const std::string& playerId, std::int64_t timestamp,
                         const std::string& signature, std::int64_t forgetBefore);

    std::int64_t PlayTime(const std::string& playerId);
    // Adds the seconds to the player's total and hands back the new total.
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
    void Exec(const char* sql);

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

}  // namespace lumivale::backend
