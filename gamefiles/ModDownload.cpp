#include "ModDownload.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "BackendEndpoints.h"
#include "DownloadEngine.h"
#include "Endpoints.h"
#include "HttpTransport.h"
#include "JsonDocument.h"
#include "Log.h"
#include "ModpackZip.h"
#include "Paths.h"
#include "Redirects.h"

namespace lumivale {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

std::string StringOr(const json& object, const char* name, std::string fallback = {}) {
    if (!object.is_object()) return fallback;
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : fallback;
}

// The text between the two double quotes after `"field"` and its colon; no unescaping.
std::string ScanQuotedField(const std::string& body, const std::string& field) {
    const std::size_t at = body.find("\"" + field + "\"");
    if (at == std::string::npos) return {};
    const std::size_t colon = body.find(':', at + field.size() + 2);
    if (colon == std::string::npos) return {};
    const std::size_t open = body.find('"', colon + 1);
    if (open == std::string::npos) return {};
    const std::size_t close = body.find('"', open + 1);
    if (close == std::string::npos) return {};
    return body.substr(open + 1, close - open - 1);
}

// The decimal number after `"classId"` and its colon, up to the next comma or closing brace;
// 0 when there is none.
std::int64_t ScanClassId(const std::string& body) {
    const std::size_t at = body.find("\"classId\"");
    if (at == std::string::npos) return 0;
    const std::size_t colon = body.find(':', at + 9);
    if (colon == std::string::npos) return 0;
    const std::size_t end = body.find_first_of(",}", colon + 1);
    if (end == std::string::npos) return 0;
    std::string text = body.substr(colon + 1, end - colon - 1);
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    const std::size_t last = text.find_last_not_of(" \t\r\n");
    if (first == std::string::npos) return 0;
    text = text.substr(first, last - first + 1);
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size()) return 0;
    return value;
}

std::string CurseForgeHeaders(const std::string& key) {
    return "Accept: application/json\r\nx-api-key: " + key + "\r\n";
}

// The folder for `type` below the version folder, made on demand.
fs::path TypeFolder(const std::string& versionFolder, const std::string& type) {
    const fs::path folder = Utf8Path(versionFolder) / FolderForModType(type);
    std::error_code ignored;
    fs::create_directory(folder, ignored);  // entries of one type may race here
    return folder;
}

// Mod files are fetched here rather than with the backend client's download: that one keeps
// whatever body arrives, so a 404 page or a redirect answer would be saved as the mod and
// counted as fetched. Here only a 2xx body counts, redirects are followed (CDNs use them), and
// the file is written beside its place and moved in once complete. One attempt per call.
bool FetchModFile(const std::string& url, const fs::path& target, std::string& error) {
    constexpr int kMaxRedirects = 5;
    fs::path partial = target;
    partial += ".part";
    std::string current = url;
    for (int hop = 0; hop <= kMaxRedirects; ++hop) {
        HttpRequest request;
        request.url = current;
        std::ofstream out;
        std::string location;
        bool writeFailed = false;
        std::int64_t written = 0;
        const HttpResponse response = SendHttpRequest(
            request,
            [&](std::string_view piece) {
                out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
                written += static_cast<std::int64_t>(piece.size());
                return !(writeFailed = !out);
            },
            [&](const HttpResponse& head) {
                if (head.status >= 300 && head.status < 400) {
                    location = head.Header("Location").value_or("");
                    return false;
                }
                if (head.status < 200 || head.status >= 300) return false;
                out.open(partial, std::ios::binary | std::ios::trunc);
                return !(writeFailed = !out);
            });
        if (out.is_open()) {
            out.close();
            writeFailed = writeFailed || !out;
        }
        std::error_code ignored;
        if (!location.empty()) {
            std::string next = ResolveLocation(current, location);
            if (!RedirectAllowed(current, next)) {
                error = kRedirectRefusedMessage + next;
                return false;
            }
            current = std::move(next);
            continue;
        }
        if (response.ok() && !writeFailed && written > 0 && response.status >= 200 && response.status < 300) {
            std::error_code moveError;
            fs::rename(partial, target, moveError);
            if (!moveError) return true;
            error = "无法写入 " + PathUtf8(target);
        } else if (response.answered && (response.status < 200 || response.status >= 300)) {
            error = "HTTP " + std::to_string(response.status) + "：" + current;
        } else {
            error = response.error.empty() ? "下载失败：" + current : response.error + "：" + current;
        }
        fs::remove(partial, ignored);
        return false;
    }
    error = "重定向过多：" + url;
    return false;
}

}  // namespace

