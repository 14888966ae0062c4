#include "UiBridge.h"

#include <array>
#include <cctype>
#include <string_view>

#include "App.h"
#include "CrashCommands.h"
#include "GameLaunch.h"
#include "JavaDiscovery.h"
#include "JavaInstallCommands.h"
#include "JsonFields.h"
#include "Log.h"
#include "ModpackCommands.h"
#include "OAuthSignIn.h"
#include "SignIn.h"
#include "SystemReports.h"
#include "VersionCommands.h"
#include "Worker.h"

namespace lumivale {

namespace {

// "config:set": stores one setting, saves, and tells the page what changed.
void SetConfig(App& app, const std::string& command) {
    const std::string key = ReadTextField(command, "key");
    Settings& settings = app.settings;
    const auto low32 = [](std::int64_t value) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value & 0xFFFFFFFF));
    };
    bool reportConfig = true;
    if (key == "memory_mb") {
        settings.memoryMb = low32(ReadIntField(command, "value"));
        reportConfig = false;
    } else if (key == "server_port") {
        settings.serverPort = low32(ReadIntField(command, "value"));
    } else if (key == "selected_core") {
        settings.selectedCore = ReadTextField(command, "value");
        reportConfig = false;
    } else if (key == "selected_java") {
        settings.selectedJava = ReadTextField(command, "value");
        reportConfig = false;
    } else if (key == "process_priority") {
        settings.processPriority = ReadTextField(command, "value");
    } else if (key == "gc_preset") {
        settings.gcPreset = ReadTextField(command, "value");
    } else if (key == "custom_jvm_args") {
        settings.customJvmArgs = ReadTextField(command, "value");
    } else if (key == "server_address") {
        settings.serverAddress = ReadTextField(command, "value");
    } else {
        return;  // unknown keys store and save nothing
    }
    settings.Save();
    if (reportConfig) ReportConfig(app);
    if (key == "selected_core") ReportCoreInfo(app, settings.selectedCore);
}

void InitReports(App& app) {
    ReportJava(app);
    ReportCores(app);
    ReportMemory(app);
}

void Window(App& app, const std::string& command) {
    const std::string action = ReadTextField(command, "action");
    if (action == "min") app.window->Minimise();
    else if (action == "close") app.window->Destroy();
}

void OpenInBrowser(App& app, const std::string& command) {
    const std::string url = ReadTextField(command, "url");
    if (IsWebAddress(url)) {
        app.window->OpenUrl(url);
    } else {
        ConsoleLog("browser:open 已拒绝非网页地址：" + url);
    }
}

// The player points at a bin folder; a Java found there joins the list and becomes the choice.
void BrowseJava(App& app, const std::string&) {
    app.window->PickFolder("请选择 bin 的文件夹目录", [&app](const std::string& folder) {
        if (folder.empty()) return;  // cancelled
        if (addManualJava(app.settings.javaList, app.settings.selectedJava, folder).empty()) {
            PostUiEvent(app, R"({"type":"game:error","reason":"该目录未找到 java.exe"})");
            return;
        }
        app.settings.Save();
        ReportJava(app);
    });
}

// Both wait for the backend on a worker; the service sends the answer to the page itself.
void PlaytimeGet(App& app, const std::string&) {
    if (app.cloudPlayerId.empty() || !app.playTime) return;
    StartWorker([service = app.playTime] { service->FetchAndReport(); });
}

void PlaytimeUpload(App& app, const std::string& command) {
    if (app.cloudPlayerId.empty() || !app.playTime) return;
    StartWorker([service = app.playTime, session = ReadIntField(command, "session_seconds"),
                 total = ReadIntField(command, "client_total_seconds")] { service->UploadAndReport(session, total); });
}

using Handler = void (*)(App&, const std::string&);

struct Command {
    std::string_view type;
    Handler handler;  // null: recognised, but its part of the launcher is not in this build
};

const std::array<Command, 25> kCommands{{
    {"oauth:login", [](App& app, const std::string&) { OnOAuthLogin(app); }},
    {"yggdrasil:login", OnPasswordSignIn},
    {"role:change", OnRoleChange},
    {"logout", [](App& app, const std::string&) { OnLogout(app); }},
    {"config:set", SetConfig},
    {"sys:init", [](App& app, const std::string&) { InitReports(app); }},
    {"java:browse", BrowseJava},
    {"game:launch", [](App& app, const std::string&) { OnGameLaunch(app); }},
    {"game:stop", [](App& app, const std::string&) { OnGameStop(app); }},
    {"window", Window},
    {"drag", [](App& app, const std::string&) { app.window->StartMove(); }},
    {"browser:open", OpenInBrowser},
    {"cloud:playtime:get", PlaytimeGet},
    {"cloud:playtime:upload", PlaytimeUpload},
    {"java:open", [](App& app, const std::string&) { OnJavaOpen(app); }},
    {"java:install", OnJavaInstall},
    {"modpack:browse", [](App& app, const std::string&) { OnModpackBrowse(app); }},
    {"modpack:drop",
     [](App& app, const std::string& command) { OnModpackImport(app, ReadTextField(command, "path")); }},
    {"modpack:import",
     [](App& app, const std::string& command) { OnModpackImport(app, ReadTextField(command, "zip")); }},
    {"crash:open", [](App& app, const std::string&) { OnCrashOpen(app); }},
    {"crash:export", [](App& app, const std::string&) { OnCrashExport(app); }},
    {"version:list", OnVersionList},
    {"version:loaders", OnVersionLoaders},
    {"version:install", OnVersionInstall},
    {"version:cancel", OnVersionCancel},
}};

}  // namespace

bool IsWebAddress(const std::string& url) {
    std::string scheme;
    for (const char c : url.substr(0, 8)) scheme += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return (scheme.starts_with("http://") && url.size() > 7) ||
           (scheme.starts_with("https://") && url.size() > 8);
}

void HandleUiCommand(App& app, const std::string& command) {
    const std::string type = ReadTextField(command, "type");
    for (const Command& entry : kCommands) {
        if (entry.type != type) continue;
        if (entry.handler != nullptr) {
            entry.handler(app, command);
        } else {
            ConsoleLog("命令暂不可用：" + type);
        }
        return;
    }
}

}  // namespace lumivale
