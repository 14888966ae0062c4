#pragma once
// What the tests need from the system, the same call on Linux and on Windows (under Wine).
#include <cstdint>
#include <filesystem>
#include <string>

namespace lumivale::test {

// Sets or removes an environment variable of this process (on Windows the system's copy too).
void SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// The environment variable that holds the per-user data folder: XDG_DATA_HOME, or LOCALAPPDATA on Windows.
const char* DataHomeVariable();

void SetModifiedTime(const std::filesystem::path& file, std::int64_t unixSeconds);

// Whether this is a Windows program running under Wine (which, for one, takes a file's DACL
// without keeping it, so AccessMode cannot see it).
bool RunningUnderWine();

// The permission bits, as Linux has them. On Windows 0600 (a file) or 0700 (a folder) when the
// DACL is protected and lets the current user alone in, 0777 for anything else.
unsigned AccessMode(const std::filesystem::path& path);

}  // namespace lumivale::test
