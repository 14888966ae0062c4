#include "Log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "Files.h"
#include "Paths.h"

namespace lumivale {

namespace {

std::atomic<bool> consoleToStderr{false};
std::mutex consoleMutex;
std::mutex clockMutex;

constexpr std::uint64_t kDiagSizeLimit = 2'097'152;  // 2 MiB
constexpr std::int64_t kDiagAgeLimit = 604'801;      // 7 days, then one more second

std::string LocalClockText(std::int64_t unixSeconds) {
    const std::time_t time = static_cast<std::time_t>(unixSeconds);
    std::tm parts{};
    {
        std::lock_guard lock(clockMutex);  // std::localtime shares one buffer
        if (const std::tm* local = std::localtime(&time)) parts = *local;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

}  // namespace

void SetConsoleLogToStderr(bool toStderr) { consoleToStderr = toStderr; }

void ConsoleLog(std::string_view message) {
    std::string line = "[Lumivale] ";
    line += message;
    line += '\n';
    std::FILE* stream = consoleToStderr ? stderr : stdout;
    std::lock_guard lock(consoleMutex);
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

std::filesystem::path GetLogDir() {
    const auto folder = ProgramFolder() / "log";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

void AppendDiagEntry(const std::filesystem::path& file, std::string_view tag,
                     std::string_view message, std::int64_t nowUnixSeconds) {
    try {
        const FileStatus status = StatFile(file);
        bool truncate = false;
        bool byteOrderMark = false;
        if (!status.exists) {
            byteOrderMark = true;
        } else if (status.size > kDiagSizeLimit) {
            truncate = byteOrderMark = true;
        } else if (status.modifiedUnixSeconds != 0 &&
                   nowUnixSeconds - status.modifiedUnixSeconds >= kDiagAgeLimit) {
            truncate = byteOrderMark = true;
        } else {
            byteOrderMark = status.size == 0;
        }
        std::string entry;
        if (byteOrderMark) entry = "\xEF\xBB\xBF";
        entry += '[';
        entry += LocalClockText(nowUnixSeconds);
        entry += "][";
        entry += tag;
        entry += "] ";
        entry += message;
        entry += "\r\n";
        AppendToFile(file, entry, truncate);
    } catch (...) {
        // The diagnostic log must never disturb the caller.
    }
}

void DiagLog(std::string_view tag, std::string_view message) {
    try {
        const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
        AppendDiagEntry(GetLogDir() / "diag.log", tag, message, now);
    } catch (...) {
    }
}

}  // namespace lumivale
