#pragma once
// The modpack commands of the page: "modpack:browse" (a file picker answered by
// "modpack:selected"), "modpack:import" (field "zip"), "modpack:drop" (field "path": a file the
// window took from a drop) and "modpack:cancel". An import that starts says "modpack:started"; one
// that cannot start now (another runs, not a pack file) is answered by "modpack:refused" alone.
#include <string>
#include <vector>

#include "GameTypes.h"

namespace lumivale {

class App;

void OnModpackBrowse(App& app);
inline constexpr const char* kModpackBusyMessage = "已有整合包正在导入，请等它完成或先取消";
inline constexpr const char* kNotAModpackMessage = "只能导入 .zip 或 .mrpack 整合包，这个文件不是：";

void OnModpackImport(App& app, const std::string& zipPath);
void OnModpackDrop(App& app, const std::string& path);
void OnModpackCancel(App& app);

// A name ending in ".zip" or ".mrpack", any letter case.
bool IsModpackFileName(const std::string& path);

// Starts an import on a worker unless one is running (then "modpack:refused" alone). UI thread.
void StartModpackImport(App& app, const std::string& zipPath);

// The Java that runs the Forge installer: the first listed Java of the major the pack's game
// version needs, else the selected_java setting as it is.
std::string JavaForModpack(const std::string& gameVersion, const std::vector<JavaInstall>& javaList,
                           const std::string& selectedJava);

// The events of the import, as the page reads them.
std::string ModpackProgressEvent(int step, int total, int percent, const std::string& status);
std::string ModpackDoneEvent(int total, int direct, int s3, int skipped, int failed);
std::string ModpackErrorEvent(const std::string& reason);
std::string ModpackRefusedEvent(const std::string& reason);

}  // namespace lumivale
