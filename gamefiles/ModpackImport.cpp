#include "ModpackImport.h"

#include <filesystem>
#include <functional>
#include <system_error>

#include "DownloadEngine.h"
#include "Endpoints.h"
#include "Files.h"
#include "ForgeInstall.h"
#include "JsonDocument.h"
#include "LegacyMigration.h"
#include "Log.h"
#include "ForgeMerge.h"
#include "ModpackZip.h"
#include "Paths.h"
#include "VersionInstall.h"
#include "VersionManifest.h"
#include "ZipArchive.h"

namespace lumivale {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr const char* kCancelledMessage = "已取消整合包导入";

// Runs its task when the scope ends, whichever way it is left.
struct OnExit {
    std::function<void()> task;
    ~OnExit() { task(); }
};

std::string StringOr(const json& object, const char* name) {
    if (!object.is_object()) return {};
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// The names that become folder and file names are checked before anything is written.
bool CheckNames(const ModpackPlan& plan, std::string& error) {
    if (!IsUsableFileName(plan.name)) {
        error = kUnusablePackNameMessage + plan.name;
        return false;
    }
    if (!IsUsableFileName(plan.gameVersion)) {
        error = kUnusableGameVersionMessage + plan.gameVersion;
        return false;
    }
    if (!plan.forgeVersion.empty() && !IsUsableFileName(plan.forgeVersion)) {
        error = kUnusableForgeVersionMessage + plan.forgeVersion;
        return false;
    }
    if (!plan.loader.empty() && !IsUsableFileName(plan.loaderVersion)) {
        error = kUnusableLoaderVersionMessage + plan.loaderVersion;
        return false;
    }
    return true;
}

bool ReadModrinthPlan(const std::string& text, ModpackPlan& plan, std::string& error) {
    ModrinthIndex index;
    if (!ParseModrinthIndex(text, index, error)) return false;
    if (index.gameVersion.empty() || index.name.empty()) {
        error = "manifest 缺少 version 或 name";
        return false;
    }
    plan.name = index.name;
    plan.gameVersion = index.gameVersion;
    plan.forgeVersion = index.forgeVersion;
    if (plan.forgeVersion.empty()) {
        plan.loader = index.loader;
        plan.loaderVersion = index.loaderVersion;
    }
    plan.overrides = {"overrides/", "client-overrides/"};
    plan.modrinth = true;
    plan.modrinthFiles = std::move(index.files);
    return CheckNames(plan, error);
}

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

bool ReadModpackPlan(const std::string& zipPath, ModpackPlan& plan, std::string& error) {
    plan = ModpackPlan{};
    // Each way a pack can be unreadable gets its own words.
    std::error_code status;
    if (!fs::is_regular_file(Utf8Path(zipPath), status)) {
        error = "找不到整合包文件：" + zipPath;
        return false;
    }
    if (!ZipArchive::Open(Utf8Path(zipPath))) {
        error = "整合包不是有效的 zip 文件：" + zipPath;
        return false;
    }
    std::string text;
    if (!ReadZipEntry(zipPath, "manifest.json", text)) {
        if (ReadZipEntry(zipPath, kModrinthIndexName, text)) return ReadModrinthPlan(text, plan, error);
        error = "zip 内找不到 manifest.json";
        return false;
    }
    const json manifest = ParseJsonDocument(text);
    if (manifest.is_discarded()) {
        error = "manifest.json 不是合法 JSON";
        return false;
    }
    const auto minecraft = manifest.is_object() ? manifest.find("minecraft") : manifest.end();
    if (!manifest.is_object() || minecraft == manifest.end() || !minecraft->is_object()) {
        error = "manifest 缺少 minecraft 段";
        return false;
    }
    plan.gameVersion = StringOr(*minecraft, "version");
    plan.name = StringOr(manifest, "name");
    if (plan.gameVersion.empty() || plan.name.empty()) {
        error = "manifest 缺少 version 或 name";
        return false;
    }
    const auto loaders = minecraft->find("modLoaders");
    if (loaders != minecraft->end() && loaders->is_array()) {
        for (const json& loader : *loaders) {
            const std::string id = StringOr(loader, "id");
            if (id.starts_with("forge-")) {
                plan.forgeVersion = id.substr(6);
                break;
            }
        }
    }
    const auto files = manifest.find("files");
    if (files != manifest.end() && files->is_array()) plan.curseForgeFiles = *files;
    const auto overrides = manifest.find("overrides");
    const std::string prefix =
        overrides != manifest.end() && overrides->is_string() ? overrides->get<std::string>() : "overrides";
    if (!prefix.empty()) plan.overrides = {prefix + "/"};
    return CheckNames(plan, error);
}

std::string PeekModpackGameVersion(const std::string& zipPath) {
    std::string text;
    if (ReadZipEntry(zipPath, "manifest.json", text)) {
        const json manifest = ParseJsonDocument(text);
        if (!manifest.is_object()) return {};
        const auto minecraft = manifest.find("minecraft");
        return minecraft != manifest.end() ? StringOr(*minecraft, "version") : std::string();
    }
    if (ReadZipEntry(zipPath, kModrinthIndexName, text)) {
        const json index = ParseJsonDocument(text);
        if (!index.is_object()) return {};
        const auto dependencies = index.find("dependencies");
        return dependencies != index.end() ? StringOr(*dependencies, "minecraft") : std::string();
    }
    return {};
}

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
    report(2, 0, "正在并发下载依赖库…");
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
    report(7, 0, "正在并发准备 Mod / 资源包…");
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
