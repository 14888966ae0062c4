#pragma once
// Small Java programs for tests (a fake game, a fake installer), compiled with the machine's JDK,
// and the filler that makes a jar big enough for the launcher to count it as a game core.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace lumivale::test {

inline constexpr const char* kTestJdk = "/usr/lib/jvm/java-17-openjdk-amd64";

bool HasTestJdk();

// Writes each (class name, source) as <name>.java into `folder` and compiles them together into
// the same folder; false when javac fails.
bool CompileJava(const std::filesystem::path& folder, const std::vector<std::pair<std::string, std::string>>& sources);

// Reproducible incompressible bytes; different seeds give different bytes.
std::string RandomBytes(std::size_t size, unsigned seed = 42);

// The bytes of a jar holding `gameClass` as Game.class plus 11 MiB of filler (`seed`).
std::string CoreJarBytes(const std::filesystem::path& scratch, const std::string& gameClass, unsigned seed = 42);

// The bytes of a zip written through `scratch`.
std::string ZipBytes(const std::filesystem::path& scratch, const std::vector<std::pair<std::string, std::string>>& entries);

// Lower-case hex SHA-1 and SHA-256 of some bytes.
std::string Sha1OfBytes(const std::string& bytes);
std::string Sha256OfBytes(const std::string& bytes);

}  // namespace lumivale::test