ModCatalogue ParseModCatalogue(const std::string& answer) {
    ModCatalogue catalogue;
    const json document = ParseJsonDocument(answer);
    if (!document.is_object()) return catalogue;
    const auto items = document.find("items");
    if (items == document.end() || !items->is_array()) return catalogue;
    for (const json& item : *items) {
        const auto project = item.is_object() ? item.find("project") : item.end();
        if (!item.is_object() || project == item.end() || !project->is_string()) continue;
        const auto file = item.find("file");
        if (file == item.end() || !file->is_string()) continue;
        catalogue[project->get<std::string>() + ":" + file->get<std::string>()] =
            StoreMod{StringOr(item, "name"), StringOr(item, "type", "mod")};
    }
    return catalogue;
}

std::string FolderForModType(const std::string& type) {
    if (type == "resourcepack") return "resourcepacks";
    if (type == "shader") return "shaderpacks";
    return "mods";
}

std::string ModTypeForClassId(std::int64_t classId) {
    if (classId == 4471 || classId == 6552) return "shader";
    if (classId == 12 || classId == 4195) return "resourcepack";
    return "mod";
}

std::string ResolveModType(CloudClient& client, const std::string& project, std::int64_t classId,
                           const std::string& apiKey) {
    static constexpr std::int64_t kKnown[] = {1, 3, 6, 12, 4195, 4471, 6552};
    if (std::find(std::begin(kKnown), std::end(kKnown), classId) != std::end(kKnown))
        return ModTypeForClassId(classId);
    if (const auto cached = client.FindCurseForgeClass(project)) return ModTypeForClassId(*cached);
    std::int64_t found = 0;
    if (!apiKey.empty()) {
        const std::string body = client.GetUrl(
            GetEndpoints().curseForgeApiBase + "/v1/mods/" + PercentEncode(project),
            CurseForgeHeaders(apiKey));
        found = ScanClassId(body);
    }
    client.RememberCurseForgeClass(project, found);
    return ModTypeForClassId(found);
}

std::string ResolveModLink(CloudClient& client, const std::string& project, const std::string& file) {
    std::string key = client.CurseForgeKey();
    if (key.empty()) {
        GetCurseForgeKey(client);
        key = client.CurseForgeKey();
    }
    if (!key.empty()) {
        const std::string body = client.GetUrl(GetEndpoints().curseForgeApiBase + "/v1/mods/" +
                                                   PercentEncode(project) + "/files/" +
                                                   PercentEncode(file),
                                               CurseForgeHeaders(key));
        if (!body.empty()) {
            const std::string url = ScanQuotedField(body, "downloadUrl");
            if (!url.empty()) {
                const std::string name = ScanQuotedField(body, "fileName");
                const std::string type = ResolveModType(client, project, ScanClassId(body), key);
                const json answer{{"success", true}, {"url", url}, {"name", name}, {"type", type}};
                return answer.dump(-1, ' ', false, json::error_handler_t::replace);
            }
        }
        DiagLog("MOD", "CF 直连取直链失败，回退服务端 /api/curseforge/download");
    }
    return GetCurseForgeDownload(client, project, file);
}

std::string ModIdText(const json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_unsigned()) return std::to_string(value.get<std::uint64_t>());
    if (value.is_number_integer()) return std::to_string(value.get<std::int64_t>());
    if (value.is_number_float()) return value.dump();
    return {};
}

