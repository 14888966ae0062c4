#pragma once
// The launcher's side of the crash panel: the warnings before a launch, the explanation after an
// abnormal end ("game:crash"), and the panel's buttons: "crash:open" opens the folder of the most
// telling log, "crash:export" saves the diagnostic zip into a folder the player picks and answers
// {"type":"crash:saved","path":"…"} or {"type":"crash:saved","error":"…"}.
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CrashAnalysis.h"
#include "GameProcess.h"
#include "GameTypes.h"

namespace lumivale {

class App;
struct Settings;

// The last crash, written by the game watcher and read by the panel's buttons.
struct LastCrash {
    std::mutex mutex;
    std::vector<CrashLog> logs;        // the logs the analysis read
    std::string summary;               // its findings as text
    std::vector<std::string> secrets;  // what the crashed game was given that must not leave
};

// The texts the game receives that identify the account: token, client token, e-mail.
std::vector<std::string> AccountSecrets(const Settings& settings);

// {"type":"game:warning","msg":"…"} for each problem the checks before a launch find.
void WarnBeforeLaunch(App& app, const CoreEntry& core, const std::string& javaPath);

// The explainCrash step of a launch: reads the logs, keeps them in `last`, and returns the
// "game:crash" event with every secret masked.
std::function<std::string(const GameSession&)> MakeCrashExplainer(std::shared_ptr<LastCrash> last,
                                                                  std::vector<std::string> secrets);

void OnCrashOpen(App& app);
void OnCrashExport(App& app);

// file:// address of a local path, its bytes percent-encoded where an address needs it.
std::string FileUrl(const std::filesystem::path& path);

}  // namespace lumivale
