#include "ModpackPlan.h"

#include <filesystem>
#include <system_error>

#include "JsonDocument.h"
#include "ModpackZip.h"
#include "Paths.h"
#include "ZipArchive.h"

namespace lumivale {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

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

}  // namespace

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

bool ReadCurseForgePlan(const std::string& text, ModpackPlan& plan, std::string& error) {
    plan = ModpackPlan{};
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


bool ReadModpackPlan(const std::string& zipPath, ModpackPlan& plan, std::string& error) {
    plan = ModpackPlan{};
    // Each way a pack can be unreadable gets its own words.
    std::error_code status;
    if (!fs::is_regular_file(Utf8Path(zipPath), status)) {
        error = "找不到整合包文件：" + zipPath;
        return false;
    }
    ZipRefusal refusal = ZipRefusal::None;
    const auto archive = ZipArchive::Open(Utf8Path(zipPath), kModpackZipLimits, &refusal);
    if (!archive) {
        error = (refusal == ZipRefusal::TooLarge       ? kPackTooLargeMessage
                 : refusal == ZipRefusal::RatioTooHigh ? kPackRatioMessage
                                                       : "整合包不是有效的 zip 文件：") +
                zipPath;
        return false;
    }
    const std::uint64_t unpackedSize = archive->TotalSize();
    std::string text;
    bool read = false;
    if (ReadZipEntry(zipPath, "manifest.json", text)) {
        read = ReadCurseForgePlan(text, plan, error);
    } else if (ReadZipEntry(zipPath, kModrinthIndexName, text)) {
        read = ReadModrinthPlan(text, plan, error);
    } else {
        error = "zip 内找不到 manifest.json";
    }
    plan.unpackedSize = unpackedSize;
    return read;
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

}  // namespace lumivale
