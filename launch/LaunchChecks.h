#pragma once
// Checks before a launch, for what the launcher already knows and the crash analysis would only
// find out afterwards: a Java older than the game's class files need, and a memory setting above
// what the machine has or what a 32-bit Java can take. They warn; the game still starts.
#include <cstdint>
#include <string>
#include <vector>

namespace lumivale {

// A 32-bit JVM rarely gets a heap above about 1 GB.
inline constexpr std::uint32_t k32BitJavaHeapMb = 1024;

struct LaunchFacts {
    int javaMajor = 0;                      // release of the chosen Java; 0: unknown
    int javaBits = 0;                       // 32 or 64; 0: unknown
    int requiredJava = 0;                   // release the game's class files need; 0: unknown
    std::uint32_t memoryMb = 0;             // the memory setting
    std::uint64_t physicalMemoryBytes = 0;  // the machine's memory; 0: unknown
};

// One warning text per problem found, none when all is well or unknown.
std::vector<std::string> PreLaunchWarnings(const LaunchFacts& facts);

// 32 or 64 from an executable's ELF or PE header; 0 when it is neither or cannot be read.
int ExecutableBits(const std::string& path);

// The Java release a class file needs (its major version − 44); 0 when `bytes` is no class file.
int JavaOfClassFile(const std::string& bytes);

// The Java release a core needs: javaVersion.majorVersion of its version JSON (or of the one it
// inherits from), else what the main class in the core jar was compiled for; 0 when neither says.
int RequiredJavaOfCore(const std::string& gameRoot, const std::string& coreId, const std::string& coreJar);

}  // namespace lumivale
