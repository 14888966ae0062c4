#include "LoaderVersions.h"

#include <algorithm>
#include <array>
#include <functional>
#include <thread>

#include "HttpTransport.h"
#include "JsonDocument.h"
#include "Log.h"
#include "MetadataFetch.h"
#include "VersionManifest.h"

namespace lumivale {

namespace {

using json = nlohmann::json;

std::string Text(const json& object, const char* key) {
    if (!object.is_object()) return {};
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
        parts.push_back(text.substr(start, end - start));
    }
    parts.push_back(text.substr(start));
    return parts;
}

bool AllDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The NeoForge artifact of a game: 1.20.1 has only the old "forge" one.
std::string NeoForgeArtifact(const std::string& game) { return game == "1.20.1" ? "forge" : "neoforge"; }

// One list from the first source whose answer reads; nothing when none does.
std::vector<std::string> FirstReadable(const std::vector<std::string>& urls,
                                       const std::function<std::vector<std::string>(const std::string&)>& read,
                                       const char* what) {
    for (const std::string& url : urls) {
        const MetadataAnswer answer = FetchMetadata({url});
        if (!answer.ok) {
            ConsoleLog(std::string(what) + " 版本列表获取失败：" + answer.error);
            continue;
        }
        std::vector<std::string> versions = read(answer.body);
        // An empty list from the mirror may only mean it lags behind: the official host is asked too.
        if (!versions.empty() || &url == &urls.back()) return versions;
    }
    return {};
}

}  // namespace

bool ParseLoaderKind(const std::string& text, LoaderKind& kind) {
    static const std::array<std::pair<const char*, LoaderKind>, 5> kinds{{{"", LoaderKind::None},
                                                                          {"fabric", LoaderKind::Fabric},
                                                                          {"quilt", LoaderKind::Quilt},
                                                                          {"forge", LoaderKind::Forge},
                                                                          {"neoforge", LoaderKind::NeoForge}}};
    for (const auto& [name, value] : kinds) {
        if (text == name) {
            kind = value;
            return true;
        }
    }
    return false;
}

const char* LoaderKindName(LoaderKind kind) {
    switch (kind) {
        case LoaderKind::Fabric: return "Fabric";
        case LoaderKind::Quilt: return "Quilt";
        case LoaderKind::Forge: return "Forge";
        case LoaderKind::NeoForge: return "NeoForge";
        case LoaderKind::None: break;
    }
    return "";
}

std::vector<std::string> ParseFabricStyleLoaders(const std::string& text) {
    std::vector<std::string> versions;
    const json rows = ParseJsonDocument(text);
    if (!rows.is_array()) return versions;
    for (const json& row : rows) {
        const auto loader = row.is_object() ? row.find("loader") : row.end();
        if (loader == row.end()) continue;
        const std::string version = Text(*loader, "version");
        if (!version.empty()) versions.push_back(version);
    }
    return versions;
}

std::vector<std::string> ParseMirrorForgeList(const std::string& text) {
    std::vector<std::string> versions;
    const json builds = ParseJsonDocument(text);
    if (!builds.is_array()) return versions;
    for (const json& build : builds) {
        std::string version = Text(build, "version");
        if (version.empty()) continue;
        const auto files = build.find("files");
        if (files != build.end() && files->is_array()) {
            const bool installer = std::any_of(files->begin(), files->end(), [](const json& file) {
                return Text(file, "category") == "installer" && Text(file, "format") == "jar";
            });
            if (!installer) continue;
        }
        if (const std::string branch = Text(build, "branch"); !branch.empty()) version += "-" + branch;
        versions.push_back(std::move(version));
    }
    SortNewestFirst(versions);
    return versions;
}

