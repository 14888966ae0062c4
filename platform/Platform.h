#pragma once
// What differs between the operating systems in a game's command line and files.
#include <cstddef>

namespace lumivale::platform_constants {

#if defined(_WIN32)
inline constexpr const char* kJavaExecutable = "java.exe";
inline constexpr const char* kNativesClassifier = "natives-windows";
inline constexpr const char* kOsName = "windows";
inline constexpr char kClassPathSeparator = ';';
inline constexpr char kDirectorySeparator = '\\';
// CreateProcess takes at most 32,767 characters of command line.
inline constexpr std::size_t kLongestCommandLine = 32767;
inline constexpr std::size_t kLongestArgument = 32767;
#else
inline constexpr const char* kJavaExecutable = "java";
inline constexpr const char* kNativesClassifier = "natives-linux";
inline constexpr const char* kOsName = "linux";
inline constexpr char kClassPathSeparator = ':';
inline constexpr char kDirectorySeparator = '/';
// Linux refuses an argument longer than 128 KiB (MAX_ARG_STRLEN, its terminator included); the
// whole command is bounded by the far larger ARG_MAX.
inline constexpr std::size_t kLongestCommandLine = 0;
inline constexpr std::size_t kLongestArgument = 131071;
#endif

}  // namespace lumivale::platform_constants
