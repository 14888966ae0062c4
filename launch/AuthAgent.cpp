#include "AuthAgent.h"

#include <cctype>
#include <chrono>
#include <filesystem>
#include <optional>
#include <system_error>

#include <nlohmann/json.hpp>

#include "Endpoints.h"
#include "Files.h"
#include "Hash.h"
#include "HttpTransport.h"
#include "JsonDocument.h"
#include "Log.h"
#include "Paths.h"

namespace lumivale {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr int kMostRedirects = 5;
constexpr std::size_t kLargestAnswer = 16u << 20;  // the agent is well below 1 MiB

// What <base>artifact/latest.json says about the current build.
struct Release {
    std::string version;
    std::string url;
    std::string sha256;
};

// What the cache folder keeps about the jar in it.
struct Record {
    std::string file;
    std::string sha256;
    std::int64_t checked = 0;
};

std::string Text(const json& object, const char* key) {
    const auto found = object.is_object() ? object.find(key) : object.end();
    return object.is_object() && found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// The body of a GET, following up to kMostRedirects redirects; nothing unless it ends in a 200.
std::optional<std::string> Get(std::string url, std::chrono::milliseconds timeout) {
    for (int hop = 0; hop <= kMostRedirects; ++hop) {
        HttpRequest request;
        request.url = url;
        request.connectTimeout = timeout;
        request.receiveTimeout = timeout;
        std::string body;
        const HttpResponse response = SendHttpRequest(request, [&body](std::string_view piece) {
            body.append(piece);
            return body.size() <= kLargestAnswer;
        });
        if (!response.ok()) return std::nullopt;
        if (response.status == 200) return body;
        const auto location = response.Header("Location");
        if (response.status < 300 || response.status > 399 || !location || location->empty()) return std::nullopt;
        if (location->starts_with("http://") || location->starts_with("https://")) {
            url = *location;
        } else {
            const auto scheme = url.find("://");
            const auto path = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
            url = url.substr(0, path) + (location->starts_with("/") ? "" : "/") + *location;
        }
    }
    return std::nullopt;
}

std::optional<Release> AskForRelease(const AuthAgentSources& sources) {
    for (const std::string& base : sources.bases) {
        const auto body = Get(base + "artifact/latest.json", sources.timeout);
        if (!body) continue;
        const json answer = ParseJsonDocument(*body);
        const auto checksums = answer.is_object() ? answer.find("checksums") : answer.end();
        Release release{Text(answer, "version"), Text(answer, "download_url"),
                        checksums != answer.end() ? Text(*checksums, "sha256") : std::string()};
        if (!release.url.empty() && release.sha256.size() == 64) return release;
        ConsoleLog("authlib-injector 发布信息不完整：" + base + "artifact/latest.json");
    }
    return std::nullopt;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A version text usable in a file name; anything else reads as "latest".
std::string JarName(const std::string& version) {
    const bool plain = !version.empty() && version.size() <= 64 && version != "." && version != ".." &&
                       version.find_first_of("/\\:*?\"<>|") == std::string::npos;
    return "authlib-injector-" + (plain ? version : std::string("latest")) + ".jar";
}

Record ReadRecord(const fs::path& folder) {
    std::string text;
    if (!ReadWholeFile(folder / kAuthAgentRecordName, text)) return {};
    const json record = ParseJsonDocument(text);
    const auto checked = record.is_object() ? record.find("checked") : record.end();
    return {Text(record, "file"), Text(record, "sha256"),
            checked != record.end() && checked->is_number_integer() ? checked->get<std::int64_t>() : 0};
}

void WriteRecord(const fs::path& folder, const Record& record) {
    const json text = {{"file", record.file}, {"sha256", record.sha256}, {"checked", record.checked}};
    WriteFileAtomically(folder / kAuthAgentRecordName, text.dump());
}

}  // namespace

AuthAgentSources DefaultAuthAgentSources(const Endpoints& endpoints, const std::string& programFolder) {
    AuthAgentSources sources;
    sources.bases = {endpoints.AuthlibInjectorMirrorBase(), endpoints.authlibInjectorBase};
    sources.cacheFolder = PathUtf8(Utf8Path(programFolder) / "cache");
    sources.nowSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    return sources;
}

std::string ObtainAuthAgent(const AuthAgentSources& sources) {
    const fs::path folder = Utf8Path(sources.cacheFolder);
    Record record = ReadRecord(folder);
    // The record names a file of this folder, never one elsewhere.
    const bool plainFile = record.file.starts_with("authlib-injector-") && record.file.ends_with(".jar") &&
                           record.file.find_first_of("/\\:") == std::string::npos;
    const fs::path cached = folder / Utf8Path(plainFile ? record.file : std::string("-"));
    const bool cachedValid = plainFile && !record.sha256.empty() &&
                             Sha256HexOfFile(PathUtf8(cached)) == Lower(record.sha256);
    const std::int64_t age = sources.nowSeconds - record.checked;
    if (cachedValid && age >= 0 && age < kAuthAgentRecheckSeconds) return PathUtf8(cached);

    const auto release = AskForRelease(sources);
    if (!release) {
        if (cachedValid) return PathUtf8(cached);  // asked again at the next launch
        ConsoleLog("无法获取 authlib-injector 的发布信息");
        return {};
    }
    const std::string expected = Lower(release->sha256);
    if (cachedValid && Lower(record.sha256) == expected) {
        record.checked = sources.nowSeconds;
        WriteRecord(folder, record);
        return PathUtf8(cached);
    }

    const auto jar = Get(release->url, sources.timeout);
    if (!jar) {
        ConsoleLog("authlib-injector 下载失败：" + release->url);
        return cachedValid ? PathUtf8(cached) : std::string();
    }
    Digest digest(DigestKind::Sha256);
    digest.Update(*jar);
    if (digest.FinishHex() != expected) {
        ConsoleLog(kAuthAgentHashMismatchMessage + release->url);
        return cachedValid ? PathUtf8(cached) : std::string();
    }
    const std::string name = JarName(release->version);
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    if (!WriteFileAtomically(folder / name, *jar)) {
        ConsoleLog("无法写入 authlib-injector：" + PathUtf8(folder / name));
        return cachedValid ? PathUtf8(cached) : std::string();
    }
    if (plainFile && record.file != name) fs::remove(cached, ignored);
    WriteRecord(folder, {name, expected, sources.nowSeconds});
    ConsoleLog("已下载 authlib-injector " + release->version);
    return PathUtf8(folder / name);
}

}  // namespace lumivale
