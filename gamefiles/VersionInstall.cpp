#include "VersionInstall.h"

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "Files.h"
#include "ForgeInstall.h"
#include "JsonDocument.h"
#include "Log.h"
#include "MetadataFetch.h"
#include "ModpackZip.h"
#include "Paths.h"
#include "VersionList.h"
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

ExpectedFile DeclaredOf(const json& entry) {
    ExpectedFile expected;
    expected.sha1 = Text(entry, "sha1");
    if (const json* size = Member(entry, "size"); size && size->is_number_integer()) expected.size = size->get<std::int64_t>();
    return expected;
}

bool Exists(const fs::path& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

// Paths from a version JSON or an asset index stay below the game folder.
bool StaysInside(const std::string& relative) {
    const fs::path path = Utf8Path(relative);
    if (path.empty() || path.has_root_path()) return false;
    return std::none_of(path.begin(), path.end(), [](const fs::path& part) { return part == ".."; });
}

bool IsHexHash(const std::string& hash) {
    return hash.size() >= 2 && std::all_of(hash.begin(), hash.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

// Calls `tick` every kVersionProgressInterval on a thread of its own until it is destroyed.
class Ticker {
public:
    explicit Ticker(std::function<void()> tick) : thread_([this, tick = std::move(tick)] {
        std::unique_lock lock(mutex_);
        while (!stopped_) {
            if (wake_.wait_for(lock, kVersionProgressInterval, [this] { return stopped_; })) break;
            lock.unlock();
            tick();
            lock.lock();
        }
    }) {}
    ~Ticker() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;
    std::thread thread_;  // last: it starts once the members it uses exist
};

const char* PhaseWord(const std::string& phase) {
    if (phase == "client") return "客户端";
    if (phase == "libraries") return "依赖库";
    if (phase == "assets") return "资源文件";
    if (phase == "loader") return "加载器文件";
    return "版本信息";
}

// What went wrong with one file, in words for the player.
std::string FailureReason(const std::string& label, const std::string& engineError) {
    const DownloadFailure kind = DownloadFailureOf(engineError);
    if (kind == DownloadFailure::Mismatch) return "文件校验失败（SHA-1 与版本信息不符）：" + label;
    if (kind == DownloadFailure::Disk) return "磁盘写入失败：" + label + "（" + engineError + "）";
    return "网络下载失败：" + label + "（" + engineError + "）";
}

// The path inside the game folder, for the player; paths here are always built below it, so the
// folder's own text is cut off (std::filesystem::relative would ask the file system for each one).
std::string Relative(const std::string& gameDir, const fs::path& path) {
    std::string text = PathUtf8(path);
    const std::string folder = PathUtf8(Utf8Path(gameDir));
    const bool endsWithSeparator = !folder.empty() && (folder.back() == '/' || folder.back() == '\\');
    const std::size_t cut = folder.size() + (endsWithSeparator ? 0 : 1);
    if (text.starts_with(folder) && text.size() > cut) text.erase(0, cut);
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

InstallFile FileBelow(const std::string& gameDir, const fs::path& target, std::string url, std::string phase,
                      ExpectedFile expected) {
    return {std::move(url), PathUtf8(target), Relative(gameDir, target), std::move(phase), std::move(expected)};
}

// Everything one install made, removed again unless it finished.
struct Cleanup {
    std::vector<fs::path> folders;
    bool finished = false;
    ~Cleanup() {
        if (finished) return;
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
            if (!DeleteTree(PathUtf8(*it))) ConsoleLog("未能删除安装中途的文件夹：" + PathUtf8(*it));
        }
    }
};

class Installer {
public:
    Installer(const VersionInstallRequest& request, const VersionInstallContext& context,
              const VersionProgressSink& progress, std::string& error)
        : request_(request), context_(context), progress_(progress), error_(error),
          versions_(Utf8Path(context.gameDir) / "versions") {}

    bool Run();

private:
    bool Stopped() {
        if (!context_.cancelled || !context_.cancelled()) return false;
        error_ = kInstallCancelledMessage;
        return true;
    }
    void Report(const std::string& phase, int done, int total, const std::string& text) {
        if (progress_) progress_({phase, done, total, 0, text});
    }
    bool Check();
    bool Fetch(const std::string& url, const fs::path& target, const std::string& phase, const ExpectedFile& expected);
    bool InstallVanilla(const std::string& folderName, bool parentExists);
    bool InstallProfile();
    bool InstallWithInstaller();
    std::vector<InstallFile> GameFiles(const json& version, const std::string& folderName, bool withClient);

    const VersionInstallRequest& request_;
    const VersionInstallContext& context_;
    const VersionProgressSink& progress_;
    std::string& error_;
    const fs::path versions_;
    LoaderKind kind_ = LoaderKind::None;
    Cleanup cleanup_;
};

bool Installer::Check() {
    if (!ParseLoaderKind(request_.loader, kind_)) {
        error_ = "未知的加载器：" + request_.loader;
        return false;
    }
    if (!IsUsableFileName(request_.name)) {
        error_ = kUnusableVersionNameMessage + request_.name;
        return false;
    }
    if (!IsUsableFileName(request_.id)) {
        error_ = "游戏版本无法用作文件夹名：" + request_.id;
        return false;
    }
    if (kind_ != LoaderKind::None && !IsUsableFileName(request_.loaderVersion)) {
        error_ = "请选择 " + std::string(LoaderKindName(kind_)) + " 版本";
        return false;
    }
    if (kind_ != LoaderKind::None && request_.name == request_.id) {
        error_ = "带加载器的版本不能与原版同名：" + request_.name;
        return false;
    }
    if (Exists(versions_ / Utf8Path(request_.name))) {
        error_ = kVersionNameExistsMessage + request_.name;
        return false;
    }
    return true;
}

bool Installer::Fetch(const std::string& url, const fs::path& target, const std::string& phase,
                      const ExpectedFile& expected) {
    return DownloadInstallFiles({FileBelow(context_.gameDir, target, url, phase, expected)}, progress_,
                                context_.cancelled, error_);
}

std::vector<InstallFile> Installer::GameFiles(const json& version, const std::string& folderName, bool withClient) {
    std::vector<InstallFile> files;
    const Endpoints& endpoints = context_.endpoints;
    const json* downloads = Member(version, "downloads");
    if (const json* client = downloads ? Member(*downloads, "client") : nullptr; withClient && client) {
        files.push_back(FileBelow(context_.gameDir, versions_ / Utf8Path(folderName) / Utf8Path(folderName + ".jar"),
                                  Text(*client, "url"), "client", DeclaredOf(*client)));
    }
    for (InstallFile& file : LibraryInstallFiles(version, context_.gameDir, "libraries", endpoints)) {
        files.push_back(std::move(file));
    }
    // Asset objects by hash, each once; the index was fetched before.
    const json* assetIndex = Member(version, "assetIndex");
    const std::string indexId = assetIndex ? Text(*assetIndex, "id") : std::string();
    if (!IsUsableFileName(indexId)) return files;
    const fs::path assets = Utf8Path(context_.gameDir) / "assets";
    const json index = loadJsonFile(PathUtf8(assets / "indexes" / Utf8Path(indexId + ".json")));
    const json* objects = Member(index, "objects");
    if (!objects || !objects->is_object()) return files;
    std::set<std::string> seen;
    for (const auto& [name, object] : objects->items()) {
        const std::string hash = Text(object, "hash");
        if (!IsHexHash(hash) || !seen.insert(hash).second) continue;
        ExpectedFile expected = DeclaredOf(object);
        expected.sha1 = hash;
        const std::string prefix = hash.substr(0, 2);
        files.push_back(FileBelow(context_.gameDir, assets / "objects" / prefix / hash,
                                  endpoints.officialAssetsBase + prefix + "/" + hash, "assets", expected));
    }
    return files;
}

// The vanilla version into versions/<folderName>; a parent that exists is only completed around.
bool Installer::InstallVanilla(const std::string& folderName, bool parentExists) {
    const fs::path folder = versions_ / Utf8Path(folderName);
    const fs::path jsonPath = folder / Utf8Path(folderName + ".json");
    json version;
    if (parentExists) {
        version = loadJsonFile(PathUtf8(jsonPath));
        std::error_code ignored;
        if (!version.is_object() || !fs::is_regular_file(folder / Utf8Path(folderName + ".jar"), ignored)) {
            error_ = "已有名为 " + folderName + " 的版本文件夹，但其中缺少版本 JSON 或 jar，安装不会改动它";
            return false;
        }
    } else {
        Report("json", 0, 2, "正在获取版本列表…");
        GameVersionList list;
        if (!LoadGameVersionList(context_.endpoints, PathUtf8(Utf8Path(context_.programDir) / "cache"), list, error_)) {
            return false;
        }
        const GameVersionEntry* entry = FindGameVersion(list, request_.id);
        if (!entry) {
            error_ = "版本列表中没有这个版本：" + request_.id;
            return false;
        }
        if (Stopped()) return false;
        if (!Fetch(entry->url, jsonPath, "json", {entry->sha1, -1})) return false;
        version = loadJsonFile(PathUtf8(jsonPath));
        if (!version.is_object()) {
            error_ = "版本 JSON 无法读取：" + Relative(context_.gameDir, jsonPath);
            return false;
        }
    }

    // The asset index first: it names the objects.
    if (const json* assetIndex = Member(version, "assetIndex")) {
        const std::string indexId = Text(*assetIndex, "id");
        if (!IsUsableFileName(indexId)) {
            error_ = "版本 JSON 的资源索引名称无效：" + indexId;
            return false;
        }
        std::string url = Text(*assetIndex, "url");
        if (url.empty()) url = context_.endpoints.mirrorBase + "assets/indexes/" + indexId + ".json";
        const fs::path indexPath = Utf8Path(context_.gameDir) / "assets" / "indexes" / Utf8Path(indexId + ".json");
        if (Stopped() || !Fetch(url, indexPath, "json", DeclaredOf(*assetIndex))) return false;
    }
    if (Stopped()) return false;
    return DownloadInstallFiles(GameFiles(version, folderName, !parentExists), progress_, context_.cancelled, error_);
}

bool Installer::InstallProfile() {
    Report("loader", 0, 1, std::string("正在获取 ") + LoaderKindName(kind_) + " 配置…");
    json profile = FetchLoaderProfile(context_.endpoints, kind_, request_.id, request_.loaderVersion, error_);
    if (profile.is_null()) return false;
    profile["id"] = request_.name;
    profile["inheritsFrom"] = request_.id;
    if (Stopped()) return false;
    if (!DownloadInstallFiles(LibraryInstallFiles(profile, context_.gameDir, "loader", context_.endpoints), progress_,
                              context_.cancelled, error_)) {
        return false;
    }
    // The JSON last: the core resolves only once everything it names is there.
    const fs::path target = versions_ / Utf8Path(request_.name) / Utf8Path(request_.name + ".json");
    if (!WriteFileAtomically(target, profile.dump(2))) {
        error_ = "磁盘写入失败：" + Relative(context_.gameDir, target);
        return false;
    }
    return true;
}

bool Installer::InstallWithInstaller() {
    const std::string kindName = LoaderKindName(kind_);
    const std::string url = LoaderInstallerUrl(context_.endpoints, kind_, request_.id, request_.loaderVersion);
    const fs::path cache = Utf8Path(context_.programDir) / "cache";
    const std::string fileName = url.substr(url.find_last_of('/') + 1);
    const fs::path installer = cache / Utf8Path(fileName);
    if (!Fetch(url, installer, "loader", {})) return false;

    const std::string installedId = InstallerVersionId(PathUtf8(installer));
    if (installedId.empty()) {
        error_ = kindName + " 安装器中找不到版本信息：" + fileName;
        return false;
    }
    // The installer writes versions/<its id>: a folder of that name that is already there would
    // be written over, so the install stops instead.
    const fs::path installed = versions_ / Utf8Path(installedId);
    const bool intoOwnFolder = installedId == request_.name;
    if (!intoOwnFolder && Exists(installed)) {
        error_ = "已存在 " + kindName + " 安装器要写入的版本 " + installedId + "，安装不会覆盖它";
        return false;
    }
    if (context_.javaPath.empty()) {
        error_ = "未找到可用的 Java（运行 " + kindName + " 安装器需要 Java）";
        return false;
    }
    if (!intoOwnFolder) cleanup_.folders.push_back(installed);
    if (Stopped()) return false;

    const std::string log = PathUtf8(Utf8Path(context_.programDir) / "log" / Utf8Path(request_.loader + "-install.log"));
    const auto started = std::chrono::steady_clock::now();
    const std::string running = "正在运行 " + kindName + " 安装器…";
    Report("loader", 0, 1, running);
    std::string installError;
    bool ok = false;
    {
        const Ticker ticker([&] {
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
            Report("loader", 0, 1, running + "（" + std::to_string(seconds.count()) + " 秒）");
        });
        ok = RunForgeInstaller(context_.javaPath, PathUtf8(installer), context_.gameDir, log, installError,
                               {.cancelled = context_.cancelled});
    }
    if (Stopped()) return false;
    if (!ok) {
        error_ = kindName + " 安装失败：" + installError;
        return false;
    }
    const fs::path installedJson = installed / Utf8Path(installedId + ".json");
    json version = loadJsonFile(PathUtf8(installedJson));
    if (!version.is_object()) {
        error_ = kindName + " 安装器没有写出版本 JSON（详见日志 " + log + "）";
        return false;
    }

    // The installer's folder becomes the new core.
    const fs::path folder = versions_ / Utf8Path(request_.name);
    if (!intoOwnFolder) {
        std::error_code moveError;
        fs::remove(folder, moveError);  // the empty folder that reserved the name
        fs::rename(installed, folder, moveError);
        if (!moveError) {
            fs::rename(folder / Utf8Path(installedId + ".json"), folder / Utf8Path(request_.name + ".json"), moveError);
        }
        std::error_code jarError;
        if (!moveError && fs::exists(folder / Utf8Path(installedId + ".jar"), jarError)) {
            fs::rename(folder / Utf8Path(installedId + ".jar"), folder / Utf8Path(request_.name + ".jar"), moveError);
        }
        if (moveError) {
            error_ = "磁盘写入失败：无法把 " + installedId + " 改名为 " + request_.name + "（" + moveError.message() + "）";
            return false;
        }
    }
    version["id"] = request_.name;
    const fs::path jsonPath = folder / Utf8Path(request_.name + ".json");
    if (!WriteFileAtomically(jsonPath, version.dump(2))) {
        error_ = "磁盘写入失败：" + Relative(context_.gameDir, jsonPath);
        return false;
    }
    // What the installer left to the launcher (libraries with an address) is fetched now.
    return DownloadInstallFiles(LibraryInstallFiles(version, context_.gameDir, "loader", context_.endpoints), progress_,
                                context_.cancelled, error_);
}

bool Installer::Run() {
    if (!Check()) return false;
    std::error_code ignored;
    fs::create_directories(versions_, ignored);
    // The new core's folder is taken first, so that nothing else can take its name meanwhile.
    const fs::path folder = versions_ / Utf8Path(request_.name);
    if (!fs::create_directory(folder, ignored)) {
        error_ = Exists(folder) ? kVersionNameExistsMessage + request_.name : "磁盘写入失败：无法创建 " + PathUtf8(folder);
        return false;
    }
    cleanup_.folders.push_back(folder);

    if (kind_ == LoaderKind::None) {
        if (!InstallVanilla(request_.name, false)) return false;
    } else {
        const fs::path parent = versions_ / Utf8Path(request_.id);
        const bool parentExists = Exists(parent);
        if (!parentExists) {
            if (!fs::create_directory(parent, ignored)) {
                error_ = "磁盘写入失败：无法创建 " + PathUtf8(parent);
                return false;
            }
            cleanup_.folders.insert(cleanup_.folders.begin(), parent);
        }
        if (!InstallVanilla(request_.id, parentExists)) return false;
        if (Stopped()) return false;
        const bool installed = kind_ == LoaderKind::Fabric || kind_ == LoaderKind::Quilt ? InstallProfile() : InstallWithInstaller();
        if (!installed) return false;
    }
    if (Stopped()) return false;
    cleanup_.finished = true;
    Report("loader", 1, 1, "安装完成：" + request_.name);
    return true;
}

}  // namespace

bool DownloadInstallFiles(const std::vector<InstallFile>& files, const VersionProgressSink& progress,
                          const CancelCheck& cancelled, std::string& error) {
    // Per phase, in order of first appearance: files done and in all.
    struct Count {
        std::string phase;
        int done = 0;
        int total = 0;
    };
    std::vector<Count> counts;
    std::vector<const InstallFile*> pending;
    std::int64_t bytes = 0;
    for (const InstallFile& file : files) {
        auto count = std::find_if(counts.begin(), counts.end(), [&](const Count& c) { return c.phase == file.phase; });
        if (count == counts.end()) count = counts.insert(counts.end(), Count{file.phase, 0, 0});
        ++count->total;
        if (FileIsPresent(file.target, file.expected.size)) {
            ++count->done;
        } else {
            pending.push_back(&file);
        }
    }
    std::mutex mutex;  // guards counts and bytes: the ticker reads them on its own thread
    std::string failure;
    const auto report = [&] {
        if (!progress) return;
        VersionProgress state;
        std::string text;
        {
            std::lock_guard lock(mutex);
            for (const Count& count : counts) {
                state.done += count.done;
                state.total += count.total;
                if (state.phase.empty() && count.done < count.total) state.phase = count.phase;
                if (!text.empty()) text += " · ";
                text += std::string(PhaseWord(count.phase)) + " " + std::to_string(count.done) + "/" + std::to_string(count.total);
            }
            state.bytes = bytes;
        }
        if (state.phase.empty()) state.phase = counts.empty() ? "json" : counts.back().phase;
        state.text = text;
        progress(state);
    };
    report();
    std::vector<DownloadItem> items;
    items.reserve(pending.size());
    for (const InstallFile* file : pending) items.push_back({file->url, file->target, file->expected});
    DownloadOptions options;
    options.parallel = kCompletionWorkers;
    {
        const Ticker ticker(report);
        // The batch calls these one at a time; the first failure stops the rest.
        DownloadFiles(
            items, options,
            [&](int i, bool stored, const std::string& downloadError) {
                const InstallFile& file = *pending[static_cast<std::size_t>(i)];
                if (!stored) {
                    if (failure.empty()) failure = FailureReason(file.label, downloadError);
                    return;
                }
                std::int64_t size = file.expected.size;
                if (size < 0) {
                    std::error_code sizeError;
                    const auto onDisk = fs::file_size(Utf8Path(file.target), sizeError);
                    size = sizeError ? 0 : static_cast<std::int64_t>(onDisk);
                }
                std::lock_guard lock(mutex);
                for (Count& count : counts) {
                    if (count.phase == file.phase) ++count.done;
                }
                bytes += size;
            },
            [&] { return !failure.empty() || (cancelled && cancelled()); });
    }
    if (cancelled && cancelled()) {
        error = kInstallCancelledMessage;
        return false;
    }
    if (!failure.empty()) {
        ConsoleLog("安装下载失败：" + failure);
        error = failure;
        return false;
    }
    report();
    return true;
}

std::vector<InstallFile> LibraryInstallFiles(const json& versionJson, const std::string& gameDir, const std::string& phase,
                                             const Endpoints& endpoints) {
    std::vector<InstallFile> files;
    const json* libraries = Member(versionJson, "libraries");
    if (!libraries || !libraries->is_array()) return files;
    std::set<std::string> targets;
    const fs::path folder = Utf8Path(gameDir) / "libraries";
    for (const json& library : *libraries) {
        std::vector<LibraryFile> found;
        try {
            found = libraryFiles(library, endpoints.officialLibrariesBase);
        } catch (const json::exception&) {
            continue;  // rules this launcher cannot read: not for this system
        }
        for (LibraryFile& file : found) {
            // An empty address is a file the installer provides.
            if (file.url.empty() || !StaysInside(file.path)) continue;
            // Loader profiles name their checksums beside the coordinates.
            if (file.sha1.empty() && !Member(library, "downloads")) {
                const ExpectedFile declared = DeclaredOf(library);
                file.sha1 = declared.sha1;
                file.size = declared.size;
            }
            const fs::path target = folder / Utf8Path(file.path);
            if (!targets.insert(PathUtf8(target)).second) continue;
            files.push_back(FileBelow(gameDir, target, file.url, phase, {file.sha1, file.size}));
        }
    }
    return files;
}

json FetchLoaderProfile(const Endpoints& endpoints, LoaderKind kind, const std::string& game,
                        const std::string& loaderVersion, std::string& error) {
    for (const std::string& url : LoaderProfileUrls(endpoints, kind, game, loaderVersion)) {
        const MetadataAnswer answer = FetchMetadata({url});
        json profile = answer.ok ? ParseJsonDocument(answer.body) : json();
        if (profile.is_object() && Text(profile, "mainClass") != "") return profile;
        error = std::string(LoaderKindName(kind)) + " 配置获取失败：" + (answer.ok ? "内容无法识别 " + url : answer.error);
        ConsoleLog(error);
    }
    if (error.empty()) error = std::string("没有 ") + LoaderKindName(kind) + " 配置的来源";
    return nullptr;
}

bool InstallVersion(const VersionInstallRequest& request, const VersionInstallContext& context,
                    const VersionProgressSink& progress, std::string& error) {
    Installer installer(request, context, progress, error);
    return installer.Run();
}

}  // namespace lumivale
