#include "ForgeInstall.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "DownloadEngine.h"
#include "Endpoints.h"
#include "Files.h"
#include "ForgeMerge.h"
#include "JsonDocument.h"
#include "Log.h"
#include "ModpackZip.h"
#include "Paths.h"
#include "Process.h"
#include "VersionManifest.h"

namespace lumivale {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

const json* Member(const json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::string Text(const json& object, const char* key) {
    const json* member = Member(object, key);
    return member && member->is_string() ? member->get<std::string>() : std::string();
}

void Report(const ModpackProgress& progress, int percent, const std::string& text) {
    if (progress) progress(kModpackForgeStep, kModpackStepCount, percent, text);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The last `limit` bytes of the log on one line.
std::string LogTail(const fs::path& log, std::size_t limit) {
    std::string text;
    ReadWholeFile(log, text);
    if (text.size() > limit) text = text.substr(text.size() - limit);
    for (char& c : text) {
        if (c == '\r' || c == '\n') c = ' ';
    }
    return text;
}

}  // namespace

bool DeleteTree(const std::string& folder) {
    std::error_code error;
    const fs::path path = Utf8Path(folder);
    if (!fs::exists(fs::symlink_status(path, error))) return true;
    // remove_all removes links themselves and never descends through them.
    fs::remove_all(path, error);
    return !error && !fs::exists(fs::symlink_status(path, error));
}

void UpdateLauncherProfiles(const std::string& gameDir, const std::string& versionId) {
    const fs::path file = Utf8Path(gameDir) / "launcher_profiles.json";
    std::string text;
    if (!ReadWholeFile(file, text)) return;
    json profiles = ParseJsonDocument(text);
    if (!profiles.is_object()) return;
    const auto list = profiles.find("profiles");
    if (list == profiles.end() || !list->is_object()) return;
    for (auto& [name, profile] : list->items()) {
        if (profile.is_object()) profile["lastVersionId"] = versionId;
    }
    WriteFileAtomically(file, profiles.dump(2));
}

bool RunForgeInstaller(const std::string& javaPath, const std::string& installerPath,
                       const std::string& gameDir, const std::string& logPath, std::string& error,
                       const InstallerLimits& limits) {
    const fs::path profiles = Utf8Path(gameDir) / "launcher_profiles.json";
    std::error_code ignored;
    if (!fs::exists(profiles, ignored)) {
        const std::string path = PathUtf8(profiles);
        if (WriteFileAtomically(profiles, kLauncherProfilesStub)) {
            ConsoleLog("已为 Forge 安装器预置空 launcher_profiles.json：" + path);
        } else {
            ConsoleLog("预置 launcher_profiles.json 失败：" + path);
            error = "无法在游戏目录写入 launcher_profiles.json（Forge 安装器要求此文件）：" + path;
            return false;
        }
    }

    ConsoleLog("Forge 安装命令：" + Quoted(javaPath) + " -jar " + Quoted(installerPath) +
               " --installClient " + Quoted(gameDir));

    const fs::path log = Utf8Path(logPath);
    fs::create_directory(log.parent_path(), ignored);
    std::ofstream out;
    errno = 0;
    out.open(log, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = "无法创建 Forge 安装日志文件 " + logPath + "（错误码 " + std::to_string(errno) +
                "，可能是目录只读或日志被其他程序占用）";
        return false;
    }

    ChildProcess installer;
    ProcessLaunch launch;
    launch.argv = {javaPath, "-jar", installerPath, "--installClient", gameDir};
    launch.captureOutput = true;
    if (!installer.Start(launch)) {
        error = "无法启动 Forge 安装程序（java 路径是否正确？）";
        return false;
    }
    // The watchdog stops the installer and what it started when time is up or the import is
    // cancelled; the output then closes and the loop below ends.
    enum class Ending { Itself, TimeLimit, Cancelled };
    std::mutex watchMutex;
    std::condition_variable watchSignal;
    bool finished = false;
    Ending ending = Ending::Itself;
    std::thread watchdog([&] {
        const auto deadline = std::chrono::steady_clock::now() + limits.timeLimit;
        std::unique_lock lock(watchMutex);
        while (!finished) {
            if (std::chrono::steady_clock::now() >= deadline) {
                ending = Ending::TimeLimit;
            } else if (limits.cancelled && limits.cancelled()) {
                ending = Ending::Cancelled;
            } else {
                watchSignal.wait_for(lock, std::chrono::milliseconds(200));
                continue;
            }
            installer.Stop();
            return;
        }
    });
    std::vector<char> buffer(64 * 1024);
    while (const std::size_t read = installer.ReadOutput(buffer.data(), buffer.size())) {
        out.write(buffer.data(), static_cast<std::streamsize>(read));
        out.flush();
    }
    installer.CloseOutput();
    const int code = installer.Reap();
    {
        std::lock_guard lock(watchMutex);
        finished = true;
    }
    watchSignal.notify_all();
    watchdog.join();
    out.close();
    if (ending == Ending::Cancelled) {
        error = "Forge 安装已取消";
        return false;
    }
    if (ending == Ending::TimeLimit) {
        const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(limits.timeLimit).count();
        ConsoleLog("Forge 安装程序超时，已停止，日志摘要：" + LogTail(log, 500));
        error = "Forge 安装程序超过 " + std::to_string(std::max<long long>(minutes, 1)) +
                " 分钟仍未结束，已停止（详见日志 " + logPath + "）";
        return false;
    }
    if (code == 0) return true;

    ConsoleLog("Forge 安装失败（退出码 " + std::to_string(code) + "），日志摘要：" + LogTail(log, 500));
    error = "Forge 安装程序返回退出码 " + std::to_string(code) + "（详见日志 " + logPath +
            "）。常见原因：Java 版本不匹配、网络不通或 jar 文件损坏";
    return false;
}

bool InstallForgeForModpack(const std::string& gameDir, const std::string& programDir,
                            const std::string& gameVersion, const std::string& forgeVersion,
                            const std::string& packName, const std::string& javaPath,
                            const json& vanillaJson, const ModpackProgress& progress,
                            std::string& error, const CancelCheck& cancelled, LoaderKind kind) {
    const std::string loader = LoaderKindName(kind);
    const std::string coordinate = gameVersion + "-" + forgeVersion;
    // Forge from the mirror's Maven as always; NeoForge from its own repository (the engine asks
    // the mirror's form of that address first).
    const std::string url = kind == LoaderKind::Forge
                                ? GetEndpoints().mirrorBase + "maven/net/minecraftforge/forge/" + coordinate + "/forge-" +
                                      coordinate + "-installer.jar"
                                : LoaderInstallerUrl(GetEndpoints(), kind, gameVersion, forgeVersion);
    const std::string installer =
        PathUtf8(Utf8Path(programDir) / "cache" / Utf8Path(url.substr(url.find_last_of('/') + 1)));
    EnsureParentDirectories(installer);
    if (!FileIsNonEmpty(installer)) {
        std::string downloadError;
        if (!DownloadFile(url, installer, downloadError)) {
            error = loader + " 安装包下载失败（" + downloadError + "）";
            return false;
        }
    } else {
        ConsoleLog("复用已缓存的 " + loader + " 安装器：" + installer);
        Report(progress, 20, loader + " 安装包已缓存，跳过下载");
    }

    Report(progress, 30, "正在静默安装 " + loader + "（需要 Java）…");
    if (javaPath.empty()) {
        error = "未找到可用的 Java（安装 " + loader + " 需要 Java 17+）";
        return false;
    }
    // A first start of the runtime, as the installer's own start would be; its outcome is not used.
    CaptureLimits warmUp;
    warmUp.outputLimit = std::chrono::milliseconds(30000);
    RunCaptured({javaPath, "-version"}, warmUp);

    const std::string log =
        PathUtf8(Utf8Path(programDir) / "log" / (kind == LoaderKind::Forge ? "forge-install.log" : "neoforge-install.log"));
    std::string installError;
    if (!RunForgeInstaller(javaPath, installer, gameDir, log, installError, {.cancelled = cancelled})) {
        error = loader + " 安装失败：" + installError;
        return false;
    }

    std::string forgeId = InstallerVersionId(installer);
    if (forgeId.empty()) forgeId = gameVersion + "-forge-" + forgeVersion;
    const fs::path forgeFolder = Utf8Path(gameDir) / "versions" / Utf8Path(forgeId);
    const fs::path forgeJson = forgeFolder / Utf8Path(forgeId + ".json");
    const fs::path forgeJar = forgeFolder / Utf8Path(forgeId + ".jar");
    const fs::path packFolder = Utf8Path(gameDir) / "versions" / Utf8Path(packName);
    const fs::path packJson = packFolder / Utf8Path(packName + ".json");
    const fs::path packJar = packFolder / Utf8Path(packName + ".jar");
    std::error_code ignored;
    if (!fs::is_regular_file(forgeJson, ignored)) {
        error = loader + " 安装后未找到版本 json（安装可能未完成）";
        return false;
    }

    const json forge = loadJsonFile(PathUtf8(forgeJson));
    if (forge.is_null()) {
        CopyFileReplacing(forgeJson, packJson);
    } else {
        // The merge keeps the game version as "clientVersion" beside the pack's name.
        json merged = MergeForgeVersionJson(vanillaJson, forge, packName);
        if (!WriteFileAtomically(packJson, merged.dump(2))) {
            error = "无法写入版本 json：" + PathUtf8(packJson);
            return false;
        }
        const auto libraries = merged.find("libraries");
        const std::size_t count =
            libraries != merged.end() && libraries->is_array() ? libraries->size() : 0;
        ConsoleLog("版本 json 已合并（libraries " + std::to_string(count) + " 项，assetIndex " +
                   (merged.contains("assetIndex") ? "有" : "无") + "）");
    }

    // A pack named exactly like the installer's version already holds the installer's files.
    const bool samePlace = forgeId == packName;
    if (samePlace) {
        ConsoleLog("整合包与 Forge 版本同名，直接使用安装器写出的文件：" + PathUtf8(packFolder));
    } else if (fs::exists(forgeJar, ignored)) {
        std::error_code moveError;
        fs::rename(forgeJar, packJar, moveError);
        if (!moveError) {
            ConsoleLog("已把 Forge 补丁 jar 落到 " + PathUtf8(packJar));
        } else {
            ConsoleLog("Forge 补丁 jar 移动失败（保留原版 jar）：" + PathUtf8(forgeJar));
        }
    } else {
        ConsoleLog("未找到 Forge 补丁 jar（安装器行为可能变化）：" + PathUtf8(forgeJar));
    }

    UpdateLauncherProfiles(gameDir, packName);
    if (!samePlace) {
        fs::remove(forgeJson, ignored);
        fs::remove(forgeFolder, ignored);  // only an empty folder goes
    }

    Report(progress, 100, loader + " 安装完成");
    return true;
}

std::string InstallerVersionId(const std::string& installerJar) {
    std::string text;
    std::string id;
    if (ReadZipEntry(installerJar, "version.json", text)) id = Text(ParseJsonDocument(text), "id");
    if (id.empty() && ReadZipEntry(installerJar, "install_profile.json", text)) {
        const json profile = ParseJsonDocument(text);
        id = Text(profile, "version");
        if (const json* install = Member(profile, "install"); id.empty() && install) id = Text(*install, "target");
        if (const json* info = Member(profile, "versionInfo"); id.empty() && info) id = Text(*info, "id");
    }
    return IsUsableFileName(id) ? id : std::string();
}


}  // namespace lumivale
