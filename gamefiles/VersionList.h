#pragma once
// The list of game versions the official manifest (version_manifest_v2.json) names, asked of the
// mirror first and then of the official host. The last good answer is kept in the program's cache
// folder and stands in, marked offline, when neither answers.
#include <string>
#include <vector>

#include "Endpoints.h"

namespace lumivale {

struct GameVersionEntry {
    std::string id;           // free-form: "1.20.1", "24w14a", "26.1-pre-1", "b1.7.3"
    std::string type;         // release, snapshot, old_beta, old_alpha
    std::string url;          // of the version JSON
    std::string sha1;         // of the version JSON; empty when the manifest gives none
    std::string releaseTime;
};

struct GameVersionList {
    std::string latestRelease;
    std::string latestSnapshot;
    std::vector<GameVersionEntry> versions;  // manifest order: newest first
    bool offline = false;                    // read from the cache: both sources failed
};

inline constexpr const char* kVersionListCacheName = "version_manifest_v2.json";
inline constexpr const char* kVersionListFailedMessage = "无法获取版本列表（镜像与官方源均无法访问）：";

// False for text that is not a manifest (no "versions" array). Entries without an id, or whose id
// could not be a folder name, are left out.
bool ParseGameVersionList(const std::string& text, GameVersionList& list);

// The manifest from <mirror>mc/game/version_manifest_v2.json, else <official meta>…, else the
// cached copy in `cacheFolder` (offline). False with `error` set when none can be read.
bool LoadGameVersionList(const Endpoints& endpoints, const std::string& cacheFolder, GameVersionList& list,
                         std::string& error);

// The entry of `id`, or null.
const GameVersionEntry* FindGameVersion(const GameVersionList& list, const std::string& id);

}  // namespace lumivale