int ResolveAndDownloadMod(CloudClient& client, const ModCatalogue& catalogue, const json& entry,
                          const std::string& versionFolder) {
    if (!entry.is_object() || !entry.contains("projectID") || !entry.contains("fileID"))
        return kModWithoutIds;
    const std::string project = ModIdText(entry["projectID"]);
    const std::string file = ModIdText(entry["fileID"]);
    const std::string key = project + ":" + file;
    // A name made of the ids: used whenever a name from the network is not a plain file name.
    const std::string fallbackName = "mod-" + project + "-" + file + ".jar";

    const json answer = ParseJsonDocument(ResolveModLink(client, project, file));
    const std::string url = StringOr(answer, "url");
    if (!url.empty()) {
        std::string name = StringOr(answer, "name");
        if (!IsUsableFileName(name)) {
            if (!name.empty()) ConsoleLog("Mod 文件名不可用，改用 " + fallbackName + "：" + name);
            name = fallbackName;
        }
        const fs::path target = TypeFolder(versionFolder, StringOr(answer, "type")) / Utf8Path(name);
        if (FileIsNonEmpty(PathUtf8(target))) return kModPresent;
        std::string error;
        if (FetchModFile(url, target, error) || FetchModFile(url, target, error)) return kModDirect;
        DiagLog("MOD", "CurseForge 直链下载失败，将回退 S3：" + error);
    }

    const auto stored = catalogue.find(key);
    if (stored == catalogue.end() || stored->second.name.empty()) return kModFailed;
    std::string name = stored->second.name;
    if (!IsUsableFileName(name)) name = fallbackName;
    const fs::path target = TypeFolder(versionFolder, stored->second.type) / Utf8Path(name);
    if (FileIsNonEmpty(PathUtf8(target))) return kModPresent;
    const std::string storeUrl = StringOr(ParseJsonDocument(GetModDownload(client, project, file)), "url");
    if (storeUrl.empty()) return kModFailed;
    std::string error;
    if (FetchModFile(storeUrl, target, error)) return kModFromStore;
    DiagLog("MOD", "Mod(S3兜底) 下载失败（跳过）：" + key);
    return kModFailed;
}

void DownloadMods(const json& files, const std::string& versionFolder, CloudClient& client,
                  const ModpackProgress& progress, ModCounters& counters) {
    const ModCatalogue catalogue = ParseModCatalogue(GetModList(client));
    counters = ModCounters{};
    const int total = files.is_array() ? static_cast<int>(files.size()) : 0;
    counters.total = total;
    std::vector<int> codes(static_cast<std::size_t>(total), kModFailed);
    std::atomic<int> finished{0};
    const auto report = [&](int percent, const std::string& text) {
        if (progress) progress(kModpackModsStep, kModpackStepCount, percent, text);
    };
    RunParallel(
        total, kModWorkers,
        [&](int i) {
            int code = kModFailed;
            try {
                code = ResolveAndDownloadMod(client, catalogue, files[static_cast<std::size_t>(i)],
                                             versionFolder);
            } catch (const std::exception& e) {
                ConsoleLog(std::string("Mod 处理异常：") + e.what());
            }
            codes[static_cast<std::size_t>(i)] = code;
            return code == kModDirect || code == kModFromStore;
        },
        [&](int i, bool) {
            switch (codes[static_cast<std::size_t>(i)]) {
                case kModPresent: ++counters.skipped; break;
                case kModDirect: ++counters.direct; break;
                case kModFromStore: ++counters.s3; break;
                case kModWithoutIds: break;
                default: ++counters.failed; break;
            }
            const int done = ++finished;
            if (done % 10 == 0 || done == total) {
                report(done * 100 / std::max(total, 1),
                       "Mod " + std::to_string(done) + "/" + std::to_string(total));
            }
        });
    report(100, "Mod/资源包就绪(直链 " + std::to_string(counters.direct) + " 个，S3 " +
                    std::to_string(counters.s3) + " 个，跳过 " + std::to_string(counters.skipped) +
                    " 个，缺 " + std::to_string(counters.failed) + " 个)");
}

}  // namespace lumivale
