#include "VersionManifest.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <system_error>

#include "Files.h"
#include "JsonDocument.h"
#include "Paths.h"
#include "Platform.h"

namespace lumivale {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// The member `key` of `value` when `value` is an object that has it.
const json* Member(const json& value, const char* key) {
    if (!value.is_object()) return nullptr;
    const auto found = value.find(key);
    return found == value.end() ? nullptr : &*found;
}

const json* ObjectMember(const json& value, const char* key) {
    const json* member = Member(value, key);
    return member && member->is_object() ? member : nullptr;
}

const std::string* StringMember(const json& value, const char* key) {
    const json* member = Member(value, key);
    return member && member->is_string() ? member->get_ptr<const std::string*>() : nullptr;
}

// `relative` below `base`. A relative text that names a root (an absolute path from a version
// JSON) is kept below `base` instead of replacing it.
fs::path Below(const fs::path& base, std::string_view relative) {
    fs::path inner = Utf8Path(relative);
    if (inner.has_root_path()) inner = inner.relative_path();
    return base / inner;
}

bool Exists(const fs::path& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Decimal digit strings compared by value, whatever their length.
int CompareDigits(const std::string& a, const std::string& b) {
    const auto strip = [](const std::string& text) {
        const auto first = text.find_first_not_of('0');
        return first == std::string::npos ? std::string() : text.substr(first);
    };
    const std::string x = strip(a);
    const std::string y = strip(b);
    if (x.size() != y.size()) return x.size() > y.size() ? 1 : -1;
    const int order = x.compare(y);
    return order > 0 ? 1 : (order < 0 ? -1 : 0);
}

std::vector<std::string> VersionParts(const std::string& version) {
    std::vector<std::string> parts;
    std::string current;
    for (const char c : version) {
        if (c == '.' || c == '-' || c == '+' || c == '@') {
            if (!current.empty()) parts.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(std::move(current));
    return parts;
}

bool EndsWithJar(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".jar";
}

void ScanFolder(const fs::path& folder, std::vector<std::string>& out) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) return;
    std::vector<fs::directory_entry> entries;
    for (const fs::directory_iterator end; it != end; it.increment(error)) {
        if (error) break;
        entries.push_back(*it);
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return PathUtf8(a.path().filename()) < PathUtf8(b.path().filename());
    });
    for (const auto& entry : entries) {
        std::error_code statusError;
        const auto status = entry.symlink_status(statusError);
        if (statusError) continue;
        if (fs::is_directory(status)) {
            ScanFolder(entry.path(), out);
        } else if (EndsWithJar(PathUtf8(entry.path().filename()))) {
            out.push_back(PathUtf8(entry.path()));
        }
    }
}

struct ChosenLibrary {
    std::string path;
    std::string version;
};

bool IsPlainPart(std::string_view part) {
    return !part.empty() && part != "." && part != ".." &&
           part.find_first_of("/\\:") == std::string_view::npos;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// The library's name read as coordinates, when it is a string that reads.
std::optional<LibraryName> NameOf(const json& library) {
    const std::string* name = StringMember(library, "name");
    return name ? parseLibraryName(*name) : std::nullopt;
}

// "${arch}" in a natives classifier is the width of this process, as the game's own launcher did.
std::string WithArch(std::string classifier) {
    const std::string bits = sizeof(void*) == 8 ? "64" : "32";
    for (auto at = classifier.find("${arch}"); at != std::string::npos; at = classifier.find("${arch}")) {
        classifier.replace(at, 7, bits);
    }
    return classifier;
}

// The old-form natives classifier of this system, when the library declares one.
std::optional<std::string> NativesClassifier(const json& library) {
    const json* natives = ObjectMember(library, "natives");
    const std::string* classifier = natives ? StringMember(*natives, platform_constants::kOsName) : nullptr;
    if (!classifier) return std::nullopt;
    return WithArch(*classifier);
}

// A download entry ({path, url, sha1, size}); the path falls back to `derivedPath`.
LibraryFile FileOf(const json& entry, const std::string& derivedPath) {
    LibraryFile file;
    const std::string* path = StringMember(entry, "path");
    file.path = path ? *path : derivedPath;
    if (const std::string* url = StringMember(entry, "url")) file.url = *url;
    if (const std::string* sha1 = StringMember(entry, "sha1")) file.sha1 = *sha1;
    if (const json* size = Member(entry, "size"); size && size->is_number_integer()) {
        file.size = size->get<std::int64_t>();
    }
    return file;
}

// The base a library named by coordinates is fetched from: its own `url`, else `defaultBase`.
std::string BaseOf(const json& library, const std::string& defaultBase) {
    const std::string* url = StringMember(library, "url");
    std::string base = url && !url->empty() ? *url : defaultBase;
    if (!base.empty() && base.back() != '/') base += '/';
    return base;
}

// The old-form natives jar of this system (natives.<os name>): its downloads.classifiers entry, or
// the path its name with that classifier gives, fetched from the library's base.
std::optional<LibraryFile> OldFormNatives(const json& library, const std::string& defaultBase) {
    const auto classifier = NativesClassifier(library);
    if (!classifier) return std::nullopt;
    std::string derived;
    if (auto name = NameOf(library)) {
        name->classifier = *classifier;
        derived = libraryPath(*name);
    }
    const json* downloads = ObjectMember(library, "downloads");
    const json* classifiers = downloads ? ObjectMember(*downloads, "classifiers") : nullptr;
    const json* entry = classifiers ? ObjectMember(*classifiers, classifier->c_str()) : nullptr;
    LibraryFile file = entry ? FileOf(*entry, derived) : LibraryFile{derived, {}, {}, -1};
    if (!entry) file.url = BaseOf(library, defaultBase) + derived;
    if (file.path.empty()) return std::nullopt;
    return file;
}

}  // namespace

std::optional<LibraryName> parseLibraryName(std::string_view text) {
    LibraryName name;
    if (const auto at = text.rfind('@'); at != std::string_view::npos) {
        name.extension = std::string(text.substr(at + 1));
        text = text.substr(0, at);
        if (!IsPlainPart(name.extension)) return std::nullopt;
    }
    const std::vector<std::string_view> parts = Split(text, ':');
    if (parts.size() < 3 || parts.size() > 4) return std::nullopt;
    for (const std::string_view folder : Split(parts[0], '.')) {
        if (!IsPlainPart(folder)) return std::nullopt;
    }
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (!IsPlainPart(parts[i])) return std::nullopt;
    }
    name.group = std::string(parts[0]);
    name.artifact = std::string(parts[1]);
    name.version = std::string(parts[2]);
    if (parts.size() == 4) name.classifier = std::string(parts[3]);
    return name;
}

