#include "VersionManifest.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
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

}  // namespace

json loadJsonFile(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(Utf8Path(path), bytes)) return nullptr;
    json parsed = ParseJsonDocument(bytes);
    if (parsed.is_discarded()) return nullptr;
    return parsed;
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

void collectClasspathLibraries(const VersionManifest& manifest, const std::string& gameRoot,
                               std::vector<std::string>& out) {
    const json* libraries = Member(manifest, "libraries");
    if (!libraries || !libraries->is_array()) return;
    const fs::path libraryFolder = Utf8Path(gameRoot) / "libraries";

    std::map<std::string, ChosenLibrary> table;
    for (const auto& library : *libraries) {
        if (!library.is_object()) continue;
        if (const json* rules = Member(library, "rules"); rules && !evaluateRules(*rules)) continue;
        const json* downloads = ObjectMember(library, "downloads");
        const json* artifact = downloads ? ObjectMember(*downloads, "artifact") : nullptr;
        const std::string* artifactPath = artifact ? StringMember(*artifact, "path") : nullptr;
        if (!artifactPath) continue;

        const std::string* namePtr = StringMember(library, "name");
        const std::string name = namePtr ? *namePtr : std::string();
        const auto firstColon = name.find(':');
        if (firstColon == std::string::npos) continue;
        const auto secondColon = name.find(':', firstColon + 1);
        if (secondColon == std::string::npos) continue;
        const std::string group = name.substr(0, firstColon);
        const std::string artifactId = name.substr(firstColon + 1, secondColon - firstColon - 1);
        std::string version = name.substr(secondColon + 1);
        std::string classifier;
        if (const auto third = version.find(':'); third != std::string::npos) {
            classifier = version.substr(third + 1);
            version.resize(third);
        }

        const std::string key = group + ":" + artifactId + ":" + classifier;
        ChosenLibrary candidate{PathUtf8(Below(libraryFolder, *artifactPath)), version};
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
    json current = manifest;
    for (int count = 0; count < kMaxParentJars; ++count) {
        const std::string* parent = StringMember(current, "inheritsFrom");
        if (!parent) break;
        const std::string id = *parent;
        const std::string jar = versionJarPath(gameRoot, id);
        if (Exists(Utf8Path(jar))) out.push_back(jar);
        current = loadJsonFile(versionJsonPath(gameRoot, id));
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

bool selectLibraryDownload(const json& library, std::string& url, std::string& path) {
    if (!libraryAllowed(library)) return false;
    const json* downloads = ObjectMember(library, "downloads");

    if (const json* natives = ObjectMember(library, "natives")) {
        const std::string* classifier = StringMember(*natives, platform_constants::kOsName);
        const json* classifiers = downloads ? ObjectMember(*downloads, "classifiers") : nullptr;
        if (classifier && classifiers) {
            if (const json* entry = Member(*classifiers, classifier->c_str())) {
                const std::string* entryUrl = StringMember(*entry, "url");
                const std::string* entryPath = StringMember(*entry, "path");
                if (entryUrl && entryPath) {
                    url = *entryUrl;
                    path = *entryPath;
                    return true;
                }
            }
        }
    }

    if (const json* artifact = downloads ? Member(*downloads, "artifact") : nullptr) {
        const std::string* artifactUrl = StringMember(*artifact, "url");
        const std::string* artifactPath = StringMember(*artifact, "path");
        if (artifactUrl && artifactPath) {
            url = *artifactUrl;
            path = *artifactPath;
            return true;
        }
    }
    return false;
}

}  // namespace lumivale
