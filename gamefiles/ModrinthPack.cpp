#include "ModrinthPack.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <utility>

#include "DownloadEngine.h"
#include "JsonDocument.h"
#include "Log.h"
#include "ModpackZip.h"
#include "Paths.h"

namespace lumivale {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

std::string StringOr(const json& object, const char* name) {
    if (!object.is_object()) return {};
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::string Lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

bool ParseModrinthIndex(const std::string& text, ModrinthIndex& index, std::string& error) {
    const json document = ParseJsonDocument(text);
    if (document.is_discarded()) {
        error = "modrinth.index.json 不是合法 JSON";
        return false;
    }
    const auto format = document.is_object() ? document.find("formatVersion") : document.end();
    if (!document.is_object() || format == document.end() || !format->is_number_integer() ||
        format->get<std::int64_t>() != 1 || StringOr(document, "game") != "minecraft") {
        error = "不支持的 modrinth.index.json 格式";
        return false;
    }
    index = ModrinthIndex{};
    index.name = StringOr(document, "name");
    const auto dependencies = document.find("dependencies");
    if (dependencies != document.end() && dependencies->is_object()) {
        index.gameVersion = StringOr(*dependencies, "minecraft");
        index.forgeVersion = StringOr(*dependencies, "forge");
        for (const auto& [dependency, loader] : {std::pair{"fabric-loader", "fabric"}, std::pair{"quilt-loader", "quilt"},
                                                 std::pair{"neoforge", "neoforge"}}) {
            const std::string version = StringOr(*dependencies, dependency);
            if (!version.empty() && index.loader.empty()) {
                index.loader = loader;
                index.loaderVersion = version;
            }
        }
    }
    const auto files = document.find("files");
    if (files != document.end() && files->is_array()) {
        for (const json& file : *files) {
            if (!file.is_object()) continue;
            const auto env = file.find("env");
            if (env != file.end() && StringOr(*env, "client") == "unsupported") continue;
            ModrinthFile entry;
            entry.path = StringOr(file, "path");
            const auto downloads = file.find("downloads");
            if (downloads != file.end() && downloads->is_array() && !downloads->empty() &&
                downloads->front().is_string()) {
                entry.url = downloads->front().get<std::string>();
            }
            const auto hashes = file.find("hashes");
            if (hashes != file.end()) entry.sha1 = Lowercase(StringOr(*hashes, "sha1"));
            index.files.push_back(std::move(entry));
        }
    }
    return true;
}

void DownloadModrinthFiles(const std::vector<ModrinthFile>& files, const std::string& versionFolder,
                           const ModpackProgress& progress, ModCounters& counters) {
    counters = ModCounters{};
    const int total = static_cast<int>(files.size());
    counters.total = total;
    std::vector<int> codes(files.size(), kModFailed);
    std::atomic<int> finished{0};
    const auto report = [&](int percent, const std::string& text) {
        if (progress) progress(kModpackModsStep, kModpackStepCount, percent, text);
    };
    const fs::path folder = Utf8Path(versionFolder);
    RunParallel(
        total, kModWorkers,
        [&](int i) {
            const ModrinthFile& file = files[static_cast<std::size_t>(i)];
            int& code = codes[static_cast<std::size_t>(i)];
            std::string relative;
            if (!SafeRelativePath(file.path, relative)) {
                ConsoleLog("跳过可疑的整合包文件路径：" + file.path);
                return false;
            }
            const fs::path target = folder / Utf8Path(relative);
            const std::string targetText = PathUtf8(target);
            if (FileIsNonEmpty(targetText) && (file.sha1.empty() || Sha1OfFile(targetText) == file.sha1)) {
                code = kModPresent;
                return false;
            }
            if (file.url.empty()) {
                ConsoleLog("整合包文件没有下载地址：" + file.path);
                return false;
            }
            // Fetched beside its place and moved in only once its SHA-1 matches.
            const std::string pending = targetText + ".download";
            EnsureParentDirectories(targetText);
            std::string error;
            if (!DownloadFile(file.url, pending, error)) {
                ConsoleLog("整合包文件下载失败：" + file.path + "（" + error + "）");
                return false;
            }
            std::error_code ignored;
            if (!file.sha1.empty() && Sha1OfFile(pending) != file.sha1) {
                fs::remove(Utf8Path(pending), ignored);
                ConsoleLog("整合包文件校验失败（sha1 不符），已丢弃：" + file.path);
                return false;
            }
            std::error_code moveError;
            fs::rename(Utf8Path(pending), target, moveError);
            if (moveError) {
                fs::remove(Utf8Path(pending), ignored);
                return false;
            }
            code = kModDirect;
            return true;
        },
        [&](int i, bool) {
            switch (codes[static_cast<std::size_t>(i)]) {
                case kModPresent: ++counters.skipped; break;
                case kModDirect: ++counters.direct; break;
                default: ++counters.failed; break;
            }
            const int done = ++finished;
            if (done % 10 == 0 || done == total) {
                report(done * 100 / std::max(total, 1),
                       "文件 " + std::to_string(done) + "/" + std::to_string(total));
            }
        });
    report(100, "整合包文件就绪(下载 " + std::to_string(counters.direct) + " 个，跳过 " +
                    std::to_string(counters.skipped) + " 个，失败 " +
                    std::to_string(counters.failed) + " 个)");
}

}  // namespace lumivale