std::vector<std::string> ParseMavenVersions(const std::string& xml) {
    std::vector<std::string> versions;
    const auto open = xml.find("<versions>");
    const auto close = xml.find("</versions>", open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos) return versions;
    const std::string_view block(xml.data() + open, close - open);
    for (std::size_t at = block.find("<version>"); at != std::string_view::npos; at = block.find("<version>", at)) {
        at += 9;
        const auto end = block.find("</version>", at);
        if (end == std::string_view::npos) break;
        std::string version(block.substr(at, end - at));
        version.erase(0, version.find_first_not_of(" \t\r\n"));
        version.erase(version.find_last_not_of(" \t\r\n") + 1);
        if (!version.empty()) versions.push_back(std::move(version));
        at = end;
    }
    return versions;
}

std::vector<std::string> ForgeVersionsOfGame(const std::vector<std::string>& coordinates, const std::string& game) {
    std::vector<std::string> versions;
    for (const std::string& coordinate : coordinates) {
        // "1.20.10-…" is not a build of 1.20.1: the whole game part before the first "-" must match.
        const auto dash = coordinate.find('-');
        if (dash == std::string::npos || coordinate.compare(0, dash, game) != 0 || dash != game.size()) continue;
        if (dash + 1 < coordinate.size()) versions.push_back(coordinate.substr(dash + 1));
    }
    SortNewestFirst(versions);
    return versions;
}

std::vector<std::string> ParseMirrorNeoForgeList(const std::string& text) {
    std::vector<std::string> versions;
    const json builds = ParseJsonDocument(text);
    if (!builds.is_array()) return versions;
    for (const json& build : builds) {
        std::string version;
        // ".../net/neoforged/<artifact>/<version>/<file>": the exact Maven version.
        const std::vector<std::string> path = Split(Text(build, "installerPath"), '/');
        if (path.size() >= 3 && Text(build, "installerPath").find("/net/neoforged/") != std::string::npos) {
            version = path[path.size() - 2];
        } else {
            version = Text(build, "version");
            if (version.starts_with("neoforge-")) version.erase(0, 9);
        }
        if (!version.empty()) versions.push_back(std::move(version));
    }
    SortNewestFirst(versions, "1.20.1-");  // the only game whose builds may carry it in front
    return versions;
}

std::string NeoForgeGameOf(const std::string& version) {
    // "<numbers>[+<game suffix>][-beta]": the suffix after "+" may itself hold a "-".
    std::string number = version;
    std::string suffix;
    if (const auto plus = number.find('+'); plus != std::string::npos) {
        suffix = number.substr(plus + 1);
        number.resize(plus);
    }
    number.resize(std::min(number.size(), number.find('-')));
    // The old artifact of 1.20.1: "47.1.82", "1.20.1-47.1.106".
    if (version.starts_with("1.20.1-") || version.starts_with("47.")) return "1.20.1";
    const std::vector<std::string> parts = Split(number, '.');
    if (parts.size() < 3) return {};
    if (parts[0] == "0") return parts[1];  // snapshots and April builds name their game
    if (!AllDigits(parts[0]) || !AllDigits(parts[1])) return {};
    std::string game;
    // Majors from 26 on are the year-based game numbers (compared as digit strings: no overflow).
    if (parts[0].size() > 2 || (parts[0].size() == 2 && parts[0] >= "26")) {
        game = parts[0] + "." + parts[1];
        if (parts.size() >= 4 && parts[2] != "0") game += "." + parts[2];
    } else {
        game = "1." + parts[0];
        if (parts[1] != "0") game += "." + parts[1];
    }
    return suffix.empty() ? game : game + "-" + suffix;
}

void SortNewestFirst(std::vector<std::string>& versions, const std::string& ignoredPrefix) {
    const auto key = [&](const std::string& text) {
        return !ignoredPrefix.empty() && text.starts_with(ignoredPrefix) ? text.substr(ignoredPrefix.size()) : text;
    };
    std::stable_sort(versions.begin(), versions.end(), [&](const std::string& a, const std::string& b) {
        return compareLibraryVersions(key(a), key(b)) > 0;
    });
    versions.erase(std::unique(versions.begin(), versions.end()), versions.end());
}

