#include "SignIn.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <thread>

#include "App.h"
#include "Endpoints.h"
#include "JsonDocument.h"
#include "JsonFields.h"
#include "KeyStore.h"
#include "Log.h"

namespace lumivale {

namespace {

YggdrasilServer SignInServer() { return {GetEndpoints().YggdrasilRoot(), {}}; }

bool IsComplete(const Profile& profile) { return !profile.id.empty() && !profile.name.empty(); }

// The stored role list as the page gets it. The text goes out as stored; a text that is not a
// JSON array (a hand-edited store) would make the whole event unreadable, so it is replaced.
std::string StoredProfilesOr(const std::string& stored, const std::string& fallback) {
    if (stored.empty()) return fallback;
    const auto parsed = ParseJsonDocument(stored);
    if (!parsed.is_array()) {
        ConsoleLog("已存角色列表不是 JSON 数组，已忽略");
        return fallback;
    }
    return stored;
}

void SendProfilesEvent(App& app, const char* type, const std::string& name, const std::string& profiles) {
    PostUiEvent(app, std::string(R"({"type":")") + type + R"(","name":")" + EscapeJsonBasic(name) +
                         R"(","profiles":)" + profiles + R"(,"profile":)" + ProfileJson(app.selection) + "}");
}

// The role list to keep when none is stored: the selection alone, when it is complete.
void FillProfilesFromSelection(App& app) {
    if (app.settings.availableProfiles.empty() && IsComplete(app.selection)) {
        app.settings.availableProfiles = ProfileListJson({app.selection});
    }
}

void OnSignInDone(App& app, const AuthResult& result) {
    if (!result.success) {
        PostUiEvent(app, R"({"type":"yggdrasil:fail","reason":")" + EscapeJsonBasic(result.error) + R"("})");
        return;
    }
    Settings& settings = app.settings;
    settings.accessToken = result.accessToken;
    settings.clientToken = result.clientToken;
    settings.currentRole = result.playerName;
    settings.currentRoleId = result.selectedProfile.id;
    app.selection = result.selectedProfile;

    std::vector<Profile> profiles = result.availableProfiles;
    if (profiles.empty() && IsComplete(result.selectedProfile)) profiles.push_back(result.selectedProfile);
    app.signInProfiles = profiles;
    settings.availableProfiles = ProfileListJson(profiles);
    settings.yggdrasilRoot = GetEndpoints().YggdrasilRoot();
    settings.accountId = result.userId;
    settings.accountName = result.username;
    settings.Save();

    app.loggedIn = true;
    app.cloudPlayerId = settings.accountId;
    if (app.cloudPlayerId.empty()) {
        ConsoleLog("警告：LittleSkin 未返回账号 UUID，云端游玩时长统计本次不可用（不回退用户名/角色名）");
    }
    app.pendingSuccessNotice = true;
    app.successName = settings.currentRole.empty() ? kDefaultSuccessName : settings.currentRole;
    PrepareCloudAccount(app, true);
    app.mainView->ReloadWithError("");
}

void OnStartRefreshDone(App& app, const AuthResult& result) {
    if (!result.success) {
        ConsoleLog("自动登录刷新令牌失败，沿用已存登录态");
        return;
    }
    Settings& settings = app.settings;
    settings.accessToken = result.accessToken;
    settings.clientToken = result.clientToken;
    FillProfilesFromSelection(app);
    settings.Save();
    PostUiEvent(app, R"({"type":"yggdrasil:profiles:refreshed","profiles":)" +
                         StoredProfilesOr(settings.availableProfiles, "[]") + R"(,"profile":)" +
                         ProfileJson(app.selection) + "}");
}

void OnRoleChangeDone(App& app, const AuthResult& result) {
    if (!result.success) {
        PostUiEvent(app, R"({"type":"role:changed","error":")" + EscapeJsonBasic(result.error) + R"("})");
        return;
    }
    Settings& settings = app.settings;
    app.selection = result.selectedProfile;
    settings.accessToken = result.accessToken;
    settings.clientToken = result.clientToken;
    settings.currentRole = result.playerName;
    settings.currentRoleId = result.selectedProfile.id;
    FillProfilesFromSelection(app);
    settings.yggdrasilRoot = GetEndpoints().YggdrasilRoot();
    settings.Save();
    PrepareCloudAccount(app, false);
    if (app.cloud && app.cloud->Keys().IsReady()) app.playTime->FetchAndReport();
    PostUiEvent(app, R"({"type":"role:changed","profile":)" + ProfileJson(app.selection) + "}");
}

// Runs `request` on a detached worker and hands its result to `done` on the UI thread. The
// worker holds only the loop: once the App is gone the result is dropped.
template <typename Request, typename Done>
void RunSignInWorker(App& app, Request request, Done done) {
    std::thread([loop = app.loop, app = &app, request = std::move(request), done] {
        AuthResult result = request();
        loop->Post([app, done, result = std::move(result)] { done(*app, result); });
    }).detach();
}

}  // namespace

