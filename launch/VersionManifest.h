#pragma once
// Reading a game core's version JSON: loading, the one-level inheritsFrom merge, rules, argument
// lists, the libraries that go on the class path and the download entry of each library.
//
// All texts are UTF-8; paths are UTF-8 texts built with std::filesystem. Rules compare os.name with
// the running system's name (platform_constants::kOsName); a rule that carries "features" never
// applies. A rule whose "action" is not a string makes the JSON library throw its type error
// (nlohmann::json::type_error) from evaluateRules, libraryAllowed, evaluateArgumentList,
// collectClasspathLibraries and selectLibraryDownload; callers decide how that ends.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace lumivale {

// The merged version JSON of one core (an object ordered by key). Members read by the launch:
// inheritsFrom, mainClass, minecraftArguments, arguments{game,jvm}, assets, type, libraries.
using VersionManifest = nlohmann::json;

// Messages shown to the player.
inline constexpr const char* kVersionJsonMissingMessage = "未找到版本 JSON：";
inline constexpr const char* kMainClassMissingMessage = "版本 JSON 缺少 mainClass";

// The whole file parsed as strict JSON (no comments). A missing or unreadable file or a parse
// error gives null; never throws.
nlohmann::json loadJsonFile(const std::string& path);

// <gameRoot>/versions/<id>/<id>.json and <gameRoot>/versions/<id>/<id>.jar.
std::string versionJsonPath(const std::string& gameRoot, const std::string& id);
std::string versionJarPath(const std::string& gameRoot, const std::string& id);

// The one-level inheritsFrom merge: the parent's JSON (from <gameRoot>/versions/<parent>/) with
// mainClass, minecraftArguments, assets and type replaced by the child's, the child's libraries
// appended after the parent's and the child's arguments.game / arguments.jvm appended after the
// parent's. Other child members are dropped; the parent's own inheritsFrom stays. A child without
// a string inheritsFrom, or whose parent JSON cannot be loaded, comes back unchanged.
VersionManifest resolveVersionManifest(const nlohmann::json& coreJson, const std::string& gameRoot);

// True when at least one applying rule allows and none that applies disallows; an empty list (or
// anything that is not an array) gives false.
bool evaluateRules(const nlohmann::json& rules);

// Download side: true for a non-object, a library without rules, or rules that are not an
// array; otherwise evaluateRules.
bool libraryAllowed(const nlohmann::json& library);

// The texts of an argument list: strings as they are, objects whose rules allow them (or that
// have none) contribute their string value or each string of their value array.
std::vector<std::string> evaluateArgumentList(const nlohmann::json& arguments);

// -1, 0 or 1: parts split at . - + @, numbers compared as numbers, numbers below texts, a missing
// part reads as "0".
int compareLibraryVersions(const std::string& a, const std::string& b);

// Appends the jars of the class-path libraries that exist on disk, ordered by their key
// group:artifact:classifier; of two entries with one key the strictly newer version wins, on a
// tie the first one seen stays.
void collectClasspathLibraries(const VersionManifest& manifest, const std::string& gameRoot,
                               std::vector<std::string>& out);

// The most jars the inheritsFrom chain contributes.
inline constexpr int kMaxParentJars = 16;

// Walks inheritsFrom from the merged manifest (whose inheritsFrom is the grandparent's) and
// appends each existing <id>.jar, at most kMaxParentJars steps.
void collectParentJars(const VersionManifest& manifest, const std::string& gameRoot,
                       std::vector<std::string>& out);

// A class path of fewer entries than this is replaced by the core jar plus every library jar.
inline constexpr std::size_t kMinClasspathEntries = 5;

// The class path of a core: the core jar, the chosen libraries, or when that holds fewer than
// kMinClasspathEntries entries the core jar followed by every jar below <gameRoot>/libraries;
// then the parent jars. An empty core jar path is left out.
std::vector<std::string> buildClasspathEntries(const VersionManifest& manifest,
                                               const std::string& gameRoot,
                                               const std::string& coreJar);

// Appends every file below `folder` whose name ends in ".jar" (any case), depth first. Entries of
// one folder are visited in byte order of their names so the result does not depend on the file
// system; symbolic links to folders are not followed.
void scanJars(const std::string& folder, std::vector<std::string>& out);

// For download completion: the natives classifier of this system (natives.<os name>) from
// downloads.classifiers, else downloads.artifact; false when the library is not allowed here or
// has neither entry with both url and path.
bool selectLibraryDownload(const nlohmann::json& library, std::string& url, std::string& path);

}  // namespace lumivale