LoaderVersionLists FetchLoaderVersions(const Endpoints& endpoints, const std::string& game) {
    const std::string g = EncodePathSegment(game);
    LoaderVersionLists lists;
    const std::string neoArtifact = NeoForgeArtifact(game);
    std::array<std::thread, 4> threads;
    const auto run = [](std::function<void()> task) {
        return std::thread([task = std::move(task)] {
            task();
            CloseHttpConnections();
        });
    };
    threads[0] = run([&] {
        lists.fabric = FirstReadable({endpoints.mirrorBase + "fabric-meta/v2/versions/loader/" + g,
                                      endpoints.fabricMetaBase + "v2/versions/loader/" + g},
                                     ParseFabricStyleLoaders, "Fabric");
    });
    threads[1] = run([&] {
        lists.quilt = FirstReadable({endpoints.quiltMetaBase + "v3/versions/loader/" + g}, ParseFabricStyleLoaders, "Quilt");
    });
    threads[2] = run([&] {
        lists.forge = FirstReadable(
            {endpoints.mirrorBase + "forge/minecraft/" + g, endpoints.officialMavenBase + "net/minecraftforge/forge/maven-metadata.xml"},
            [&game](const std::string& body) {
                return body.find("<metadata") != std::string::npos ? ForgeVersionsOfGame(ParseMavenVersions(body), game)
                                                                   : ParseMirrorForgeList(body);
            },
            "Forge");
    });
    threads[3] = run([&] {
        lists.neoforge = FirstReadable(
            {endpoints.mirrorBase + "neoforge/list/" + g,
             endpoints.neoForgeMavenBase + "net/neoforged/" + neoArtifact + "/maven-metadata.xml"},
            [&game](const std::string& body) {
                std::vector<std::string> versions;
                if (body.find("<metadata") == std::string::npos) return ParseMirrorNeoForgeList(body);
                for (std::string& version : ParseMavenVersions(body)) {
                    if (NeoForgeGameOf(version) == game) versions.push_back(std::move(version));
                }
                // 1.20.1's later builds carry the game in front: "1.20.1-47.1.106" follows "47.1.82".
                SortNewestFirst(versions, game + "-");
                return versions;
            },
            "NeoForge");
    });
    for (std::thread& thread : threads) thread.join();
    return lists;
}

std::vector<std::string> LoaderProfileUrls(const Endpoints& endpoints, LoaderKind kind, const std::string& game,
                                           const std::string& loaderVersion) {
    const std::string path = "versions/loader/" + EncodePathSegment(game) + "/" + EncodePathSegment(loaderVersion) +
                             "/profile/json";
    if (kind == LoaderKind::Fabric) {
        return {endpoints.mirrorBase + "fabric-meta/v2/" + path, endpoints.fabricMetaBase + "v2/" + path};
    }
    if (kind == LoaderKind::Quilt) return {endpoints.quiltMetaBase + "v3/" + path};
    return {};
}

std::string LoaderInstallerUrl(const Endpoints& endpoints, LoaderKind kind, const std::string& game,
                               const std::string& loaderVersion) {
    if (kind == LoaderKind::Forge) {
        const std::string coordinate = EncodePathSegment(game + "-" + loaderVersion);
        return endpoints.officialMavenBase + "net/minecraftforge/forge/" + coordinate + "/forge-" + coordinate +
               "-installer.jar";
    }
    if (kind == LoaderKind::NeoForge) {
        const std::string artifact = NeoForgeArtifact(game);
        const std::string version = EncodePathSegment(loaderVersion);
        return endpoints.neoForgeMavenBase + "net/neoforged/" + artifact + "/" + version + "/" + artifact + "-" + version +
               "-installer.jar";
    }
    return {};
}

}  // namespace lumivale
