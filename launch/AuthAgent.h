#pragma once
// The authentication agent (authlib-injector) for a build that carries none: its current build is
// asked for at the mirror first and at the agent's own site second, checked by SHA-256 and kept in
// the program's cache folder, where it is reused while its hash matches. The sites are asked at
// most once a day.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace lumivale {

struct Endpoints;

// Where the agent comes from and where it is kept.
struct AuthAgentSources {
    // Each ends with "/"; <base>artifact/latest.json names the current build.
    std::vector<std::string> bases;
    std::string cacheFolder;
    std::int64_t nowSeconds = 0;  // wall clock, seconds since 1970
    std::chrono::milliseconds timeout{10000};
};

inline constexpr std::int64_t kAuthAgentRecheckSeconds = 24 * 60 * 60;
inline constexpr const char* kAuthAgentRecordName = "authlib-injector.json";
inline constexpr const char* kAuthAgentHashMismatchMessage =
    "authlib-injector 下载内容的 sha256 与发布信息不符，已丢弃：";

// The mirror's copy, then the agent's own site (LUMIVALE_AUTHLIB_INJECTOR_BASE), cached in
// <program folder>/cache, with the current time.
AuthAgentSources DefaultAuthAgentSources(const Endpoints& endpoints, const std::string& programFolder);

// Path of a checked agent jar, or empty when none can be had (the reason goes to the console).
std::string ObtainAuthAgent(const AuthAgentSources& sources);

}  // namespace lumivale