std::string ProfileJson(const Profile& profile) {
    return R"({"id":")" + EscapeJsonBasic(profile.id) + R"(","name":")" + EscapeJsonBasic(profile.name) + R"("})";
}

std::string ProfileListJson(const std::vector<Profile>& profiles) {
    std::string text = "[";
    for (std::size_t i = 0; i < profiles.size(); ++i) {
        if (i > 0) text += ",";
        text += ProfileJson(profiles[i]);
    }
    return text + "]";
}

void OnPasswordSignIn(App& app, const std::string& command) {
    PostUiEvent(app, R"({"type":"yggdrasil:starting"})");
    RunSignInWorker(
        app,
        [username = ReadTextField(command, "username"), password = ReadTextField(command, "password")] {
            return Authenticate(SignInServer(), username, password);
        },
        OnSignInDone);
}

void OnRoleChange(App& app, const std::string& command) {
    Profile requested{ReadTextField(command, "id"), ReadTextField(command, "name")};
    if (requested.id.empty()) {
        if (requested.name.empty()) return;
        const auto found = std::find_if(app.signInProfiles.begin(), app.signInProfiles.end(),
                                        [&](const Profile& p) { return p.name == requested.name; });
        if (found == app.signInProfiles.end()) return;
        requested = *found;
    }
    const Settings& settings = app.settings;
    if (!IsComplete(requested) || settings.accessToken.empty() || settings.clientToken.empty()) return;
    RunSignInWorker(
        app,
        [access = settings.accessToken, client = settings.clientToken, requested] {
            return Refresh(SignInServer(), access, client, requested);
        },
        OnRoleChangeDone);
}

void OnLogout(App& app) {
    app.game.Stop();
    Settings& settings = app.settings;
    settings.accessToken.clear();
    settings.clientToken.clear();
    settings.currentRole.clear();
    settings.currentRoleId.clear();
    settings.availableProfiles.clear();
    settings.Save();
    app.loggedIn = false;
    app.cloudPlayerId.clear();
    app.signInProfiles.clear();
    app.selection = {};
    SyncCloudAccount(app);
    app.mainView->ReloadWithError("");
}

void ResumeStoredSignIn(App& app) {
    const Settings& settings = app.settings;
    if (settings.accessToken.empty() || settings.currentRole.empty()) return;
    app.loggedIn = true;
    app.cloudPlayerId = settings.accountId;
    app.selection = {settings.currentRoleId, settings.currentRole};
    PrepareCloudAccount(app, true);
    if (settings.clientToken.empty() || settings.currentRoleId.empty()) return;
    RunSignInWorker(
        app,
        [access = settings.accessToken, client = settings.clientToken, role = app.selection] {
            return Refresh(SignInServer(), access, client, role);
        },
        OnStartRefreshDone);
}

void ReportAccount(App& app) {
    if (app.pendingSuccessNotice) {
        app.pendingSuccessNotice = false;
        SendProfilesEvent(app, "yggdrasil:success", app.successName, ProfileListJson(app.signInProfiles));
        return;
    }
    if (!app.loggedIn) return;
    const Settings& settings = app.settings;
    std::string single = "[]";
    if (!settings.currentRoleId.empty() && !settings.currentRole.empty()) {
        single = ProfileListJson({{settings.currentRoleId, settings.currentRole}});
    }
    SendProfilesEvent(app, "yggdrasil:restored", settings.currentRole,
                      StoredProfilesOr(settings.availableProfiles, single));
}

void SyncCloudAccount(App& app) {
    if (app.playTime) app.playTime->SetAccount({app.loggedIn, app.cloudPlayerId, app.settings.currentRole});
}

void PrepareCloudAccount(App& app, bool startInitialFetch) {
    SyncCloudAccount(app);
    KeyReadyHooks hooks;
    hooks.save = [&app] { app.settings.Save(); };
    EnsureKeyReady(app.cloud ? &app.cloud->Keys() : nullptr, app.settings.privateKey, hooks);
    if (!app.playTime || !app.loggedIn) return;
    app.playTime->EnsureRegistered(app.cloudPlayerId);
    if (startInitialFetch) app.playTime->StartInitialFetch();
}

}  // namespace lumivale
