#pragma once
// The rules of the Java installation screen: the catalogue the page is sent, the names a
// downloaded package and an unpacked runtime get, and the progress events of an installation.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace lumivale {

// The "items" array of a catalogue answer as text: from the first "[" after the first
// "items": up to the "]" that closes it, brackets counted (a cut that is not valid JSON because a
// bracket stood inside a string is made again with strings skipped). Empty when the answer has no
// such array.
std::string CutItemsArray(std::string_view answer);

inline constexpr const char* kJavaListUnreachable = "无法连接服务端，请检查网络后重试";
inline constexpr const char* kJavaListUnreadable = "服务端没有给出可用的 Java 列表，请稍后重试";

// "java:list" for the catalogue answer: its items, or an empty array with kJavaListUnreachable
// when there was no answer, kJavaListUnreadable when it holds no items array.
std::string JavaCatalogueEvent(std::string_view answer);
// "java:list" when there is no backend client.
std::string JavaCatalogueNoCloudEvent();

// A backend answer counts as a success only when it holds "success":true or "success": true.
bool BackendAnswerSucceeded(std::string_view answer);

// The page's name with each of " * / : < > ? \ | replaced by "_".
std::string CleanJavaPackageName(std::string_view name);

// The package's file name: the last "/"-separated part of the backend's `key` when that is a
// plain file name (not empty, shorter than 256 bytes, no "\", not "." or ".."), else the cleaned
// page name followed by `suffix`.
std::string JavaPackageFileName(std::string_view key, std::string_view name, std::string_view suffix);

// The folder an unpacked runtime goes to below the runtime folder: the cleaned page name with
// control characters replaced too; "java" when that leaves an empty name, only dots, or more
// than 200 bytes.
std::string JavaRuntimeFolderName(std::string_view name);

// Where packages are downloaded to: <temp>/LumivaleLauncher/java.
std::filesystem::path JavaDownloadFolder(const std::filesystem::path& temp);

// Download progress: received × 100 / total (0 when the total is unknown), and
// "正在下载 R MB" + " / T MB" when the total is known (MB to one decimal, rounded down).
int JavaDownloadPercent(std::int64_t received, std::int64_t total);
std::string JavaDownloadText(std::int64_t received, std::int64_t total);

// {"type":"java:progress","name":…,"phase":…,"percent":…,"text":…}
std::string JavaProgressEvent(std::string_view name, std::string_view phase, int percent, std::string_view text);
// The refusal of a second installation: phase "error" and no percent.
std::string JavaInstallBusyEvent(std::string_view name);

}  // namespace lumivale
