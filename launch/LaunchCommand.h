#pragma once
// Turns one launch request into the Java command that starts the game: the argument vector the
// process receives and the same command as one line of text for the launch log.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace lumivale {

// Everything one start needs, copied to the launch thread. All texts are UTF-8.
struct LaunchRequest {
    std::string javaPath;         // the Java executable chosen for this start
    std::string gameDirectory;    // <game root>/versions/<core id>: the game runs in it
    std::string gameRoot;         // the game_dir setting: holds versions/, libraries/, assets/
    std::string coreFolder;       // the folder that holds <core id>.json
    std::string coreId;           // folder name of the core
    std::string coreJar;          // the core's jar as catalogued
    std::uint32_t memoryMb = 0;   // memory_mb
    std::vector<std::string> options;  // buildOptionList(gc_preset, custom_jvm_args)
    std::string processPriority;  // process_priority; used by the process runner only
    std::string serverAddress;    // server_address; empty = no quick join
    std::int32_t serverPort = 0;  // server_port
    std::string playerName;       // currentRole
    std::string playerUuid;       // currentRoleId
    std::string accessToken;      // accessToken
    std::string authRoot;         // yggdrasilRoot; empty = no authentication agent
    std::string launchId;         // tags this start; empty = no launch id property
    std::string agentJar;         // the agent to use when the program carries none; empty = none
    int javaMajor = 0;            // major version of javaPath; 0 = not known
};

// The outcome of buildLaunchCommand.
struct LaunchPlan {
    bool success = false;
    std::string error;        // set when the build failed
    std::string commandLine;  // the arguments through quoteArgument, joined by single spaces
    std::string workingDirectory;  // the game directory, whatever the outcome
    // What the process receives, the Java executable first; an argument that came out empty stays
    // one (empty) argument.
    std::vector<std::string> arguments;
};

// Placeholder key -> value, ordered by key.
using PlaceholderTable = std::map<std::string, std::string>;

// Agent jar written beside each launch, and the line logged when it cannot be written.
inline constexpr const char* kAgentJarName = "authlib-injector-1.2.8.jar";
inline constexpr const char* kAgentExtractFailedMessage =
    "authlib-injector 内嵌资源解压失败，跳过（游戏内 LittleSkin 皮肤可能不生效）";

// The Java argument file that takes the JVM arguments and the class path of a command too long
// for the system (beside the game), and the refusal when the chosen Java is too old to read one.
inline constexpr const char* kArgumentFileName = "lumivale-jvm-arguments.txt";
inline constexpr const char* kCommandTooLongForJava8Message =
    "启动命令超出系统允许的长度，Java 8 无法读取参数文件：请为该版本选择 Java 9 或更高版本";

// Port used for quick join when the configured one is outside 1..65535.
inline constexpr std::int32_t kDefaultServerPort = 25565;

// The garbage-collector preset's flags followed by the player's extra options; "custom" (and an
// unknown preset) contributes no flag of its own.
std::vector<std::string> buildOptionList(const std::string& gcPreset,
                                         const std::string& customJvmArgs);

// Runs of characters other than space, tab, line feed, vertical tab, form feed and carriage
// return; no quoting.
std::vector<std::string> splitCustomJvmArgs(const std::string& text);

// For each key in table order, every "${key}" becomes its value; the search goes on after the
// inserted value. Unknown placeholders stay as they are.
std::string substitutePlaceholders(const std::string& text, const PlaceholderTable& table);

// Empty becomes "" (so it stays an argument); a text without space or tab stays as it is;
// otherwise inner double quotes become backslash-quote and the whole is wrapped in double quotes.
// Backslashes are never doubled.
std::string quoteArgument(const std::string& text);

// True when the system would refuse the command: on Windows a command line longer than 32,767
// characters, elsewhere one argument longer than 128 KiB.
bool exceedsCommandLimit(const std::vector<std::string>& arguments, const std::string& commandLine);

// The text of a Java argument file (Java 9 and later) holding `arguments`: one per line, each in
// double quotes with backslash and double quote escaped by a backslash.
std::string argumentFileText(const std::vector<std::string>& arguments);

// Host and optional port of an authentication root: everything up to and including the first
// "://" dropped, then cut at the first "/".
std::string authServerPart(const std::string& authRoot);

// Every occurrence of `secret` in `text` replaced by "***" (for logging a command line); an empty
// secret leaves the text as it is.
std::string maskSecret(const std::string& text, const std::string& secret);

// Reads the core (with its parent), extracts this version's natives, fills the assets folder an
// old game reads, writes the authentication agent beside the launch (or takes request.agentJar
// when the program carries none) and assembles the command; a command too long for the system
// passes its JVM arguments and class path through an argument file. Never throws: a version JSON
// that the rules cannot read ends as a failed plan with a message.
LaunchPlan buildLaunchCommand(const LaunchRequest& request);

}  // namespace lumivale
