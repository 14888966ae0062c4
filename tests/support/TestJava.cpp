#include "TestJava.h"

#include <cstdlib>
#include <random>

#include "Hash.h"
#include "TempHome.h"
#include "ZipWriter.h"

namespace lumivale::test {

namespace fs = std::filesystem;

bool HasTestJdk() { return fs::exists(fs::path(kTestJdk) / "bin" / "javac"); }

bool CompileJava(const fs::path& folder, const std::vector<std::pair<std::string, std::string>>& sources) {
    std::string command = std::string(kTestJdk) + "/bin/javac -d '" + folder.string() + "'";
    for (const auto& [name, source] : sources) {
        const fs::path file = folder / (name + ".java");
        WriteFile(file, source);
        command += " '" + file.string() + "'";
    }
    return std::system(command.c_str()) == 0;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937_64 random(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    return bytes;
}

std::string CoreJarBytes(const fs::path& scratch, const std::string& gameClass, unsigned seed) {
    return ZipBytes(scratch, {{"Game.class", gameClass}, {"padding.bin", RandomBytes(11u << 20, seed)}});
}

std::string ZipBytes(const fs::path& scratch, const std::vector<std::pair<std::string, std::string>>& entries) {
    WriteZip(scratch, entries);
    return ReadFile(scratch);
}

std::string Sha1OfBytes(const std::string& bytes) {
    Digest digest(DigestKind::Sha1);
    digest.Update(bytes);
    return digest.FinishHex();
}

std::string Sha256OfBytes(const std::string& bytes) {
    Digest digest(DigestKind::Sha256);
    digest.Update(bytes);
    return digest.FinishHex();
}

}  // namespace lumivale::test
