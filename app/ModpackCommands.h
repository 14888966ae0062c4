#pragma once
// The modpack commands of the page: "modpack:browse" (a file picker answered by
// "modpack:selected"), "modpack:import" (field "zip") and "modpack:drop" (field "path").
#include <string>
#include <vector>

#include "GameTypes.h"

namespace lumivale {

class App;

void OnModpackBrowse(App& app);
void OnModpackImport(App& app, const std::string& zipPath);

// Starts an import on a worker unless one is running ("已有整合包正在导入中"). UI thread.
void StartModpackImport(App& app, const std::string& zipPath);

// The Java that runs the Forge installer: the first listed Java of the major the pack's game
// version needs, else the selected_java setting as it is.
std::string JavaForModpack(const std::string& gameVersion, const std::vector<JavaInstall>& javaList,
                           const std::string& selectedJava);

// The events of the import, as the page reads them.
std::string ModpackProgressEvent(int step, int total, int percent, const std::string& status);
std::string ModpackDoneEvent(int total, int direct, int s3, int skipped, int failed);
std::string ModpackErrorEvent(const std::string& reason);

}  // namespace lumivale