std::string libraryPath(const LibraryName& name) {
    std::string group = name.group;
    std::replace(group.begin(), group.end(), '.', '/');
    std::string path = group + "/" + name.artifact + "/" + name.version + "/" + name.artifact + "-" + name.version;
    if (!name.classifier.empty()) path += "-" + name.classifier;
    return path + "." + name.extension;
}

json loadJsonFile(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(Utf8Path(path), bytes)) return nullptr;
    json parsed = ParseJsonDocument(bytes);
    if (parsed.is_discarded()) return nullptr;
    return parsed;
}

std::string versionJsonProblem(const std::string& path, const char* missingMessage) {
    std::error_code error;
    const auto status = fs::status(Utf8Path(path), error);
    if (!fs::exists(status)) return missingMessage + path;
    std::string bytes;
    if (!fs::is_regular_file(status) || !ReadWholeFile(Utf8Path(path), bytes)) return "无法读取版本 JSON：" + path;
    return "版本 JSON 已损坏（不是有效的 JSON）：" + path;
}

std::string versionJsonPath(const std::string& gameRoot, const std::string& id) {
    return PathUtf8(Below(Below(Utf8Path(gameRoot) / "versions", id), id + ".json"));
}

std::string versionJarPath(const std::string& gameRoot, const std::string& id) {
    return PathUtf8(Below(Below(Utf8Path(gameRoot) / "versions", id), id + ".jar"));
}

VersionManifest resolveVersionManifest(const json& coreJson, const std::string& gameRoot) {
    const std::string* parentId = StringMember(coreJson, "inheritsFrom");
    if (!parentId) return coreJson;
    json parent = loadJsonFile(versionJsonPath(gameRoot, *parentId));
    if (parent.is_null()) return coreJson;
    if (!parent.is_object()) return coreJson;

    json merged = std::move(parent);
    for (const char* key : {"mainClass", "minecraftArguments", "assets", "type"}) {
        if (const json* value = Member(coreJson, key)) merged[key] = *value;
    }

    if (const json* libraries = Member(coreJson, "libraries"); libraries && libraries->is_array()) {
        json& target = merged["libraries"];
        if (!target.is_array()) target = json::array();
        for (const auto& library : *libraries) target.push_back(library);
    }

    if (const json* arguments = ObjectMember(coreJson, "arguments")) {
        json& target = merged["arguments"];
        if (!target.is_object()) target = json::object();
        for (const char* key : {"game", "jvm"}) {
            const json* list = Member(*arguments, key);
            if (!list || !list->is_array()) continue;
            json& targetList = target[key];
            if (!targetList.is_array()) targetList = json::array();
            for (const auto& element : *list) targetList.push_back(element);
        }
    }
    return merged;
}

