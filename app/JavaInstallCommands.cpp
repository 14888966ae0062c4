#include "JavaInstallCommands.h"

#include <exception>
#include <system_error>
#include <thread>

#include "App.h"
#include "BackendEndpoints.h"
#include "JavaDiscovery.h"
#include "JavaInstall.h"
#include "JavaPackageInstaller.h"
#include "JsonFields.h"
#include "Log.h"
#include "Paths.h"
#include "SystemReports.h"
#include "Worker.h"

namespace lumivale {

namespace {

namespace fs = std::filesystem;

void RemoveQuietly(const fs::path& file) {
    std::error_code ignored;
    fs::remove(file, ignored);
}

// The busy flag is cleared before the last event, so a page that starts the next installation
// as soon as it sees the end of this one is never refused.
class InstallReporter {
public:
    explicit InstallReporter(const JavaInstallTask& task) : task_(task) {}
    ~InstallReporter() {
        if (!finished_) task_.busy->store(false);
    }
    InstallReporter(const InstallReporter&) = delete;
    InstallReporter& operator=(const InstallReporter&) = delete;

    void Step(std::string_view phase, int percent, std::string_view text) const {
        task_.send(JavaProgressEvent(task_.name, phase, percent, text));
    }
    void Finish(std::string_view phase, int percent, std::string_view text) {
        finished_ = true;
        task_.busy->store(false);
        Step(phase, percent, text);
    }

private:
    const JavaInstallTask& task_;
    bool finished_ = false;
};

void Install(const JavaInstallTask& task, InstallReporter& report) {
    report.Step("resolve", 0, "正在获取下载地址…");
    if (!task.cloud) {
        report.Finish("error", 0, "云端未连接");
        return;
    }
    const std::string answer = GetJavaDownload(*task.cloud, task.name);
    if (!BackendAnswerSucceeded(answer)) {
        report.Finish("error", 0, "获取下载地址失败");
        return;
    }
    const std::string url = ReadTextField(answer, "url");
    if (url.empty()) {
        report.Finish("error", 0, "下载地址为空");
        return;
    }

    std::error_code ignored;
    fs::create_directories(task.downloadFolder, ignored);
    const fs::path package = task.downloadFolder /
        Utf8Path(JavaPackageFileName(ReadTextField(answer, "key"), task.name, task.installer->PackageSuffix()));
    const fs::path logDir = task.programFolder / "log";
    fs::create_directories(logDir, ignored);
    const fs::path log = logDir / "java-install.log";

    report.Step("download", 0, "正在下载安装包…");
    // One event per change of what the page shows, not one per received piece.
    int lastPercent = -1;
    std::string lastText;
    const bool downloaded = task.cloud->DownloadToFile(url, package, [&](std::int64_t received, std::int64_t total) {
        const int percent = JavaDownloadPercent(received, total);
        std::string text = JavaDownloadText(received, total);
        if (percent == lastPercent && text == lastText) return;
        lastPercent = percent;
        lastText = text;
        report.Step("download", percent, text);
    });
    if (!downloaded || !fs::exists(package, ignored)) {
        report.Finish("error", 0, "下载失败（网络或磁盘问题）");
        return;
    }

    report.Step("install", 100, task.installer->NeedsElevation() ? "正在安装（需要管理员授权）…" : "正在安装…");
    JavaPackageJob job;
    job.package = package;
    job.runtimeRoot = task.programFolder / "runtime";
    job.runtimeName = JavaRuntimeFolderName(task.name);
    job.log = log;
    const JavaPackageResult result =
        task.installer->Install(job, [&] { report.Step("install", 100, "安装已启动，请确认 UAC 授权…"); });
    const std::string logText = PathUtf8(log);

    switch (result.outcome) {
        case JavaPackageOutcome::NotStarted:
            RemoveQuietly(package);
            report.Finish("error", 0, "安装未启动（可能被取消或权限不足）");
            return;
        case JavaPackageOutcome::StartedUnconfirmed:
            report.Finish("done", 100, "安装已启动，若失败请查看日志：" + logText);
            return;
        case JavaPackageOutcome::Failed:
            report.Finish("error", 0, "安装失败（错误码 " + std::to_string(result.exitCode) + "），日志：" + logText);
            return;
        case JavaPackageOutcome::Unpackable:
            // The package stays for inspection.
            report.Finish("error", 0, "安装失败（无法解压安装包），日志：" + logText);
            return;
        case JavaPackageOutcome::Installed:
        case JavaPackageOutcome::InstalledRestartNeeded:
            break;
    }
    RemoveQuietly(package);
    RemoveQuietly(log);
    RemoveQuietly(task.programFolder / "installer.log");
    RemoveQuietly(logDir / "installer.log");
    if (!result.javaExe.empty() && task.installed) task.installed(result.javaExe);
    report.Finish("done", 100,
                  result.outcome == JavaPackageOutcome::InstalledRestartNeeded ? "安装完成，重启后生效 ✓" : "安装完成 ✓");
}

}  // namespace

void RunJavaInstall(const JavaInstallTask& task) {
    InstallReporter report(task);
    try {
        Install(task, report);
    } catch (const std::exception& error) {
        ConsoleLog(std::string("Java 安装出错：") + error.what());
        report.Finish("error", 0, "安装失败（无法解压安装包），日志：" + PathUtf8(task.programFolder / "log" / "java-install.log"));
    }
}

void OnJavaOpen(App& app) {
    if (!app.cloud) {
        PostUiEvent(app, JavaCatalogueNoCloudEvent());
        return;
    }
    // The catalogue comes from the backend, which may be slow: a worker waits for it.
    if (!StartWorker([cloud = app.cloud, events = app.events] { events.Post(JavaCatalogueEvent(GetJavaList(*cloud))); })) {
        PostUiEvent(app, JavaCatalogueEvent(""));
    }
}

void OnJavaInstall(App& app, const std::string& command) {
    const std::string name = ReadTextField(command, "name");
    if (name.empty()) return;  // nothing named, nothing to install
    if (app.javaInstallBusy->exchange(true)) {
        PostUiEvent(app, JavaInstallBusyEvent(name));
        return;
    }
    JavaInstallTask task;
    task.name = name;
    task.cloud = app.cloud;
    task.installer = MakeJavaPackageInstaller();
    task.downloadFolder = JavaDownloadFolder(TempFolder());
    task.programFolder = ProgramFolder();
    task.busy = app.javaInstallBusy;
    task.send = [events = app.events](std::string json) { events.Post(std::move(json)); };
    // The new runtime joins the list on the UI thread, like one the player picked by hand; the
    // task is dropped when the window has closed in the meantime.
    task.installed = [loop = app.loop, appPointer = &app](const std::string& exe) {
        loop->Post([appPointer, exe] {
            App& owner = *appPointer;
            if (addJavaCandidate(owner.settings.javaList, exe, true) < 0) return;
            owner.settings.Save();
            ReportJava(owner);
        });
    };
    if (!StartWorker([task = std::move(task)]() mutable { RunJavaInstall(std::move(task)); })) {
        app.javaInstallBusy->store(false);
        PostUiEvent(app, JavaProgressEvent(name, "error", 0, "安装未启动（可能被取消或权限不足）"));
    }
}

}  // namespace lumivale
