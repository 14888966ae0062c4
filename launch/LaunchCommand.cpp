#include "LaunchCommand.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "Files.h"
#include "LaunchFiles.h"
#include "Log.h"
#include "Paths.h"
#include "Platform.h"
#include "Resources.h"
#include "Uuid.h"
#include "VersionManifest.h"

namespace lumivale {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* kNilUuid = "00000000-0000-0000-0000-000000000000";
constexpr const char* kHeapDumpOption =
    "-XX:HeapDumpPath=MojangTricksIntelDriversForPerformance_javaw.exe_minecraft.exe.heapdump";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string Join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += separator;
        out += parts[i];
    }
    return out;
}

bool AnyStartsWith(const std::vector<std::string>& list, std::string_view prefix) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& item) { return item.starts_with(prefix); });
}

std::string CommandLine(const std::vector<std::string>& args) {
    std::vector<std::string> quoted;
    quoted.reserve(args.size());
    for (const auto& argument : args) quoted.push_back(quoteArgument(argument));
    return Join(quoted, " ");
}

// The jvm or game list of the manifest's "arguments" object; empty when there is none.
std::vector<std::string> ManifestArgumentList(const VersionManifest& manifest, const char* key) {
    if (!manifest.is_object()) return {};
    const auto arguments = manifest.find("arguments");
    if (arguments == manifest.end() || !arguments->is_object()) return {};
    const auto list = arguments->find(key);
    if (list == arguments->end() || !list->is_array()) return {};
    return evaluateArgumentList(*list);
}

std::string StringOr(const VersionManifest& manifest, const char* key, const std::string& fallback) {
    if (!manifest.is_object()) return fallback;
    const auto value = manifest.find(key);
    return value != manifest.end() && value->is_string() ? value->get<std::string>() : fallback;
}

// Extracts the natives jars of this version that are on disk; true when there is at least one,
// whether or not its extraction wrote anything.
bool ExtractVersionNatives(const VersionManifest& manifest, const std::string& gameRoot,
                           const std::string& nativesFolder) {
    bool found = false;
    int written = 0;
    for (const NativeArchive& archive : nativeArchives(manifest)) {
        fs::path relative = Utf8Path(archive.path);
        if (relative.has_root_path()) relative = relative.relative_path();
        const fs::path jar = Utf8Path(gameRoot) / "libraries" / relative;
        std::error_code ignored;
        if (!fs::is_regular_file(jar, ignored)) continue;
        found = true;
        written += extractNatives(PathUtf8(jar), nativesFolder, archive.exclude);
    }
    if (found) ConsoleLog("natives: " + std::to_string(written) + " 个文件 -> " + nativesFolder);
    return found;
}

