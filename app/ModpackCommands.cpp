#include "ModpackCommands.h"

#include <cctype>
#include <thread>

#include "App.h"
#include "CoreCatalogue.h"
#include "JsonFields.h"
#include "Log.h"
#include "ModpackImport.h"
#include "Paths.h"
#include "SystemReports.h"
#include "VersionRules.h"
#include "Worker.h"

namespace lumivale {

std::string ModpackProgressEvent(int step, int total, int percent, const std::string& status) {
    return R"({"type":"modpack:progress","step":)" + std::to_string(step) + R"(,"total":)" +
           std::to_string(total) + R"(,"pct":)" + std::to_string(percent) + R"(,"status":")" +
           EscapeJsonText(status) + R"("})";
}

std::string ModpackDoneEvent(int total, int direct, int s3, int skipped, int failed) {
    return R"({"type":"modpack:done","total":)" + std::to_string(total) + R"(,"direct":)" +
           std::to_string(direct) + R"(,"s3":)" + std::to_string(s3) + R"(,"skipped":)" +
           std::to_string(skipped) + R"(,"failed":)" + std::to_string(failed) + "}";
}

std::string ModpackErrorEvent(const std::string& reason) {
    return R"({"type":"modpack:error","reason":")" + EscapeJsonText(reason) + R"("})";
}

std::string ModpackRefusedEvent(const std::string& reason) {
    return R"({"type":"modpack:refused","reason":")" + EscapeJsonText(reason) + R"("})";
}

bool IsModpackFileName(const std::string& path) {
    std::string lower;
    for (const char c : path.substr(path.size() > 7 ? path.size() - 7 : 0)) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower.ends_with(".zip") || lower.ends_with(".mrpack");
}

std::string JavaForModpack(const std::string& gameVersion, const std::vector<JavaInstall>& javaList,
                           const std::string& selectedJava) {
    const int major = RequiredJavaMajor(gameVersion);
    for (const JavaInstall& java : javaList) {
        if (JavaMajorOf(java.name) == major) return java.exe;
    }
    return selectedJava;
}

void OnModpackBrowse(App& app) {
    app.window->PickFile("选择整合包 zip 文件", [&app](const std::string& path) {
        if (path.empty()) return;  // cancelled
        PostUiEvent(app, R"({"type":"modpack:selected","path":")" + EscapeJsonText(path) + R"("})");
    });
}

void OnModpackImport(App& app, const std::string& zipPath) {
    if (!zipPath.empty()) StartModpackImport(app, zipPath);
}

void OnModpackDrop(App& app, const std::string& path) {
    if (path.empty()) return;
    if (!IsModpackFileName(path)) {
        PostUiEvent(app, ModpackRefusedEvent(std::string(kNotAModpackMessage) + PathUtf8(Utf8Path(path).filename())));
        return;
    }
    StartModpackImport(app, path);
}

void OnModpackCancel(App& app) {
    if (app.modpackImportBusy) app.modpackImportCancel->store(true);
}

constexpr const char* kNoWorkerMessage = "系统资源不足，导入未能开始，请稍后重试";

void StartModpackImport(App& app, const std::string& zipPath) {
    // A second import is refused without touching the running one's screen.
    if (app.modpackImportBusy.exchange(true)) {
        PostUiEvent(app, ModpackRefusedEvent(kModpackBusyMessage));
        return;
    }
    app.modpackImportCancel->store(false);
    ModpackImportContext context;
    context.gameDir = app.settings.gameDir;
    context.programDir = PathUtf8(ProgramFolder());
    app.TakeJavaScan();
    context.javaPath = JavaForModpack(PeekModpackGameVersion(zipPath), app.settings.javaList,
                                      app.settings.selectedJava);
    context.cloud = app.cloud;
    // A cancel, or the window going, stops the import at its next step or download.
    context.cancelled = [cancel = app.modpackImportCancel, loop = app.loop] { return cancel->load() || loop->IsClosed(); };

    // The worker keeps what it uses by value; what touches the App runs as a task on the UI
    // thread, which is dropped once the App has closed its loop.
    ConsoleLog("整合包导入开始：" + zipPath);
    PostUiEvent(app, R"({"type":"modpack:started","path":")" + EscapeJsonText(zipPath) + R"("})");
    const bool started = StartWorker([&app, loop = app.loop, events = app.events, zipPath, context]() {
        const auto progress = [&events](int step, int total, int percent, const std::string& text) {
            events.Post(ModpackProgressEvent(step, total, percent, text));
        };
        std::string error;
        ModCounters counters;
        bool ok = false;
        try {
            ok = ImportModpack(zipPath, context, progress, error, counters);
        } catch (const std::exception& e) {
            ConsoleLog(std::string("整合包导入异常：") + e.what());
            error = "整合包导入时发生意外错误，请重试或换一个整合包";
        }
        if (!ok) ConsoleLog("整合包导入失败：" + error);
        loop->Post([&app, ok, error, counters] {
            if (ok) {
                ScanCores(app.settings);
                ReportCores(app);
                PostUiEvent(app, ModpackDoneEvent(counters.total, counters.direct, counters.s3,
                                                  counters.skipped, counters.failed));
            } else {
                PostUiEvent(app, ModpackErrorEvent(error));
            }
            app.modpackImportBusy = false;
        });
    });
    if (!started) {
        app.modpackImportBusy = false;
        PostUiEvent(app, ModpackErrorEvent(kNoWorkerMessage));
    }
}

}  // namespace lumivale
