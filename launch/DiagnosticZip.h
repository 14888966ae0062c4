#pragma once
// The diagnostic zip a player sends when asking for help: the logs of the last crash and what
// the analysis made of them, with the account's secrets replaced by "***".
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "CrashAnalysis.h"

namespace lumivale {

// Of each log, at most the first kDiagnosticHeadBytes and the last kDiagnosticTailBytes go into
// the zip, both cut at line ends, with a note of what was left out between them.
inline constexpr std::uint64_t kDiagnosticHeadBytes = 2U << 20;
inline constexpr std::uint64_t kDiagnosticTailBytes = 6U << 20;
inline constexpr const char* kDiagnosticSummaryName = "crash-analysis.txt";

// Every occurrence of each secret replaced by "***". Secrets shorter than three bytes are left
// alone: masking them would wreck the text and hide nothing.
std::string MaskSecrets(std::string text, const std::vector<std::string>& secrets);

// The name a log gets inside the zip: crash-reports/<name>, logs/latest.log, <hs_err name> or
// launcher/<name>.
std::string DiagnosticEntryName(const CrashLog& log);

// Writes the zip to `target` through a temporary file: `summary` as crash-analysis.txt, then each
// log that can still be read. False with `error` set when nothing could be written.
bool WriteDiagnosticZip(const std::filesystem::path& target, const std::vector<CrashLog>& logs,
                        const std::string& summary, const std::vector<std::string>& secrets,
                        std::int64_t nowUnixSeconds, std::string& error);

}  // namespace lumivale