bool evaluateRules(const json& rules) {
    if (!rules.is_array()) return false;
    bool allowed = false;
    bool denied = false;
    for (const auto& rule : rules) {
        if (!rule.is_object() || !rule.contains("action")) continue;
        // A non-string action throws json::type_error here, by design of the data model.
        const std::string action = rule.at("action").get<std::string>();
        if (rule.contains("features")) continue;
        bool applies = true;
        if (const json* os = ObjectMember(rule, "os")) {
            const std::string* name = StringMember(*os, "name");
            applies = name && *name == platform_constants::kOsName;
        }
        if (!applies) continue;
        if (action == "allow") allowed = true;
        else if (action == "disallow") denied = true;
    }
    return allowed && !denied;
}

bool libraryAllowed(const json& library) {
    const json* rules = Member(library, "rules");
    if (!rules || !rules->is_array()) return true;
    return evaluateRules(*rules);
}

std::vector<std::string> evaluateArgumentList(const json& arguments) {
    std::vector<std::string> out;
    if (!arguments.is_array()) return out;
    for (const auto& element : arguments) {
        if (element.is_string()) {
            out.push_back(element.get<std::string>());
            continue;
        }
        if (!element.is_object()) continue;
        if (const json* rules = Member(element, "rules"); rules && !evaluateRules(*rules)) continue;
        const json* value = Member(element, "value");
        if (!value) continue;
        if (value->is_string()) {
            out.push_back(value->get<std::string>());
        } else if (value->is_array()) {
            for (const auto& part : *value) {
                if (part.is_string()) out.push_back(part.get<std::string>());
            }
        }
    }
    return out;
}

int compareLibraryVersions(const std::string& a, const std::string& b) {
    const auto left = VersionParts(a);
    const auto right = VersionParts(b);
    const std::size_t count = std::max(left.size(), right.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::string x = i < left.size() ? left[i] : "0";
        const std::string y = i < right.size() ? right[i] : "0";
        const bool xNumber = AllDigits(x);
        const bool yNumber = AllDigits(y);
        if (xNumber && yNumber) {
            const int order = CompareDigits(x, y);
            if (order != 0) return order;
            continue;
        }
        if (xNumber) return -1;
        if (yNumber) return 1;
        // std::string::compare orders bytes as unsigned and a proper prefix first.
        const int order = x.compare(y);
        if (order != 0) return order > 0 ? 1 : -1;
    }
    return 0;
}

std::string classpathArtifactPath(const json& library) {
    const json* downloads = ObjectMember(library, "downloads");
    const json* artifact = downloads ? ObjectMember(*downloads, "artifact") : nullptr;
    if (artifact) {
        if (const std::string* path = StringMember(*artifact, "path")) return *path;
    } else if (Member(library, "natives")) {
        return {};  // a natives jar only
    }
    const auto name = NameOf(library);
    return name ? libraryPath(*name) : std::string();
}

void collectClasspathLibraries(const VersionManifest& manifest, const std::string& gameRoot,
                               std::vector<std::string>& out) {
    const json* libraries = Member(manifest, "libraries");
    if (!libraries || !libraries->is_array()) return;
    const fs::path libraryFolder = Utf8Path(gameRoot) / "libraries";

    std::map<std::string, ChosenLibrary> table;
    for (const auto& library : *libraries) {
        if (!library.is_object()) continue;
        if (const json* rules = Member(library, "rules"); rules && !evaluateRules(*rules)) continue;
        const std::string artifactPath = classpathArtifactPath(library);
        const auto name = NameOf(library);
        if (artifactPath.empty() || !name) continue;

        const std::string key = name->group + ":" + name->artifact + ":" + name->classifier;
        ChosenLibrary candidate{PathUtf8(Below(libraryFolder, artifactPath)), name->version};
        const auto found = table.find(key);
        if (found == table.end()) {
            table.emplace(key, std::move(candidate));
        } else if (compareLibraryVersions(candidate.version, found->second.version) == 1) {
            found->second = std::move(candidate);
        }
    }
    for (const auto& [key, chosen] : table) {
        if (Exists(Utf8Path(chosen.path))) out.push_back(chosen.path);
    }
}

