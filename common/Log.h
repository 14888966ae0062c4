#pragma once
// Two outlets: console lines for progress and warnings, and log/diag.log, a small self-limiting
// file for the key store, key registration and backend requests.
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace lumivale {

// "[Lumivale] " + message + end of line, flushed; lines from several threads stay whole.
void ConsoleLog(std::string_view message);
// Headless runs keep standard output for the page's messages: console lines go to stderr.
void SetConsoleLogToStderr(bool toStderr);

// Program folder + "/log", created when missing.
std::filesystem::path GetLogDir();

// Appends "[HH:MM:SS][TAG] message" CR LF to log/diag.log. Never throws; failures are dropped.
void DiagLog(std::string_view tag, std::string_view message);

// The rule behind DiagLog for a given file and moment (seconds since 1970): a missing file is
// created, one above 2 MiB or last written 7 days and a second ago or longer is emptied; a file
// that this starts or empties begins with the UTF-8 byte order mark.
void AppendDiagEntry(const std::filesystem::path& file, std::string_view tag,
                     std::string_view message, std::int64_t nowUnixSeconds);

}  // namespace lumivale
