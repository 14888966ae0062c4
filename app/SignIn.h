#pragma once
// The LittleSkin account in the App: password sign-in, the report to a freshly loaded page,
// token renewal at start, role switch and sign-out. Network work runs on detached workers whose
// results come back to the UI thread as posted tasks; account state and events change only there.
#include <string>
#include <vector>

#include "Yggdrasil.h"

namespace lumivale {

class App;

// The player name reported after a sign-in that gave no role at all.
inline constexpr const char* kDefaultSuccessName = "Steve_Vorn";
// Answers to a role change that cannot be asked for.
inline constexpr const char* kUnknownRoleMessage = "找不到这个角色，请重新登录后再试";
inline constexpr const char* kSignInExpiredMessage = "登录已失效，请重新登录";

// {"id":...,"name":...} and "[" those joined by "," "]", texts escaped.
std::string ProfileJson(const Profile& profile);
std::string ProfileListJson(const std::vector<Profile>& profiles);

// "yggdrasil:login", "role:change", "logout".
void OnPasswordSignIn(App& app, const std::string& command);
void OnRoleChange(App& app, const std::string& command);
void OnLogout(App& app);

// At start, for a stored sign-in: key, registration, first play-time fetch, token renewal.
void ResumeStoredSignIn(App& app);
// Runs on every page load, before the system reports.
void ReportAccount(App& app);

// Shared with the OAuth sign-in: tells the play-time service who is signed in now; makes the
// key ready and starts the registration for the account (and the first fetch when asked).
void SyncCloudAccount(App& app);
void PrepareCloudAccount(App& app, bool startInitialFetch);

}  // namespace lumivale
