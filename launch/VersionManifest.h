#pragma once
// Reading a game core's version JSON: loading, the one-level inheritsFrom merge, rules, argument
// lists, the libraries that go on the class path and the download entry of each library.
//
// All texts are UTF-8; paths are UTF-8 texts built with std::filesystem. Rules compare os.name with
// the running system's name (platform_constants::kOsName); a rule that carries "features" never
// applies. A rule whose "action" is not a string makes the JSON library throw its type error
// (nlohmann::json::type_error) from evaluateRules, libraryAllowed, evaluateArgumentList,
// collectClasspathLibraries, nativeArchives and libraryFiles; callers decide how that ends.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace lumivale {

// The merged version JSON of one core (an object ordered by key). Members read by the launch:
// inheritsFrom, mainClass, minecraftArguments, arguments{game,jvm}, assets, type, libraries.
using VersionManifest = nlohmann::json;

// Messages shown to the player.
inline constexpr const char* kVersionJsonMissingMessage = "未找到版本 JSON：";
inline constexpr const char* kMainClassMissingMessage = "版本 JSON 缺少 mainClass";

// A library's Maven coordinates, "group:artifact:version[:classifier][@extension]".
struct LibraryName {
    std::string group;
    std::string artifact;
    std::string version;
    std::string classifier;         // empty when the name has three parts
    std::string extension = "jar";  // from "@extension"
};

// Nothing for a name of fewer than three parts, an empty part, or a part that would name another
// folder ("/", "\\", "..").
std::optional<LibraryName> parseLibraryName(std::string_view name);

// <group with "." as folders>/<artifact>/<version>/<artifact>-<version>[-<classifier>].<extension>
std::string libraryPath(const LibraryName& name);

// The whole file parsed as strict JSON (no comments). A missing or unreadable file or a parse
// error gives null; never throws.
nlohmann::json loadJsonFile(const std::string& path);

// Why loadJsonFile gave null, in words a player can act on: `missingMessage` + path when the file
// is not there, otherwise that it cannot be read or is not valid JSON.
std::string versionJsonProblem(const std::string& path, const char* missingMessage);

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

// The jar of a library on the class path, relative to libraries/: downloads.artifact.path, else
// the path its name gives (libraries named only by coordinates, or whose artifact has no path).
// Empty for an entry that carries only natives, and for a name that cannot be read.
std::string classpathArtifactPath(const nlohmann::json& library);

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

// One natives jar of the launched version and the entry-name prefixes not to extract from it.
struct NativeArchive {
    std::string path;  // relative to libraries/
    std::vector<std::string> exclude;
};

// The natives jars of this version's own libraries that apply here, each once, in library order:
// the old form (natives.<os name> with "${arch}" read as this process's bits, found in
// downloads.classifiers or by name, extract.exclude honoured) and the newer form (a library whose
// classifier is this system's natives classifier).
std::vector<NativeArchive> nativeArchives(const VersionManifest& manifest);

// A file a library needs here, for download completion.
struct LibraryFile {
    std::string path;        // relative to libraries/
    std::string url;         // empty when the JSON names none (provided by an installer)
    std::string sha1;        // empty when not declared
    std::int64_t size = -1;  // negative when not declared
};

// What a library needs on this system: its class-path jar (downloads.artifact, or for a library
// named only by coordinates its `url` base, else `defaultBase`, followed by the path its name
// gives) and its natives jar of the old form. Nothing when its rules exclude it here.
std::vector<LibraryFile> libraryFiles(const nlohmann::json& library, const std::string& defaultBase);

// The version JSON of core `id` followed by the JSON of each parent inheritsFrom names, at most
// kMaxParentJars parents. `complete` is false when the core's or a named parent's JSON cannot be
// loaded (the chain then ends before it).
std::vector<nlohmann::json> loadVersionChain(const std::string& gameRoot, const std::string& id,
                                             bool& complete);

// javaVersion.majorVersion of the first JSON of the chain that declares one; 0 when none does.
int declaredJavaMajor(const std::vector<nlohmann::json>& chain);

}  // namespace lumivale
