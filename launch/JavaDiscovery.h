#pragma once
// Java discovery: finds the Java runtimes of the machine and keeps them as the Java list, each
// entry named by the first line of its "java -version" output.
//
// Sources, in list order: JAVA_HOME, the install folders of the platform, PATH (see
// JavaLocations.h), then the entries the player added by hand that still exist.
//
// Two paths name the same runtime when they are the same text or lead to the same file (links
// followed, so /usr/bin/java through the alternatives link and the JDK's own bin/java are one
// runtime); the entry found first keeps its path.
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "GameTypes.h"
#include "JavaLocations.h"
#include "Process.h"

namespace lumivale {

// One "java -version" probe: output may stay open for 15 s at most, and once it closes the
// runtime gets 5 s to end before it is killed.
inline constexpr CaptureLimits kJavaProbeLimits{std::chrono::seconds(15), std::chrono::seconds(5)};

// A path worth probing: 8 characters or more, the java executable as its last component, and
// an existing file (not a folder).
bool isJavaCandidate(const std::string& path);

// The same runtime: equal texts, or both exist and lead to the same file.
bool sameJavaPath(const std::string& a, const std::string& b);

// "Java (" + name of the folder holding the executable (usually "bin") + ")"; the bare
// executable name when there is no such folder name.
std::string javaFallbackName(const std::string& exePath);

// The version text in the output of "java -version": the first line, trimmed of spaces, tabs,
// CR and LF, with the JVM's "Picked up ..._OPTIONS" notices that may precede it skipped and
// bytes that are not UTF-8 replaced by U+FFFD. Empty when there is no such line.
std::string javaVersionLine(std::string_view output);

// Runs `exePath -version` (standard output and standard error merged) and returns its version
// text, or the fallback name when it cannot start, prints nothing or prints only blank lines.
std::string probeJavaVersion(const std::string& exePath,
                             const CaptureLimits& limits = kJavaProbeLimits);

// Probes `path` and appends {version text, path, manual} unless the path is not a candidate or
// the runtime is already listed. Returns the index of the entry that holds the runtime (the new
// one or the one already there), or -1 when the path was rejected.
int addJavaCandidate(std::vector<JavaInstall>& list, const std::string& path, bool manual,
                     const CaptureLimits& limits = kJavaProbeLimits);

// Builds the new Java list from `search` (probes run side by side; the order stays the source
// order), then copies over the manual entries of `current` whose file still exists and that are
// not listed yet, unprobed. Writes "扫描到 N 个 Java" to the console log.
std::vector<JavaInstall> scanJava(const std::vector<JavaInstall>& current, const JavaSearch& search,
                                  const CaptureLimits& limits = kJavaProbeLimits);
// The same over this machine's JAVA_HOME, install folders and PATH.
std::vector<JavaInstall> scanJava(const std::vector<JavaInstall>& current);

// At start: an empty `selectedJava` becomes "auto", which the page shows for it (never a fixed
// path the page does not show). True when it changed.
bool fillSelectedJava(std::string& selectedJava, const std::vector<JavaInstall>& list);

// Start-up check of a saved list: rediscover when it is empty, or when any name is shorter than
// 7 characters or does not contain "version".
bool javaListNeedsRescan(const std::vector<JavaInstall>& list);

// The player picked `folder` (normally a bin folder): folder + "/java" (one trailing separator
// dropped) is added as a manual entry and becomes `selectedJava`. Returns the selected path (the
// listed entry's path when the runtime was already listed), or an empty text, leaving list and
// selection untouched, when the folder holds no usable java executable.
std::string addManualJava(std::vector<JavaInstall>& javaList, std::string& selectedJava,
                          const std::string& folder, const CaptureLimits& limits = kJavaProbeLimits);

}  // namespace lumivale
