#include "CredentialStore.h"

#include <nlohmann/json.hpp>

#include "Files.h"
#include "IniFile.h"
#include "JsonDocument.h"
#include "Log.h"
#include "Paths.h"

namespace lumivale {

namespace {

// A store that exists but cannot be read is kept aside before the next save replaces it, so a
// damaged file never takes the only copy of a key or an account with it.
void KeepDamagedStore(const std::filesystem::path& store) {
    std::filesystem::path aside = store;
    aside += ".damaged";
    // Written like the store itself: readable by the user alone, on every system.
    std::string bytes;
    if (ReadWholeFile(store, bytes)) WriteFileAtomically(aside, bytes, FileAccess::OwnerOnly);
    ConsoleLog("凭据文件无法读取，已备份为 " + PathUtf8(aside));
}

bool ReadMember(const nlohmann::json& section, const char* name, std::string& slot) {
    const auto member = section.find(name);
    if (member == section.end()) {
        slot.clear();
        return true;
    }
    if (!member->is_string()) return false;
    slot = member->get<std::string>();
    return true;
}

}  // namespace

std::filesystem::path StorePath() {
    const auto folder = UserDataFolder();
    MakeOwnerOnlyFolder(folder);
    return folder / "orlu.json";
}

bool LoadCredentials(Credentials& out) {
    const auto path = StorePath();
    std::string text;
    if (!ReadWholeFile(path, text) || text.empty()) return false;
    const auto root = ParseJsonDocument(text);
    Credentials record;
    bool ok = root.is_object();
    if (ok) {
        const auto littleskin = root.find("littleskin");
        const auto cloud = root.find("cloud");
        ok = littleskin != root.end() && littleskin->is_object() && cloud != root.end() &&
             cloud->is_object() && ReadMember(*littleskin, "access_token", record.accessToken) &&
             ReadMember(*littleskin, "client_token", record.clientToken) &&
             ReadMember(*littleskin, "current_role", record.currentRole) &&
             ReadMember(*littleskin, "current_role_id", record.currentRoleId) &&
             ReadMember(*littleskin, "available_profiles", record.availableProfiles) &&
             ReadMember(*littleskin, "account_id", record.accountId) &&
             ReadMember(*littleskin, "account_name", record.accountName) &&
             ReadMember(*cloud, "private_key", record.privateKey);
    }
    if (!ok) {
        KeepDamagedStore(path);
        return false;
    }
    out = std::move(record);
    return true;
}

std::string SerializeCredentials(const Credentials& credentials) {
    nlohmann::json root;  // members kept sorted by name
    root["littleskin"] = {
        {"access_token", credentials.accessToken},
        {"client_token", credentials.clientToken},
        {"current_role", credentials.currentRole},
        {"current_role_id", credentials.currentRoleId},
        {"available_profiles", credentials.availableProfiles},
        {"account_id", credentials.accountId},
        {"account_name", credentials.accountName},
    };
    root["cloud"] = {{"private_key", credentials.privateKey}};
    // Bytes that are not UTF-8 (from a hand-edited config.ini) are replaced rather than failing
    // the whole save.
    return root.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool SaveCredentials(const Credentials& credentials) {
    return WriteFileAtomically(StorePath(), SerializeCredentials(credentials), FileAccess::OwnerOnly);
}

void MigrateCredentials(const std::filesystem::path& configPath) {
    const FileStatus store = StatFile(StorePath());
    if (store.exists && store.size > 0) return;

    IniFile ini;
    ini.Load(configPath);
    Credentials old;
    old.accessToken = ini.GetText("auth", "access_token", "");
    old.clientToken = ini.GetText("auth", "client_token", "");
    old.currentRole = ini.GetText("launcher", "selected_role", "");
    old.currentRoleId = ini.GetText("launcher", "selected_role_id", "");
    old.availableProfiles = ini.GetText("auth", "available_profiles", "");
    old.privateKey = ini.GetText("auth", "private_key", "");
    // Written even when everything is empty: from now on the store exists and this never runs again.
    if (!SaveCredentials(old)) return;  // keep the old keys until they have a new home

    bool removed = false;
    for (const char* key : {"access_token", "refresh_token", "client_token", "available_profiles",
                            "ygg_api", "private_key"}) {
        removed |= ini.Remove("auth", key);
    }
    removed |= ini.Remove("launcher", "selected_role");
    removed |= ini.Remove("launcher", "selected_role_id");
    if (removed) ini.Save(configPath);
}

}  // namespace lumivale
