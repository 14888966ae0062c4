#include "ModpackImport.h"

#include <filesystem>
#include <functional>
#include <system_error>

#include "DownloadEngine.h"
#include "Endpoints.h"
#include "Files.h"
#include "ForgeInstall.h"
#include "LegacyMigration.h"
#include "Log.h"
#include "ForgeMerge.h"
#include "ModpackZip.h"
#include "Paths.h"
#include "VersionInstall.h"
#include "VersionManifest.h"

namespace lumivale {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr const char* kCancelledMessage = "已取消整合包导入";
// Room an import needs besides the pack itself: about what a version's client, libraries and
// assets take when none of them is there yet.
constexpr std::uint64_t kModpackSpareBytes = 512ull << 20;

// Runs its task when the scope ends, whichever way it is left.
struct OnExit {
    std::function<void()> task;
    ~OnExit() { task(); }
};

// Step 6 with Fabric or Quilt: the loader's profile folded into the vanilla JSON (one JSON with no
// inheritsFrom, like a Forge pack's core) and its libraries fetched.
bool InstallProfileForModpack(const ModpackPlan& plan, LoaderKind kind, const json& vanilla, const fs::path& packJson,
                              const ModpackImportContext& context, const ModpackProgress& progress, std::string& error) {
    const json profile = FetchLoaderProfile(GetEndpoints(), kind, plan.gameVersion, plan.loaderVersion, error);
    if (profile.is_null()) return false;
    const json merged = MergeForgeVersionJson(vanilla, profile, plan.name);
    const auto report = [&](const VersionProgress& state) {
        if (progress) progress(kModpackForgeStep, kModpackStepCount, state.total > 0 ? state.done * 100 / state.total : 0, state.text);
    };
    if (!DownloadInstallFiles(LibraryInstallFiles(profile, context.gameDir, "loader", GetEndpoints()), report,
                              context.cancelled, error)) {
        return false;
    }
    if (!WriteFileAtomically(packJson, merged.dump(2))) {
        error = "无法写入版本 json：" + PathUtf8(packJson);
        return false;
    }
    return true;
}

}  // namespace

