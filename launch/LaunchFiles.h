#pragma once
// Files a launch writes just before the game starts: the natives, the authentication agent jar,
// and the id that tags one start.
#include <string>

namespace lumivale {

// Extracts the native libraries (.dll .so .dylib .jnilib, exact case) of one natives jar into
// `nativesFolder`, keeping inner folders and skipping META-INF/. An entry that would land outside
// the folder is skipped. Returns how many files were written.
int extractNatives(const std::string& jarPath, const std::string& nativesFolder);

// Writes the resource `resourceId` to `targetPath`; false when the resource is empty or the
// write fails.
bool writeAgentJar(int resourceId, const std::string& targetPath);

// A fresh lower-case UUID text, or "lv-<pid>-<unix seconds>" when none can be made.
std::string makeLaunchId();

}  // namespace lumivale
