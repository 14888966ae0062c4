// The candidate lists, the same on every system; DefaultJavaSearch is in posix/ and win32/.
#include "JavaLocations.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "Paths.h"
#include "Platform.h"

namespace lumivale {

namespace {

constexpr std::size_t kMaxVariableLength = 32768;

constexpr char kSeparator = platform_constants::kDirectorySeparator;

bool IsSeparator(char c) { return c == '/' || c == kSeparator; }

std::string WithoutTrailingSeparators(std::string folder) {
    while (folder.size() > 1 && IsSeparator(folder.back())) folder.pop_back();
    return folder;
}

// "<folder>/bin/java" with this system's separator and executable name.
std::string JavaBelow(const std::string& folder) {
    return folder + kSeparator + "bin" + kSeparator + platform_constants::kJavaExecutable;
}

}  // namespace

std::vector<std::string> JavaHomeCandidates(std::string_view javaHome) {
    if (javaHome.empty() || javaHome.size() >= kMaxVariableLength) return {};
    std::string home(javaHome);
    if (IsSeparator(home.back())) home.pop_back();
    return {JavaBelow(home)};
}

std::vector<std::string> JavaFolderCandidates(const std::vector<std::string>& roots) {
    std::vector<std::string> candidates;
    for (const std::string& rootText : roots) {
        if (rootText.empty()) continue;
        const std::string root = WithoutTrailingSeparators(rootText);
        // (is a link, name): real folders first, then by name.
        std::vector<std::pair<bool, std::string>> folders;
        std::error_code error;
        std::filesystem::directory_iterator entries(Utf8Path(root), error);
        if (error) continue;
        for (const auto end = std::filesystem::directory_iterator(); entries != end;
             entries.increment(error)) {
            if (error) break;
            std::error_code statError;
            if (!entries->is_directory(statError) || statError) continue;  // follows links
            const bool isLink = entries->is_symlink(statError);
            folders.emplace_back(isLink, PathUtf8(entries->path().filename()));
        }
        std::sort(folders.begin(), folders.end());
        const std::string prefix = root.size() == 1 && IsSeparator(root[0]) ? "" : root;
        for (const auto& folder : folders) candidates.push_back(JavaBelow(prefix + kSeparator + folder.second));
    }
    return candidates;
}

std::vector<std::string> JavaPathCandidates(std::string_view pathVariable) {
    std::vector<std::string> candidates;
    std::size_t start = 0;
    while (start <= pathVariable.size()) {
        std::size_t end = pathVariable.find(platform_constants::kClassPathSeparator, start);
        if (end == std::string_view::npos) end = pathVariable.size();
        std::string entry(pathVariable.substr(start, end - start));
        start = end + 1;
        // Two separators in front: a network share (\\server\share), absolute too.
        const bool share = entry.size() > 2 && IsSeparator(entry[0]) && IsSeparator(entry[1]);
        if (entry.empty() || !(share || Utf8Path(entry).is_absolute())) continue;
        if (!IsSeparator(entry.back())) entry.push_back(kSeparator);
        candidates.push_back(entry + platform_constants::kJavaExecutable);
    }
    return candidates;
}

std::vector<std::string> JavaCandidates(const JavaSearch& search) {
    std::vector<std::string> candidates = JavaHomeCandidates(search.javaHome);
    for (const std::string& home : search.registryHomes) {
        std::vector<std::string> below = JavaHomeCandidates(home);
        candidates.insert(candidates.end(), below.begin(), below.end());
    }
    std::vector<std::string> inFolders = JavaFolderCandidates(search.folderRoots);
    candidates.insert(candidates.end(), inFolders.begin(), inFolders.end());
    std::vector<std::string> onPath = JavaPathCandidates(search.pathVariable);
    candidates.insert(candidates.end(), onPath.begin(), onPath.end());
    return candidates;
}

}  // namespace lumivale
