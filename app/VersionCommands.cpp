#include "VersionCommands.h"

#include <nlohmann/json.hpp>

#include "App.h"
#include "CoreCatalogue.h"
#include "JsonFields.h"
#include "Log.h"
#include "Paths.h"
#include "SystemReports.h"
#include "VersionRules.h"
#include "Worker.h"

namespace lumivale {

namespace {

// Members in the order the page documents them: "type" first.
using json = nlohmann::ordered_json;

// Every event is valid JSON whatever bytes a server or a folder name holds.
std::string Dump(const json& event) { return event.dump(-1, ' ', false, json::error_handler_t::replace); }

constexpr const char* kNoWorkerMessage = "系统资源不足，安装未能开始，请稍后重试";

}  // namespace

std::string VersionListEvent(const GameVersionList& list, const std::set<std::string>& installed) {
    json items = json::array();
    for (const GameVersionEntry& entry : list.versions) {
        items.push_back({{"id", entry.id}, {"type", entry.type}, {"releaseTime", entry.releaseTime},
                         {"installed", installed.contains(entry.id)}});
    }
    json event = {{"type", "version:list"},
                  {"latest", {{"release", list.latestRelease}, {"snapshot", list.latestSnapshot}}},
                  {"items", std::move(items)}};
    if (list.offline) event["offline"] = true;
    return Dump(event);
}

std::string VersionListErrorEvent(const std::string& error) {
    return Dump({{"type", "version:list"}, {"items", json::array()}, {"error", error}});
}

std::string VersionLoadersEvent(const std::string& id, const LoaderVersionLists& lists) {
    return Dump({{"type", "version:loaders"}, {"id", id}, {"fabric", lists.fabric}, {"quilt", lists.quilt},
                 {"forge", lists.forge}, {"neoforge", lists.neoforge}});
}

std::string VersionProgressEvent(const std::string& name, const VersionProgress& progress) {
    return Dump({{"type", "version:progress"}, {"name", name}, {"phase", progress.phase}, {"done", progress.done},
                 {"total", progress.total}, {"bytes", progress.bytes}, {"text", progress.text}});
}

std::string VersionDoneEvent(const std::string& name) { return Dump({{"type", "version:done"}, {"name", name}}); }

std::string VersionErrorEvent(const std::string& name, const std::string& reason) {
    return Dump({{"type", "version:error"}, {"name", name}, {"reason", reason}});
}

std::string JavaForInstaller(const std::string& gameVersion, const std::vector<JavaInstall>& javaList,
                             const std::string& selectedJava) {
    const int major = RequiredJavaMajor(gameVersion);
    for (const JavaInstall& java : javaList) {
        if (JavaMajorOf(java.name) == major) return java.exe;
    }
    if (!selectedJava.empty() && selectedJava != "auto") return selectedJava;
    return javaList.empty() ? std::string() : javaList.front().exe;
}

void OnVersionList(App& app, const std::string&) {
    // The game versions that have a core, by folder name and by the game they are based on.
    std::set<std::string> installed;
    for (const CoreEntry& core : app.settings.cores) {
        installed.insert(core.name);
        installed.insert(core.realVersion);
    }
    const std::string cacheFolder = PathUtf8(ProgramFolder() / "cache");
    if (!StartWorker([events = app.events, installed, cacheFolder] {
            GameVersionList list;
            std::string error;
            events.Post(LoadGameVersionList(GetEndpoints(), cacheFolder, list, error) ? VersionListEvent(list, installed)
                                                                                     : VersionListErrorEvent(error));
        })) {
        PostUiEvent(app, VersionListErrorEvent(kNoWorkerMessage));
    }
}

void OnVersionLoaders(App& app, const std::string& command) {
    const std::string id = ReadTextField(command, "id");
    if (id.empty()) return;
    if (!StartWorker([events = app.events, id] { events.Post(VersionLoadersEvent(id, FetchLoaderVersions(GetEndpoints(), id))); })) {
        PostUiEvent(app, VersionLoadersEvent(id, {}));
    }
}

void OnVersionInstall(App& app, const std::string& command) {
    VersionInstallRequest request{ReadTextField(command, "id"), ReadTextField(command, "loader"),
                                  ReadTextField(command, "loaderVersion"), ReadTextField(command, "name")};
    if (app.versionInstallBusy->exchange(true)) {
        PostUiEvent(app, VersionErrorEvent(request.name, kVersionInstallBusyMessage));
        return;
    }
    app.versionInstallCancel->store(false);
    VersionInstallContext context;
    context.gameDir = app.settings.gameDir;
    context.programDir = PathUtf8(ProgramFolder());
    app.TakeJavaScan();
    context.javaPath = JavaForInstaller(request.id, app.settings.javaList, app.settings.selectedJava);
    // A cancel, or the window going, stops the install at its next step or download.
    context.cancelled = [cancel = app.versionInstallCancel, loop = app.loop] { return cancel->load() || loop->IsClosed(); };

    // The worker keeps what it uses by value; what touches the App runs as a task on the UI
    // thread, which is dropped once the App has closed its loop.
    const bool started = StartWorker([&app, loop = app.loop, events = app.events, busy = app.versionInstallBusy, request,
                                      context] {
        std::string error;
        bool ok = false;
        try {
            ok = InstallVersion(request, context,
                                [&](const VersionProgress& progress) { events.Post(VersionProgressEvent(request.name, progress)); },
                                error);
        } catch (const std::exception& e) {
            error = std::string("安装出错：") + e.what();
        }
        if (!ok) ConsoleLog("版本安装失败：" + request.name + "：" + error);
        loop->Post([&app, busy, ok, name = request.name, error] {
            busy->store(false);
            if (!ok) {
                PostUiEvent(app, VersionErrorEvent(name, error));
                return;
            }
            ScanCores(app.settings);
            PostUiEvent(app, VersionDoneEvent(name));
            ReportCores(app);
        });
    });
    if (!started) {
        app.versionInstallBusy->store(false);
        PostUiEvent(app, VersionErrorEvent(request.name, kNoWorkerMessage));
    }
}

void OnVersionCancel(App& app, const std::string&) {
    if (app.versionInstallBusy->load()) app.versionInstallCancel->store(true);
}

}  // namespace lumivale