void Build(const LaunchRequest& request, LaunchPlan& plan) {
    // 1-2. The core and its parent.
    const std::string jsonPath =
        PathUtf8(Utf8Path(request.coreFolder) / Utf8Path(request.coreId + ".json"));
    const json core = loadJsonFile(jsonPath);
    if (core.is_null()) {
        plan.error = versionJsonProblem(jsonPath, kVersionJsonMissingMessage);
        return;
    }
    const VersionManifest manifest = resolveVersionManifest(core, request.gameRoot);
    const std::string mainClass = StringOr(manifest, "mainClass", "");
    if (mainClass.empty()) {
        plan.error = kMainClassMissingMessage;
        return;
    }

    // 3. Class path.
    const std::string separator(1, platform_constants::kClassPathSeparator);
    const std::string classpath =
        Join(buildClasspathEntries(manifest, request.gameRoot, request.coreJar), separator);

    // 4. Natives.
    const fs::path gameDirectory = Utf8Path(request.gameDirectory);
    const fs::path nativesPath = gameDirectory / "natives_cache" / Utf8Path(request.coreId);
    const std::string nativesFolder = PathUtf8(nativesPath);
    {
        std::error_code ignored;
        fs::create_directories(gameDirectory / "natives_cache", ignored);
        fs::create_directories(nativesPath, ignored);
    }
    const bool nativesPresent = ExtractVersionNatives(manifest, request.gameRoot, nativesFolder);

    // 5. Placeholders. Old games read the session as "token:<access token>:<uuid>", their
    // properties as JSON and their assets by name.
    const fs::path gameRoot = Utf8Path(request.gameRoot);
    const std::string assetIndex = StringOr(manifest, "assets", request.coreId);
    const std::string session =
        request.accessToken.empty() ? std::string() : "token:" + request.accessToken + ":" + request.playerUuid;
    const PlaceholderTable table{
        {"auth_player_name", request.playerName},
        {"auth_uuid", request.playerUuid},
        {"auth_access_token", request.accessToken},
        {"auth_session", session},
        {"user_properties", "{}"},
        {"game_assets", prepareGameAssets(request.gameRoot, request.gameDirectory, assetIndex)},
        {"auth_xuid", request.playerUuid},
        {"user_type", "mojang"},
        {"version_name", request.coreId},
        {"version_type", StringOr(manifest, "type", "release")},
        {"game_directory", request.gameDirectory},
        {"assets_root", PathUtf8(gameRoot / "assets")},
        {"assets_index_name", assetIndex},
        {"natives_directory", nativesFolder},
        {"launcher_name", "LumivaleLauncher"},
        {"launcher_version", "1.0"},
        {"classpath", classpath},
        {"classpath_separator", separator},
        {"library_directory", PathUtf8(gameRoot / "libraries")},
        {"clientid", NewUuid().value_or(kNilUuid)},
    };

    // 6. JVM arguments of the manifest.
    std::vector<std::string> jvm = ManifestArgumentList(manifest, "jvm");
    const bool hasLibraryPath = std::any_of(jvm.begin(), jvm.end(), [](const std::string& a) {
        return a.find("java.library.path") != std::string::npos;
    });
    if (nativesPresent && !hasLibraryPath) jvm.push_back("-Djava.library.path=${natives_directory}");
    for (auto& argument : jvm) argument = substitutePlaceholders(argument, table);

    // 7. Game arguments: minecraftArguments wins over arguments.game.
    std::vector<std::string> game;
    const auto legacy = manifest.find("minecraftArguments");
    if (legacy != manifest.end() && legacy->is_string()) {
        game = splitCustomJvmArgs(legacy->get<std::string>());
    } else {
        game = ManifestArgumentList(manifest, "game");
    }
    for (auto& argument : game) argument = substitutePlaceholders(argument, table);

    // 8. The argument vector.
    std::vector<std::string> args;
    args.push_back(request.javaPath);
    if (!request.launchId.empty()) args.push_back("-Dlumivale.launch.id=" + request.launchId);

    const std::size_t firstJvmArgument = args.size();
    if (!request.authRoot.empty()) {
        // The agent the program carries is written beside the game; a build without one uses
        // the one fetched for this launch.
        std::string agentJar = PathUtf8(gameDirectory / kAgentJarName);
        if (GetResource(IDR_AGENT_JAR).empty() || !writeAgentJar(IDR_AGENT_JAR, agentJar)) {
            agentJar = request.agentJar;
        }
        if (!agentJar.empty()) {
            args.push_back("-javaagent:" + agentJar + "=" + authServerPart(request.authRoot));
        } else {
            ConsoleLog(kAgentExtractFailedMessage);
        }
    }

    const bool memoryGiven = AnyStartsWith(jvm, "-Xmx") || AnyStartsWith(jvm, "-Xms") ||
                             AnyStartsWith(request.options, "-Xmx") ||
                             AnyStartsWith(request.options, "-Xms");
    if (!memoryGiven) {
        const std::string memory = std::to_string(request.memoryMb) + "M";
        args.push_back("-Xmx" + memory);
        args.push_back("-Xms" + memory);
    }

    for (const char* option :
         {"--add-opens", "java.base/java.lang.invoke=ALL-UNNAMED", "--add-opens",
          "java.base/java.lang.reflect=ALL-UNNAMED", "--add-opens", "java.base/java.util=ALL-UNNAMED",
          kHeapDumpOption}) {
        args.emplace_back(option);
    }

    if (nativesPresent && !nativesFolder.empty()) {
        args.push_back("-Djna.tmpdir=" + nativesFolder);
        args.push_back("-Dorg.lwjgl.system.SharedLibraryExtractPath=" + nativesFolder);
        args.push_back("-Dio.netty.native.workdir=" + nativesFolder);
    }

    args.insert(args.end(), request.options.begin(), request.options.end());
    args.insert(args.end(), jvm.begin(), jvm.end());

    const bool hasClasspath = std::any_of(jvm.begin(), jvm.end(), [](const std::string& a) {
        return a == "-cp" || a == "-classpath";
    });
    if (!hasClasspath && !classpath.empty()) {
        args.push_back("-cp");
        args.push_back(classpath);
    }

    const std::size_t mainClassIndex = args.size();
    args.push_back(mainClass);
    args.insert(args.end(), game.begin(), game.end());

    if (!request.serverAddress.empty()) {
        const std::int32_t port = request.serverPort < 1 || request.serverPort > 65535
                                      ? kDefaultServerPort
                                      : request.serverPort;
        args.push_back("--server");
        args.push_back(request.serverAddress);
        args.push_back("--port");
        args.push_back(std::to_string(port));
    }

    // 9. The command line; past the system's limit the JVM arguments go to an argument file.
    plan.commandLine = CommandLine(args);
    if (exceedsCommandLimit(args, plan.commandLine)) {
        if (request.javaMajor == 8) {
            plan.error = kCommandTooLongForJava8Message;
            return;
        }
        const std::vector<std::string> jvmPart(args.begin() + static_cast<std::ptrdiff_t>(firstJvmArgument),
                                               args.begin() + static_cast<std::ptrdiff_t>(mainClassIndex));
        const fs::path file = gameDirectory / kArgumentFileName;
        std::error_code ignored;
        fs::create_directories(gameDirectory, ignored);
        if (!WriteFileAtomically(file, argumentFileText(jvmPart))) {
            plan.error = "无法写入参数文件：" + PathUtf8(file);
            return;
        }
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(firstJvmArgument),
                   args.begin() + static_cast<std::ptrdiff_t>(mainClassIndex));
        args.insert(args.begin() + static_cast<std::ptrdiff_t>(firstJvmArgument), "@" + PathUtf8(file));
        plan.commandLine = CommandLine(args);
    }
    plan.arguments = std::move(args);
    plan.success = true;
}

}  // namespace