bool ImportModpack(const std::string& zipPath, const ModpackImportContext& context,
                   const ModpackProgress& progress, std::string& error, ModCounters& counters) {
    counters = ModCounters{};
    const auto report = [&](int step, int percent, const std::string& text) {
        if (progress) progress(step, kModpackStepCount, percent, text);
    };
    const auto stopped = [&] {
        if (!context.cancelled || !context.cancelled()) return false;
        error = kCancelledMessage;
        return true;
    };

    report(0, 0, "正在解析整合包清单…");
    ModpackPlan plan;
    if (!ReadModpackPlan(zipPath, plan, error)) return false;
    const std::string& name = plan.name;
    const std::string& version = plan.gameVersion;
    report(0, 100, "整合包：" + name + " / MC " + version);

    const fs::path gameDir = Utf8Path(context.gameDir);
    const fs::path versions = gameDir / "versions";
    const fs::path versionFolder = versions / Utf8Path(name);
    std::error_code ignored;
    if (fs::exists(fs::symlink_status(versionFolder, ignored))) {
        error = kVersionExistsMessage + name;
        return false;
    }
    fs::create_directory(gameDir, ignored);
    fs::create_directory(versions, ignored);
    // The pack unpacked, and room for the game files beside it.
    const std::uint64_t needed = plan.unpackedSize + kModpackSpareBytes;
    std::error_code spaceError;
    const auto space = fs::space(versions, spaceError);
    if (!spaceError && space.available < needed) {
        error = "磁盘空间不足：导入约需 " + std::to_string(needed >> 20) + " MB，游戏目录所在磁盘只剩 " +
                std::to_string(space.available >> 20) + " MB";
        return false;
    }
    if (!fs::create_directory(versionFolder, ignored)) {
        error = "无法创建版本文件夹：" + PathUtf8(versionFolder);
        return false;
    }
    const std::string versionFolderText = PathUtf8(versionFolder);
    // The game-version folder made for the Forge installer (see below).
    const fs::path parentFolder = versions / Utf8Path(version);
    MovedFolders movedLegacy;
    bool finished = false;
    const OnExit cleanUp{[&] {
        if (fs::exists(parentFolder / kImportParentMarker, ignored)) DeleteTree(PathUtf8(parentFolder));
        if (finished) return;
        RestoreLegacyFolders(movedLegacy);
        DeleteTree(versionFolderText);
    }};

    // Step 1: the vanilla version JSON, fetched again on every import.
    if (stopped()) return false;
    report(1, 0, "正在获取版本信息…");
    const std::string cache =
        PathUtf8(Utf8Path(context.programDir) / "cache" / Utf8Path("mp_" + version + ".json"));
    EnsureParentDirectories(cache);
    std::string downloadError;
    if (!DownloadFile(GetEndpoints().mirrorBase + "version/" + version + "/json", cache, downloadError)) {
        if (stopped()) return false;  // a cancel while it waited is a cancel, not a failure
        error = "原版版本信息下载失败（" + downloadError + "）";
        return false;
    }
    const json vanilla = loadJsonFile(cache);
    if (!vanilla.is_object()) {
        error = "原版版本信息解析失败";
        return false;
    }
    // The Forge installer looks for versions/<V>/<V>.json. A folder made here is marked, so the
    // cleanup can tell it from a core of that version the player already had.
    if (!fs::exists(fs::symlink_status(parentFolder, ignored)) && version != name) {
        if (fs::create_directory(parentFolder, ignored))
            WriteFileAtomically(parentFolder / kImportParentMarker, "");
    }
    const fs::path parentJson = parentFolder / Utf8Path(version + ".json");
    if (!fs::exists(parentJson, ignored))
        fs::copy_file(Utf8Path(cache), parentJson, fs::copy_options::none, ignored);

    // Step 2: libraries; failures are only counted.
    if (stopped()) return false;
    report(2, 0, "正在下载依赖库…");
    CompleteModpackLibraries(context.gameDir, vanilla, progress, context.cancelled);

    // Step 3: assets.
    if (stopped()) return false;
    report(3, 0, "正在下载资源文件…");
    if (!CompleteAssets(
            context.gameDir, vanilla,
            [&](int percent, const std::string& text) { report(3, percent, text); }, error,
            context.cancelled)) {
        return false;
    }

    // Step 4: the client jar of the core.
    if (stopped()) return false;
    if (!EnsureModpackClientJar(context.gameDir, vanilla, versionFolderText, version, progress,
                                error, context.cancelled)) {
        return false;
    }

    movedLegacy = MigrateLegacyFolders(context.gameDir, name);

    // Step 5: the pack's own files.
    if (stopped()) return false;
    report(5, 0, "正在解压整合包文件…");
    for (const std::string& prefix : plan.overrides) ExtractZipPrefix(zipPath, prefix, versionFolderText);
    report(5, 100, "整合包文件就绪");

    // Step 6: the loader, or the vanilla JSON as the core's own.
    if (stopped()) return false;
    LoaderKind kind = LoaderKind::Forge;
    if (!plan.loader.empty() && !ParseLoaderKind(plan.loader, kind)) kind = LoaderKind::None;
    const std::string loaderName = LoaderKindName(kind);
    report(6, 0, "正在安装 " + (loaderName.empty() ? std::string("加载器") : loaderName) + "…");
    const fs::path packJson = versionFolder / Utf8Path(name + ".json");
    if (plan.forgeVersion.empty() && plan.loader.empty()) {
        if (!CopyFileReplacing(Utf8Path(cache), packJson)) ConsoleLog("版本 json 写入失败：" + PathUtf8(packJson));
        report(6, 100, "无需 Forge");
    } else if (kind == LoaderKind::Fabric || kind == LoaderKind::Quilt) {
        if (!InstallProfileForModpack(plan, kind, vanilla, packJson, context, progress, error)) return false;
        report(6, 100, loaderName + " 安装完成");
    } else if (kind == LoaderKind::None) {
        error = "未知的加载器：" + plan.loader;
        return false;
    } else if (!InstallForgeForModpack(context.gameDir, context.programDir, version,
                                       plan.forgeVersion.empty() ? plan.loaderVersion : plan.forgeVersion, name,
                                       context.javaPath, vanilla, progress, error, context.cancelled, kind)) {
        return false;
    }

    // The versions/<V> folder prepared above has served the installer.
    if (fs::exists(parentFolder / kImportParentMarker, ignored)) {
        const std::string folder = PathUtf8(parentFolder);
        if (DeleteTree(folder)) {
            ConsoleLog("已清理父版本源目录：" + folder);
        } else {
            ConsoleLog("父版本源目录清理失败（可忽略）：" + folder);
        }
    }

    // Step 7: mods, resource packs, shader packs.
    if (stopped()) return false;
    report(7, 0, "正在准备 Mod / 资源包…");
    if (plan.modrinth) {
        if (plan.modrinthFiles.empty()) {
            report(7, 100, "无需下载 Mod");
        } else {
            DownloadModrinthFiles(plan.modrinthFiles, versionFolderText, progress, counters);
        }
    } else if (!context.cloud || plan.curseForgeFiles.empty()) {
        report(7, 100, "无需下载 Mod");
        counters.total = 0;
    } else {
        DownloadMods(plan.curseForgeFiles, versionFolderText, *context.cloud, progress, counters);
    }

    report(7, 100, "导入完成：" + name);
    finished = true;
    return true;
}

}  // namespace lumivale
