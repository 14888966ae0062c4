#pragma once
// The version commands of the page: "version:list" (the game versions to install),
// "version:loaders" (the loader versions of one game version), "version:install" (one install at a
// time, on a worker, reported by "version:progress", then "version:done" and "sys:cores", or
// "version:error") and "version:cancel".
#include <set>
#include <string>
#include <vector>

#include "GameTypes.h"
#include "LoaderVersions.h"
#include "VersionInstall.h"
#include "VersionList.h"

namespace lumivale {

class App;

inline constexpr const char* kVersionInstallBusyMessage = "已有版本正在安装";

// The events, as the page reads them. `installed` holds the game versions that have a core.
std::string VersionListEvent(const GameVersionList& list, const std::set<std::string>& installed);
std::string VersionListErrorEvent(const std::string& error);
std::string VersionLoadersEvent(const std::string& id, const LoaderVersionLists& lists);
std::string VersionProgressEvent(const std::string& name, const VersionProgress& progress);
std::string VersionDoneEvent(const std::string& name);
std::string VersionErrorEvent(const std::string& name, const std::string& reason);

// The Java that runs a loader's installer: the first listed Java of the major the game version
// needs, else the chosen one, else the first listed one; empty when none is known.
std::string JavaForInstaller(const std::string& gameVersion, const std::vector<JavaInstall>& javaList,
                             const std::string& selectedJava);

// UI thread.
void OnVersionList(App& app, const std::string& command);
void OnVersionLoaders(App& app, const std::string& command);
void OnVersionInstall(App& app, const std::string& command);
void OnVersionCancel(App& app, const std::string& command);

}  // namespace lumivale
