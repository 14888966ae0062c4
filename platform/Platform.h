#pragma once
// What differs between the operating systems in a game's command line and files.
namespace lumivale::platform_constants {

#if defined(_WIN32)
inline constexpr const char* kJavaExecutable = "java.exe";
inline constexpr const char* kNativesClassifier = "natives-windows";
inline constexpr const char* kOsName = "windows";
inline constexpr char kClassPathSeparator = ';';
inline constexpr char kDirectorySeparator = '\\';
#else
inline constexpr const char* kJavaExecutable = "java";
inline constexpr const char* kNativesClassifier = "natives-linux";
inline constexpr const char* kOsName = "linux";
inline constexpr char kClassPathSeparator = ':';
inline constexpr char kDirectorySeparator = '/';
#endif

}  // namespace lumivale::platform_constants
