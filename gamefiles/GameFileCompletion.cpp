#include "GameFileCompletion.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "DownloadEngine.h"
#include "DownloadTally.h"
#include "Files.h"
#include "Hash.h"
#include "Log.h"
#include "Paths.h"
#include "VersionManifest.h"

namespace lumivale {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

bool IsCancelled(const CancelCheck& cancelled) {
    return cancelled && cancelled();
}

void Report(const CompletionProgress& progress, int percent, const std::string& text) {
    if (progress) progress(percent, text);
}

void Report(const ModpackProgress& progress, int step, int percent, const std::string& text) {
    if (progress) progress(step, kModpackStepCount, percent, text);
}

const json* Member(const json& object, const char* name) {
    if (!object.is_object()) return nullptr;
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

const json* ObjectMember(const json& object, const char* name) {
    const json* member = Member(object, name);
    return member && member->is_object() ? member : nullptr;
}

const std::string* StringMember(const json& object, const char* name) {
    const json* member = Member(object, name);
    return member && member->is_string() ? member->get_ptr<const std::string*>() : nullptr;
}

// downloads.client of a version JSON, when it is an object.
const json* ClientDownload(const json& versionJson) {
    const json* downloads = ObjectMember(versionJson, "downloads");
    return downloads ? ObjectMember(*downloads, "client") : nullptr;
}

std::string Join(const std::string& base, std::initializer_list<std::string_view> parts) {
    fs::path path = Utf8Path(base);
    for (std::string_view part : parts) path /= Utf8Path(part);
    return PathUtf8(path);
}

// Paths and names taken from a version JSON or an asset index end up below the game folder; one
// that is absolute or climbs out with ".." is not used.
bool StaysInside(const std::string& relative) {
    const fs::path path = Utf8Path(relative);
    if (path.empty() || path.has_root_path()) return false;
    return std::none_of(path.begin(), path.end(),
                        [](const fs::path& part) { return part == ".."; });
}

bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string_view::npos;
}

bool IsAlphanumeric(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

std::string Lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string OfficialJarPath(const std::string& gameDir, const std::string& gameVersion) {
    return Join(gameDir, {"libraries", "net", "minecraft", "client", gameVersion,
                          "client-" + gameVersion + "-official.jar"});
}

std::int64_t SizeOf(const std::string& path) {
    std::error_code ignored;
    const auto size = fs::file_size(Utf8Path(path), ignored);
    return ignored ? 0 : static_cast<std::int64_t>(size);
}

std::string FailedSuffix(int failed) {
    return failed > 0 ? "（失败 " + std::to_string(failed) + "）" : std::string();
}

// Moves a damaged jar aside, replacing an older backup.
void BackUp(const std::string& path, const std::string& backup) {
    std::error_code ignored;
    fs::remove(Utf8Path(backup), ignored);
    fs::rename(Utf8Path(path), Utf8Path(backup), ignored);
}

struct LibraryItem {
    std::string target;
    std::string url;
    std::string label;
    ExpectedFile expected;
};

// The engine's batch of some library items, kCompletionWorkers transfers at a time.
std::vector<DownloadItem> BatchOf(const std::vector<LibraryItem>& items) {
    std::vector<DownloadItem> batch;
    batch.reserve(items.size());
    for (const LibraryItem& item : items) batch.push_back({item.url, item.target, item.expected});
    return batch;
}

DownloadOptions CompletionOptions() {
    DownloadOptions options;
    options.parallel = kCompletionWorkers;
    return options;
}

// The sha1 and size a download entry ({url, sha1, size}) declares.
ExpectedFile DeclaredOf(const json& entry) {
    ExpectedFile expected;
    if (const std::string* sha1 = StringMember(entry, "sha1")) expected.sha1 = *sha1;
    if (const json* size = Member(entry, "size"); size && size->is_number_integer()) {
        expected.size = size->get<std::int64_t>();
    }
    return expected;
}

}  // namespace

std::string Sha1OfFile(const std::string& path) {
    return Sha1HexOfFile(path);
}

std::string ParentOfForgeName(const std::string& versionId) {
    // Lower-casing ASCII letters keeps every byte where it was, so positions carry over.
    const std::string lower = Lowercase(versionId);
    std::size_t at = lower.find("-forge");
    if (at == std::string::npos) at = lower.find("_forge");
    if (at == std::string::npos) return {};
    return versionId.substr(0, at);
}

std::string FindOfficialClientJar(const std::string& gameDir) {
    const fs::path clientFolder =
        Utf8Path(Join(gameDir, {"libraries", "net", "minecraft", "client"}));
    std::error_code error;
    std::vector<fs::path> folders;
    for (fs::directory_iterator it(clientFolder, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) folders.push_back(it->path());
    }
    std::sort(folders.begin(), folders.end());

    constexpr std::string_view kPrefix = "client-";
    constexpr std::string_view kSuffix = "-official.jar";
    for (const fs::path& folder : folders) {
        std::vector<std::string> names;
        std::error_code listError;
        for (fs::directory_iterator it(folder, listError), end; !listError && it != end;
             it.increment(listError)) {
            std::error_code typeError;
            if (!it->is_regular_file(typeError)) continue;
            std::string name = PathUtf8(it->path().filename());
            // The pattern "client-*-official.jar", letter case aside as on Windows.
            const std::string lower = Lowercase(name);
            if (lower.size() >= kPrefix.size() + kSuffix.size() && lower.starts_with(kPrefix) &&
                lower.ends_with(kSuffix)) {
                names.push_back(std::move(name));
            }
        }
        if (names.empty()) continue;
        std::sort(names.begin(), names.end());
        return PathUtf8(folder / Utf8Path(names.front()));
    }
    return {};
}

bool EnsureOfficialClientJar(const std::string& gameDir, const json& versionJson,
                             const CompletionProgress& progress, std::string& error,
                             const CancelCheck& cancelled) {
    const json* client = ClientDownload(versionJson);
    const std::string* expectedSha1 = client ? StringMember(*client, "sha1") : nullptr;
    const std::string* url = client ? StringMember(*client, "url") : nullptr;
    if (!expectedSha1 || !url) return true;

    // A Forge core keeps the official jar of its game version; any other core may only have its
    // own version's official jar checked. Taking whichever official jar comes first would replace
    // another version's jar with this version's client and break the cores built on it.
    std::string path;
    if (const std::string* game = StringMember(versionJson, "clientVersion"); game && IsPlainName(*game)) {
        path = OfficialJarPath(gameDir, *game);  // an imported pack's core: its id is the pack's name
    } else if (const std::string* id = StringMember(versionJson, "id")) {
        const std::string parent = ParentOfForgeName(*id);
        if (IsPlainName(parent)) {
            path = OfficialJarPath(gameDir, parent);
        } else if (parent.empty() && IsPlainName(*id) && FileIsNonEmpty(OfficialJarPath(gameDir, *id))) {
            path = OfficialJarPath(gameDir, *id);
        }
    }
    if (path.empty()) return true;

    if (FileIsNonEmpty(path)) {
        const std::string local = Sha1OfFile(path);
        if (!local.empty() && local == *expectedSha1) {
            Report(progress, 100, "原版客户端已就绪");
            return true;
        }
        BackUp(path, path + ".badsha1.bak");
        ConsoleLog("原版客户端 sha1 不匹配（本地 " + local + " vs 官方 " + *expectedSha1 +
                   "），已备份旧文件并重新下载");
    }

    if (IsCancelled(cancelled)) {
        error = kCompletionCancelledMessage;
        return false;
    }
    Report(progress, 10, "原版客户端不完整，正在从国内镜像补齐…");
    // The engine refuses a body whose SHA-1 or size is not the declared one.
    std::string downloadError;
    if (!DownloadFile(*url, path, downloadError, DeclaredOf(*client))) {
        error = kOfficialJarDownloadFailedMessage + downloadError + kOfficialJarDownloadHint;
        return false;
    }
    Report(progress, 100, "原版客户端已补齐");
    return true;
}

bool CompleteGameFiles(const std::string& gameDir, const std::string& versionId,
                       const CompletionProgress& progress, std::string& error,
                       const CancelCheck& cancelled) {
    const std::string jsonPath = versionJsonPath(gameDir, versionId);
    const json versionJson = loadJsonFile(jsonPath);
    if (versionJson.is_null()) {
        error = versionJsonProblem(jsonPath, kVersionJsonNotFoundMessage);
        return false;
    }
    if (IsCancelled(cancelled)) {
        error = kCompletionCancelledMessage;
        return false;
    }

    if (!EnsureOfficialClientJar(gameDir, versionJson, progress, error, cancelled)) return false;

    // The libraries of the core and of every version it inherits from; each file once.
    bool resolves = false;
    const std::vector<json> chain = loadVersionChain(gameDir, versionId, resolves);
    std::vector<LibraryItem> items;
    std::set<std::string> targets;
    for (const json& version : chain) {
        const json* libraries = Member(version, "libraries");
        if (!libraries || !libraries->is_array()) continue;
        for (const json& library : *libraries) {
            std::vector<LibraryFile> files;
            try {
                files = libraryFiles(library, GetEndpoints().officialLibrariesBase);
            } catch (const json::exception&) {
                continue;  // rules this launcher cannot read: the library is not for this system
            }
            for (LibraryFile& file : files) {
                if (!StaysInside(file.path)) continue;
                std::string target = Join(gameDir, {"libraries", file.path});
                if (FileIsPresent(target, file.size) || !targets.insert(target).second) continue;
                items.push_back({std::move(target), std::move(file.url), file.path, {file.sha1, file.size}});
            }
        }
    }

    if (!items.empty()) {
        if (IsCancelled(cancelled)) {
            error = kCompletionCancelledMessage;
            return false;
        }
        const int count = static_cast<int>(items.size());
        Report(progress, 0, "正在下载 " + std::to_string(count) + " 个缺少的游戏文件…");
        // Called one at a time by the engine.
        DownloadTally tally(count);
        DownloadFiles(
            BatchOf(items), CompletionOptions(),
            [&](int i, bool ok, const std::string& downloadError) {
                if (ok) {
                    tally.Succeeded(SizeOf(items[i].target));
                } else {
                    tally.Failed(items[i].label, downloadError);
                    ConsoleLog("游戏文件下载失败：" + items[i].url + "：" + downloadError);
                }
                if (tally.Finished() % 10 == 0 || tally.Finished() == count) {
                    Report(progress, tally.Percent(), tally.ProgressLine());
                }
            },
            cancelled);
        if (IsCancelled(cancelled)) {
            error = kCompletionCancelledMessage;
            return false;
        }
        if (tally.failed > 0) {
            error = tally.FailureMessage();
            return false;
        }
    }

    Report(progress, 100, "游戏文件已就绪");
    return true;
}

void CompleteModpackLibraries(const std::string& gameDir, const json& vanillaJson,
                              const ModpackProgress& progress, const CancelCheck& cancelled) {
    std::vector<LibraryItem> items;
    if (const json* libraries = Member(vanillaJson, "libraries");
        libraries && libraries->is_array()) {
        for (const json& library : *libraries) {
            try {
                if (!libraryAllowed(library)) continue;
            } catch (const json::exception&) {
                continue;
            }
            const json* downloads = ObjectMember(library, "downloads");
            const json* artifact = downloads ? Member(*downloads, "artifact") : nullptr;
            const std::string* url = artifact ? StringMember(*artifact, "url") : nullptr;
            const std::string* path = artifact ? StringMember(*artifact, "path") : nullptr;
            if (!url || !path || !StaysInside(*path)) continue;
            std::string target = Join(gameDir, {"libraries", *path});
            const ExpectedFile expected = DeclaredOf(*artifact);
            if (!FileIsPresent(target, expected.size)) items.push_back({std::move(target), *url, *path, expected});
        }
    }
    if (IsCancelled(cancelled)) return;

    const int count = static_cast<int>(items.size());
    int finished = 0;
    int failed = 0;
    DownloadFiles(
        BatchOf(items), CompletionOptions(),
        [&](int i, bool ok, const std::string&) {
            ++finished;
            if (!ok) {
                ++failed;
                ConsoleLog("依赖库下载失败（跳过）：" + items[i].url);
            }
            if (finished % 10 == 0 || finished == count) {
                Report(progress, kModpackLibrariesStep, finished * 100 / std::max(count, 1),
                       "依赖库 " + std::to_string(finished) + "/" + std::to_string(count) +
                           FailedSuffix(failed));
            }
        },
        cancelled);
    if (IsCancelled(cancelled)) return;
    Report(progress, kModpackLibrariesStep, 100, "依赖库就绪");
}

bool CompleteAssets(const std::string& gameDir, const json& versionJson,
                    const CompletionProgress& progress, std::string& error,
                    const CancelCheck& cancelled, const Endpoints& endpoints) {
    const json* assetIndex = ObjectMember(versionJson, "assetIndex");
    if (!assetIndex) return true;
    const std::string* idMember = StringMember(*assetIndex, "id");
    const std::string id = idMember ? *idMember : std::string();
    const std::string* urlMember = StringMember(*assetIndex, "url");
    const std::string url =
        urlMember ? *urlMember : endpoints.mirrorBase + "assets/indexes/" + id + ".json";
    if (id.empty()) return true;
    if (!IsPlainName(id)) {
        ConsoleLog("资源索引名称无效，跳过资源补齐：" + id);
        return true;
    }
    if (IsCancelled(cancelled)) {
        error = kCompletionCancelledMessage;
        return false;
    }

    const std::string indexPath = Join(gameDir, {"assets", "indexes", id + ".json"});
    const ExpectedFile indexExpected = DeclaredOf(*assetIndex);
    if (!FileIsPresent(indexPath, indexExpected.size)) {
        Report(progress, 5, "正在下载资源索引…");
        std::string downloadError;
        if (!DownloadFile(url, indexPath, downloadError, indexExpected)) {
            error = kAssetIndexDownloadFailedMessage + downloadError;
            return false;
        }
    }

    const json index = loadJsonFile(indexPath);
    const json* objects = Member(index, "objects");
    if (!objects) return true;

    // Keyed by hash: a hash named by several assets is fetched once, in ascending hash order. The
    // hash is the object's SHA-1.
    std::map<std::string, std::int64_t> missing;
    if (objects->is_object()) {
        for (const auto& [name, object] : objects->items()) {
            const std::string* hash = StringMember(object, "hash");
            if (!hash || hash->size() < 2 || !IsAlphanumeric(*hash)) continue;
            const std::int64_t size = DeclaredOf(object).size;
            if (!FileIsPresent(Join(gameDir, {"assets", "objects", hash->substr(0, 2), *hash}), size)) {
                missing.emplace(*hash, size);
            }
        }
    }
    const std::vector<std::pair<std::string, std::int64_t>> items(missing.begin(), missing.end());
    if (IsCancelled(cancelled)) {
        error = kCompletionCancelledMessage;
        return false;
    }

    const int count = static_cast<int>(items.size());
    Report(progress, 10, "正在下载 " + std::to_string(count) + " 个资源文件…");
    int finished = 0;
    int failed = 0;
    std::vector<DownloadItem> batch;
    batch.reserve(items.size());
    for (const auto& [hash, size] : items) {
        const std::string prefix = hash.substr(0, 2);
        batch.push_back({endpoints.officialAssetsBase + prefix + "/" + hash,
                         Join(gameDir, {"assets", "objects", prefix, hash}), ExpectedFile{hash, size}});
    }
    DownloadFiles(
        batch, CompletionOptions(),
        [&](int i, bool ok, const std::string& downloadError) {
            ++finished;
            if (!ok) {
                ++failed;
                ConsoleLog("资源对象下载失败（继续）：" + items[i].first + " -> " + downloadError);
            }
            if (finished % 100 == 0 || finished == count) {
                Report(progress, 10 + finished * 90 / std::max(count, 1),
                       "资源文件 " + std::to_string(finished) + "/" + std::to_string(count) +
                           FailedSuffix(failed));
            }
        },
        cancelled);
    if (IsCancelled(cancelled)) {
        error = kCompletionCancelledMessage;
        return false;
    }
    if (failed > 0)
        ConsoleLog("资源文件并发下载完成：失败 " + std::to_string(failed) + " 个（已跳过）");

    Report(progress, 100, "资源文件就绪");
    return true;
}

bool EnsureModpackClientJar(const std::string& gameDir, const json& vanillaJson,
                            const std::string& versionFolder, const std::string& gameVersion,
                            const ModpackProgress& progress, std::string& error,
                            const CancelCheck& cancelled) {
    fs::path folder = Utf8Path(versionFolder);
    if (!folder.has_filename()) folder = folder.parent_path();  // a trailing separator
    const std::string jar = PathUtf8(folder / Utf8Path(PathUtf8(folder.filename()) + ".jar"));

    Report(progress, kModpackClientJarStep, 0, "正在下载游戏核心…");
    const json* client = ClientDownload(vanillaJson);
    const std::string* url = client ? StringMember(*client, "url") : nullptr;
    if (!url) {
        error = kModpackClientUrlMissingMessage;
        return false;
    }
    const std::string* sha1Member = StringMember(*client, "sha1");
    const std::string expectedSha1 = sha1Member ? *sha1Member : std::string();

    bool needDownload = true;
    if (FileIsNonEmpty(jar)) {
        if (!expectedSha1.empty() && Sha1OfFile(jar) != expectedSha1) {
            ConsoleLog("本地游戏核心 sha1 不符，判定损坏，重新下载");
        } else {
            Report(progress, kModpackClientJarStep, 60, "游戏核心已存在，跳过下载");
            ConsoleLog("游戏核心已存在且校验通过，跳过下载");
            needDownload = false;
        }
    }

    if (needDownload) {
        if (IsCancelled(cancelled)) {
            error = kCompletionCancelledMessage;
            return false;
        }
        std::string downloadError;
        if (!DownloadFile(*url, jar, downloadError, DeclaredOf(*client))) {
            error = (downloadError.starts_with(kDownloadMismatchMessage)
                         ? std::string(kModpackClientSha1MismatchMessage)
                         : kOfficialJarDownloadFailedMessage + downloadError + "）");
            return false;
        }
    }

    if (IsPlainName(gameVersion)) {
        const std::string official = OfficialJarPath(gameDir, gameVersion);
        EnsureParentDirectories(official);
        if (!CopyFileReplacing(Utf8Path(jar), Utf8Path(official))) ConsoleLog("原版客户端副本写入失败：" + official);
    }

    Report(progress, kModpackClientJarStep, 100, "游戏核心就绪");
    return true;
}

}  // namespace lumivale