std::vector<std::string> buildOptionList(const std::string& gcPreset,
                                         const std::string& customJvmArgs) {
    std::vector<std::string> options;
    if (gcPreset == "g1_optimized") {
        options = {"-XX:+UnlockExperimentalVMOptions", "-XX:+UseG1GC", "-XX:MaxGCPauseMillis=200",
                   "-XX:G1HeapRegionSize=16m", "-XX:+ParallelRefProcEnabled", "-XX:+AlwaysPreTouch"};
    } else if (gcPreset == "zgc") {
        options = {"-XX:+UnlockExperimentalVMOptions", "-XX:+UseZGC", "-XX:+AlwaysPreTouch"};
    } else if (gcPreset == "zgc_gen") {
        options = {"-XX:+UnlockExperimentalVMOptions", "-XX:+UseZGC", "-XX:+ZGenerational",
                   "-XX:+AlwaysPreTouch"};
    } else if (gcPreset == "g1_std") {
        options = {"-XX:+UseG1GC"};
    } else if (gcPreset == "g1_throughput") {
        options = {"-XX:+UnlockExperimentalVMOptions", "-XX:+UseG1GC", "-XX:MaxGCPauseMillis=400",
                   "-XX:G1HeapRegionSize=16m", "-XX:+UseStringDeduplication", "-XX:+AlwaysPreTouch"};
    }
    const auto custom = splitCustomJvmArgs(customJvmArgs);
    options.insert(options.end(), custom.begin(), custom.end());
    return options;
}

std::vector<std::string> splitCustomJvmArgs(const std::string& text) {
    std::vector<std::string> tokens;
    std::string current;
    for (const char c : text) {
        if (IsBlank(c)) {
            if (!current.empty()) tokens.push_back(std::move(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) tokens.push_back(std::move(current));
    return tokens;
}

std::string substitutePlaceholders(const std::string& text, const PlaceholderTable& table) {
    std::string out = text;
    for (const auto& [key, value] : table) {
        const std::string placeholder = "${" + key + "}";
        std::size_t at = out.find(placeholder);
        while (at != std::string::npos) {
            out.replace(at, placeholder.size(), value);
            at = out.find(placeholder, at + value.size());
        }
    }
    return out;
}

std::string quoteArgument(const std::string& text) {
    if (text.empty()) return "\"\"";
    if (text.find_first_of(" \t") == std::string::npos) return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

bool exceedsCommandLimit(const std::vector<std::string>& arguments, const std::string& commandLine) {
    // UTF-8 bytes are never fewer than the UTF-16 units Windows counts: the test errs on the safe side.
    if (platform_constants::kLongestCommandLine > 0 && commandLine.size() > platform_constants::kLongestCommandLine) {
        return true;
    }
    return std::any_of(arguments.begin(), arguments.end(), [](const std::string& argument) {
        return argument.size() > platform_constants::kLongestArgument;
    });
}

std::string argumentFileText(const std::vector<std::string>& arguments) {
    std::string text;
    for (const auto& argument : arguments) {
        text += '"';
        for (const char c : argument) {
            if (c == '\\' || c == '"') text += '\\';
            text += c;
        }
        text += "\"\n";
    }
    return text;
}

std::string authServerPart(const std::string& authRoot) {
    std::string server = authRoot;
    if (const auto scheme = server.find("://"); scheme != std::string::npos) {
        server.erase(0, scheme + 3);
    }
    if (const auto slash = server.find('/'); slash != std::string::npos) server.resize(slash);
    return server;
}

std::string maskSecret(const std::string& text, const std::string& secret) {
    if (secret.empty()) return text;
    std::string out = text;
    const std::string mask = "***";
    for (auto at = out.find(secret); at != std::string::npos; at = out.find(secret, at + mask.size())) {
        out.replace(at, secret.size(), mask);
    }
    return out;
}

LaunchPlan buildLaunchCommand(const LaunchRequest& request) {
    LaunchPlan plan;
    plan.workingDirectory = request.gameDirectory;
    try {
        Build(request, plan);
    } catch (const std::exception& error) {
        // The library's own text is for the log; the player hears what to do.
        ConsoleLog(std::string("版本 JSON 无法解析：") + error.what());
        plan = LaunchPlan{};
        plan.workingDirectory = request.gameDirectory;
        plan.error = "版本 JSON 的内容不符合格式，无法启动（可重新安装该版本）";
    }
    return plan;
}

}  // namespace lumivale
