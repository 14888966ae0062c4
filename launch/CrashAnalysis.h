#pragma once
// Why did the game crash: reads what the game left (each log capped, line by line, each line
// capped, so a huge log costs bounded memory and time and no regular expression sees a long
// line), matches the crash rules and orders the causes by confidence, then by rule order.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CrashRules.h"

namespace lumivale {

// Of each log, at most its first kCrashHeadBytes and its last kCrashTailBytes are read (the
// loaders report early, the game's end comes last); lines are cut at kCrashLineBytes.
inline constexpr std::uint64_t kCrashHeadBytes = 1U << 20;
inline constexpr std::uint64_t kCrashTailBytes = 3U << 20;
inline constexpr std::size_t kCrashLineBytes = 1024;
// Evidence lines are shortened to about this many bytes.
inline constexpr std::size_t kCrashEvidenceBytes = 240;

struct CrashLog {
    std::string path;
    CrashLogKind kind = CrashLogKind::Output;
    std::uint64_t skip = 0;  // bytes at the start that are not the game's (the launcher's header)
};

struct CrashCause {
    std::string id;
    std::string title;
    std::string advice;
    std::string evidence;  // the matched line, shortened
    std::string confidence;
    std::string mod;  // the mod the log blames, when it names one
};

struct CrashAnalysis {
    std::vector<CrashCause> causes;  // most likely first
    std::vector<std::string> files;  // the logs read, most telling first
    bool startFailed = false;        // the JVM never got to run the game
    std::string stackMod;            // a mod named in the crash's stack, when one is
    std::uint64_t bytesRead = 0;     // over all logs
    std::size_t longestLine = 0;     // the longest line any rule saw
};

// The logs a game in `gameDirectory` left since `sinceUnixSeconds`: the newest
// crash-reports/crash-*.txt, each hs_err_pid*.log (newest first, at most four) and logs/latest.log,
// then `output` (skipped when its path is empty). Older files belong to earlier runs and are
// left out.
std::vector<CrashLog> FindCrashLogs(const std::string& gameDirectory, std::int64_t sinceUnixSeconds,
                                    const CrashLog& output);

// Reads the logs (a missing one is skipped) and matches `rules`. A known exit code is matched as
// the output line "exit code: N". The rules of "latest" also read the output, which carries the
// same console lines.
CrashAnalysis AnalyseCrash(const CrashRules& rules, const std::vector<CrashLog>& logs,
                           std::optional<int> exitCode = std::nullopt);

// {"type":"game:crash","stage":"start|running","exitCode":N,"causes":[{"id","title","advice",
// "evidence","confidence"[,"mod"]}…],"files":[…][,"mod":…]}: valid JSON whatever the logs hold.
std::string CrashEvent(const CrashAnalysis& analysis, int exitCode);

// The causes as plain text, for the diagnostic zip.
std::string CrashSummaryText(const CrashAnalysis& analysis, int exitCode);

}  // namespace lumivale
