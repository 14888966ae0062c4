#include "JavaDiscovery.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <thread>

#include "Log.h"
#include "Paths.h"
#include "Platform.h"

namespace lumivale {

namespace {

// At most this many probes run at once.
constexpr unsigned kMaxParallelProbes = 8;

bool IsExistingFile(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(Utf8Path(path), error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

std::string_view Trim(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

// Valid UTF-8 stays as it is; every byte that does not start a valid sequence becomes U+FFFD.
std::string ValidUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length = 0;
        std::uint32_t minimum = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            text.push_back(static_cast<char>(lead));
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, minimum = 0x80, code = lead & 0x1Fu;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, minimum = 0x800, code = lead & 0x0Fu;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, minimum = 0x10000, code = lead & 0x07u;
        }
        bool valid = length > 0 && i + length <= bytes.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3Fu);
        }
        valid = valid && code >= minimum && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (valid) {
            text.append(bytes.substr(i, length));
            i += length;
        } else {
            text.append("\xEF\xBF\xBD");
            ++i;
        }
    }
    return text;
}

// The JVM announces option variables it honours before anything else, e.g.
// "Picked up JAVA_TOOL_OPTIONS: -Dfile.encoding=UTF-8" or "NOTE: Picked up JDK_JAVA_OPTIONS: ...".
bool IsOptionsNotice(std::string_view line) {
    return line.starts_with("Picked up ") || line.starts_with("NOTE: Picked up ");
}

std::vector<std::string> ProbeAll(const std::vector<std::string>& paths, const CaptureLimits& limits) {
    std::vector<std::string> names(paths.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            names[i] = probeJavaVersion(paths[i], limits);
        }
    };
    // The calling thread probes too.
    const std::size_t workers = std::min<std::size_t>(paths.size(), kMaxParallelProbes);
    const std::size_t helpers = workers > 0 ? workers - 1 : 0;
    std::vector<std::thread> threads;
    threads.reserve(helpers);
    for (std::size_t t = 0; t < helpers; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer helpers; the calling thread does the rest
        }
    }
    work();
    for (std::thread& thread : threads) thread.join();
    return names;
}

bool IsListed(const std::vector<JavaInstall>& list, const std::string& path) {
    return std::any_of(list.begin(), list.end(),
                       [&](const JavaInstall& entry) { return sameJavaPath(entry.exe, path); });
}

}  // namespace

bool isJavaCandidate(const std::string& path) {
    if (path.size() < 8) return false;
    if (Utf8Path(path).filename() != platform_constants::kJavaExecutable) return false;
    return IsExistingFile(path);
}

bool sameJavaPath(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::error_code error;
    const bool same = std::filesystem::equivalent(Utf8Path(a), Utf8Path(b), error);
    return !error && same;
}

std::string javaFallbackName(const std::string& exePath) {
    const std::string folder = PathUtf8(Utf8Path(exePath).parent_path().filename());
    if (folder.empty()) return platform_constants::kJavaExecutable;
    return "Java (" + folder + ")";
}

std::string javaVersionLine(std::string_view output) {
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string_view::npos) end = output.size();
        const std::string_view line = Trim(output.substr(start, end - start));
        start = end + 1;
        if (IsOptionsNotice(line)) continue;
        return ValidUtf8(line);
    }
    return {};
}

std::string probeJavaVersion(const std::string& exePath, const CaptureLimits& limits) {
    const CapturedRun run = RunCaptured({exePath, "-version"}, limits);
    std::string name = run.started ? javaVersionLine(run.output) : std::string();
    if (name.empty()) name = javaFallbackName(exePath);
    return name;
}

int addJavaCandidate(std::vector<JavaInstall>& list, const std::string& path, bool manual,
                     const CaptureLimits& limits) {
    if (!isJavaCandidate(path)) return -1;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (sameJavaPath(list[i].exe, path)) return static_cast<int>(i);
    }
    list.push_back({probeJavaVersion(path, limits), path, manual});
    return static_cast<int>(list.size() - 1);
}

std::vector<JavaInstall> scanJava(const std::vector<JavaInstall>& current, const JavaSearch& search,
                                  const CaptureLimits& limits) {
    // Which candidates make it into the list is known before any probe runs; only their names
    // need the probes, which may then run side by side.
    std::vector<std::string> paths;
    for (const std::string& candidate : JavaCandidates(search)) {
        if (!isJavaCandidate(candidate)) continue;
        const bool listed = std::any_of(paths.begin(), paths.end(), [&](const std::string& path) {
            return sameJavaPath(path, candidate);
        });
        if (!listed) paths.push_back(candidate);
    }
    const std::vector<std::string> names = ProbeAll(paths, limits);

    std::vector<JavaInstall> list;
    list.reserve(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) list.push_back({names[i], paths[i], false});

    for (const JavaInstall& entry : current) {
        if (entry.manual && IsExistingFile(entry.exe) && !IsListed(list, entry.exe)) {
            list.push_back(entry);
        }
    }
    ConsoleLog("扫描到 " + std::to_string(list.size()) + " 个 Java");
    return list;
}

std::vector<JavaInstall> scanJava(const std::vector<JavaInstall>& current) {
    return scanJava(current, DefaultJavaSearch());
}

bool fillSelectedJava(std::string& selectedJava, const std::vector<JavaInstall>&) {
    if (!selectedJava.empty()) return false;
    selectedJava = "auto";
    return true;
}

bool javaListNeedsRescan(const std::vector<JavaInstall>& list) {
    if (list.empty()) return true;
    return std::any_of(list.begin(), list.end(), [](const JavaInstall& entry) {
        return entry.name.size() < 7 || entry.name.find("version") == std::string::npos;
    });
}

std::string addManualJava(std::vector<JavaInstall>& javaList, std::string& selectedJava,
                          const std::string& folder, const CaptureLimits& limits) {
    // A trailing separator on the folder is absorbed by the join.
    const std::string path = PathUtf8(Utf8Path(folder) / platform_constants::kJavaExecutable);
    if (!IsExistingFile(path)) return {};

    std::vector<JavaInstall> updated = javaList;
    const int index = addJavaCandidate(updated, path, true, limits);
    if (index < 0) return {};
    javaList = std::move(updated);
    selectedJava = javaList[static_cast<std::size_t>(index)].exe;
    return selectedJava;
}

}  // namespace lumivale