void collectParentJars(const VersionManifest& manifest, const std::string& gameRoot,
                       std::vector<std::string>& out) {
    std::set<std::string> visited;
    json loaded;  // the parent read last; the manifest itself is never copied
    const json* current = &manifest;
    for (int count = 0; count < kMaxParentJars; ++count) {
        const std::string* parent = StringMember(*current, "inheritsFrom");
        // A chain that comes back on itself (a core inheriting from itself) ends there.
        if (!parent || !visited.insert(*parent).second) break;
        const std::string id = *parent;
        const std::string jar = versionJarPath(gameRoot, id);
        if (Exists(Utf8Path(jar)) && std::find(out.begin(), out.end(), jar) == out.end()) out.push_back(jar);
        loaded = loadJsonFile(versionJsonPath(gameRoot, id));
        current = &loaded;
    }
}

std::vector<std::string> buildClasspathEntries(const VersionManifest& manifest,
                                               const std::string& gameRoot,
                                               const std::string& coreJar) {
    std::vector<std::string> entries;
    if (!coreJar.empty()) entries.push_back(coreJar);
    collectClasspathLibraries(manifest, gameRoot, entries);
    if (entries.size() < kMinClasspathEntries) {
        entries.clear();
        if (!coreJar.empty()) entries.push_back(coreJar);
        scanJars(PathUtf8(Utf8Path(gameRoot) / "libraries"), entries);
    }
    collectParentJars(manifest, gameRoot, entries);
    return entries;
}

void scanJars(const std::string& folder, std::vector<std::string>& out) {
    ScanFolder(Utf8Path(folder), out);
}

std::vector<NativeArchive> nativeArchives(const VersionManifest& manifest) {
    std::vector<NativeArchive> out;
    const json* libraries = Member(manifest, "libraries");
    if (!libraries || !libraries->is_array()) return out;
    for (const auto& library : *libraries) {
        if (!library.is_object() || !libraryAllowed(library)) continue;
        NativeArchive archive;
        if (const auto natives = OldFormNatives(library, {})) {
            archive.path = natives->path;
            const json* extract = ObjectMember(library, "extract");
            if (const json* list = extract ? Member(*extract, "exclude") : nullptr; list && list->is_array()) {
                for (const auto& prefix : *list) {
                    if (prefix.is_string()) archive.exclude.push_back(prefix.get<std::string>());
                }
            }
        } else if (const auto name = NameOf(library); name && name->classifier == platform_constants::kNativesClassifier) {
            archive.path = classpathArtifactPath(library);
        }
        const bool seen = std::any_of(out.begin(), out.end(), [&](const NativeArchive& a) { return a.path == archive.path; });
        if (!archive.path.empty() && !seen) out.push_back(std::move(archive));
    }
    return out;
}

std::vector<LibraryFile> libraryFiles(const json& library, const std::string& defaultBase) {
    std::vector<LibraryFile> files;
    if (!library.is_object() || !libraryAllowed(library)) return files;
    const json* downloads = ObjectMember(library, "downloads");
    const std::string jar = classpathArtifactPath(library);
    if (const json* artifact = downloads ? ObjectMember(*downloads, "artifact") : nullptr) {
        LibraryFile file = FileOf(*artifact, jar);
        if (!StringMember(*artifact, "url")) file.url = BaseOf(library, defaultBase) + file.path;
        if (!file.path.empty()) files.push_back(std::move(file));
    } else if (!jar.empty()) {
        files.push_back({jar, BaseOf(library, defaultBase) + jar, {}, -1});
    }
    if (auto natives = OldFormNatives(library, defaultBase)) files.push_back(std::move(*natives));
    return files;
}

std::vector<json> loadVersionChain(const std::string& gameRoot, const std::string& id, bool& complete) {
    std::vector<json> chain;
    complete = false;
    json current = loadJsonFile(versionJsonPath(gameRoot, id));
    if (!current.is_object()) return chain;
    chain.push_back(std::move(current));
    std::set<std::string> visited{id};
    for (int depth = 0; depth < kMaxParentJars; ++depth) {
        const std::string* parent = StringMember(chain.back(), "inheritsFrom");
        if (!parent || !visited.insert(*parent).second) break;
        json next = loadJsonFile(versionJsonPath(gameRoot, *parent));
        if (!next.is_object()) return chain;
        chain.push_back(std::move(next));
    }
    complete = true;
    return chain;
}

int declaredJavaMajor(const std::vector<json>& chain) {
    for (const json& version : chain) {
        const json* java = ObjectMember(version, "javaVersion");
        const json* major = java ? Member(*java, "majorVersion") : nullptr;
        if (major && major->is_number_integer() && major->get<int>() > 0) return major->get<int>();
    }
    return 0;
}

}  // namespace lumivale
