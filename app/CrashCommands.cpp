#include "CrashCommands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "App.h"
#include "DiagnosticZip.h"
#include "LaunchChecks.h"
#include "Log.h"
#include "Paths.h"
#include "SystemInfo.h"
#include "VersionRules.h"

namespace lumivale {

namespace {

std::string SavedEvent(const char* key, const std::string& value) {
    return nlohmann::ordered_json{{"type", "crash:saved"}, {key, value}}.dump(
        -1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

// lumivale-crash-YYYYMMDD-HHMMSS.zip, in UTC.
std::string ZipName(std::chrono::system_clock::time_point now) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(now);
    const auto day = std::chrono::floor<std::chrono::days>(seconds);
    const std::chrono::year_month_day date{day};
    const std::chrono::hh_mm_ss time{seconds - day};
    char name[64];
    std::snprintf(name, sizeof name, "lumivale-crash-%04d%02u%02u-%02lld%02lld%02lld.zip", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long long>(time.hours().count()), static_cast<long long>(time.minutes().count()),
                  static_cast<long long>(time.seconds().count()));
    return name;
}

}  // namespace

std::vector<std::string> AccountSecrets(const Settings& settings) {
    return {settings.accessToken, settings.clientToken, settings.accountName};
}

void WarnBeforeLaunch(App& app, const CoreEntry& core, const std::string& javaPath) {
    const Settings& settings = app.settings;
    LaunchFacts facts;
    const auto java = std::find_if(settings.javaList.begin(), settings.javaList.end(),
                                   [&](const JavaInstall& j) { return j.exe == javaPath; });
    if (java != settings.javaList.end()) facts.javaMajor = JavaMajorOf(java->name);
    facts.javaBits = ExecutableBits(javaPath);
    facts.requiredJava = RequiredJavaOfCore(settings.gameDir, core.name, core.jar);
    facts.memoryMb = static_cast<std::uint32_t>(std::max(settings.memoryMb, 0));
    facts.physicalMemoryBytes = TotalPhysicalMemoryBytes();
    for (const std::string& warning : PreLaunchWarnings(facts)) {
        ConsoleLog("启动前检查：" + warning);
        PostUiEvent(app, nlohmann::ordered_json{{"type", "game:warning"}, {"msg", warning}}.dump());
    }
}

std::function<std::string(const GameSession&)> MakeCrashExplainer(std::shared_ptr<LastCrash> last,
                                                                  std::vector<std::string> secrets) {
    return [last = std::move(last), secrets = std::move(secrets)](const GameSession& session) {
        const CrashLog output{session.outputLog, CrashLogKind::Output, session.outputStart};
        std::vector<CrashLog> logs = FindCrashLogs(session.gameDirectory, session.startMs / 1000, output);
        CrashAnalysis analysis = AnalyseCrash(BuiltInCrashRules(), logs, session.exitCode);
        // Evidence is a line of the logs, which may show the token the game was given.
        for (CrashCause& cause : analysis.causes) {
            cause.evidence = MaskSecrets(std::move(cause.evidence), secrets);
            cause.advice = MaskSecrets(std::move(cause.advice), secrets);
            cause.mod = MaskSecrets(std::move(cause.mod), secrets);
        }
        std::erase_if(logs, [&](const CrashLog& log) {
            return std::find(analysis.files.begin(), analysis.files.end(), log.path) == analysis.files.end();
        });
        ConsoleLog("崩溃分析：" + (analysis.causes.empty() ? std::string("没能判断原因") : analysis.causes.front().id) +
                   "，读了 " + std::to_string(analysis.files.size()) + " 个日志");
        {
            std::lock_guard lock(last->mutex);
            last->logs = std::move(logs);
            last->summary = CrashSummaryText(analysis, session.exitCode);
            last->secrets = secrets;
        }
        return CrashEvent(analysis, session.exitCode);
    };
}

void OnCrashOpen(App& app) {
    std::string folder;
    {
        std::lock_guard lock(app.lastCrash->mutex);
        if (!app.lastCrash->logs.empty()) folder = PathUtf8(Utf8Path(app.lastCrash->logs.front().path).parent_path());
    }
    if (folder.empty()) {
        ConsoleLog("crash:open：还没有崩溃记录");
        return;
    }
    app.window->OpenUrl(FileUrl(Utf8Path(folder)));
}

void OnCrashExport(App& app) {
    {
        std::lock_guard lock(app.lastCrash->mutex);
        if (app.lastCrash->logs.empty()) {
            PostUiEvent(app, SavedEvent("error", "还没有可保存的崩溃记录"));
            return;
        }
    }
    app.window->PickFolder("选择诊断包的保存位置", [&app](const std::string& folder) {
        if (folder.empty()) return;  // cancelled
        std::vector<CrashLog> logs;
        std::string summary;
        std::vector<std::string> secrets = AccountSecrets(app.settings);
        {
            std::lock_guard lock(app.lastCrash->mutex);
            logs = app.lastCrash->logs;
            summary = app.lastCrash->summary;
            secrets.insert(secrets.end(), app.lastCrash->secrets.begin(), app.lastCrash->secrets.end());
        }
        const auto now = std::chrono::system_clock::now();
        const std::filesystem::path target = Utf8Path(folder) / ZipName(now);
        std::string error;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
        if (WriteDiagnosticZip(target, logs, summary, secrets, seconds, error)) {
            ConsoleLog("诊断包已保存：" + PathUtf8(target));
            PostUiEvent(app, SavedEvent("path", PathUtf8(target)));
        } else {
            ConsoleLog("诊断包保存失败：" + error);
            PostUiEvent(app, SavedEvent("error", "诊断包保存失败：" + error));
        }
    });
}

std::string FileUrl(const std::filesystem::path& path) {
    std::string text = PathUtf8(path);
    std::replace(text.begin(), text.end(), '\\', '/');
    if (!text.starts_with('/')) text.insert(0, "/");  // C:/… becomes /C:/…
    std::string url = "file://";
    constexpr const char* kHex = "0123456789ABCDEF";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                           std::string_view("-._~/:").find(c) != std::string_view::npos;
        if (plain) {
            url += c;
        } else {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 0xF];
        }
    }
    return url;
}

}  // namespace lumivale
