#include "LaunchChecks.h"

#include <algorithm>
#include <fstream>

#include "Paths.h"
#include "VersionManifest.h"
#include "ZipArchive.h"

namespace lumivale {

namespace {

constexpr std::uint64_t kMaxClassFileBytes = 4U << 20;

std::uint32_t Little(const std::string& bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

int MajorVersionOf(const nlohmann::json& document) {
    const auto java = document.find("javaVersion");
    if (java == document.end() || !java->is_object()) return 0;
    const auto major = java->find("majorVersion");
    return major != java->end() && major->is_number_integer() ? major->get<int>() : 0;
}

}  // namespace

std::vector<std::string> PreLaunchWarnings(const LaunchFacts& facts) {
    std::vector<std::string> warnings;
    if (facts.javaMajor > 0 && facts.requiredJava > facts.javaMajor) {
        warnings.push_back("当前选择的 Java " + std::to_string(facts.javaMajor) + " 比这个版本需要的 Java " +
                           std::to_string(facts.requiredJava) + " 旧，游戏多半无法启动。请在启动设置里换成 Java " +
                           std::to_string(facts.requiredJava) + " 或更新的版本。");
    }
    const std::uint64_t physicalMb = facts.physicalMemoryBytes >> 20;
    if (physicalMb > 0 && facts.memoryMb > physicalMb) {
        warnings.push_back("分配内存 " + std::to_string(facts.memoryMb) + " MB 超过了这台电脑的内存（" +
                           std::to_string(physicalMb) + " MB），游戏可能无法启动或非常卡顿。请在启动设置里调低分配内存。");
    }
    if (facts.javaBits == 32 && facts.memoryMb > k32BitJavaHeapMb) {
        warnings.push_back("当前选择的是 32 位 Java，它最多只能使用约 1 GB 内存，而分配内存是 " +
                           std::to_string(facts.memoryMb) + " MB，游戏多半无法启动。请改用 64 位 Java，或把分配内存调到 " +
                           std::to_string(k32BitJavaHeapMb) + " MB 以下。");
    }
    return warnings;
}

int ExecutableBits(const std::string& path) {
    std::ifstream in(Utf8Path(path), std::ios::binary);
    std::string header(512, '\0');
    in.read(header.data(), static_cast<std::streamsize>(header.size()));
    header.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    if (header.size() >= 5 && header.starts_with("\x7F" "ELF")) {
        return header[4] == 1 ? 32 : header[4] == 2 ? 64 : 0;  // EI_CLASS
    }
    if (header.size() < 0x40 || !header.starts_with("MZ")) return 0;
    const std::size_t pe = Little(header, 0x3C, 4);
    // The optional header's magic follows the 4-byte signature and the 20-byte file header.
    if (pe > header.size() - 26 || header.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return 0;
    const std::uint32_t magic = Little(header, pe + 24, 2);
    return magic == 0x10B ? 32 : magic == 0x20B ? 64 : 0;
}

int JavaOfClassFile(const std::string& bytes) {
    if (bytes.size() < 8 || !bytes.starts_with("\xCA\xFE\xBA\xBE")) return 0;
    const int major = (static_cast<unsigned char>(bytes[6]) << 8) | static_cast<unsigned char>(bytes[7]);
    return major >= 49 ? major - 44 : 0;
}

int RequiredJavaOfCore(const std::string& gameRoot, const std::string& coreId, const std::string& coreJar) {
    const nlohmann::json core = loadJsonFile(versionJsonPath(gameRoot, coreId));
    if (!core.is_object()) return 0;
    nlohmann::json parent;
    if (const auto inherits = core.find("inheritsFrom"); inherits != core.end() && inherits->is_string()) {
        parent = loadJsonFile(versionJsonPath(gameRoot, inherits->get<std::string>()));
    }
    if (const int major = MajorVersionOf(core); major > 0) return major;
    if (const int major = parent.is_object() ? MajorVersionOf(parent) : 0; major > 0) return major;

    const auto mainClass = core.find("mainClass");
    if (mainClass == core.end() || !mainClass->is_string() || coreJar.empty()) return 0;
    std::string entry = mainClass->get<std::string>();
    std::replace(entry.begin(), entry.end(), '.', '/');
    const auto jar = ZipArchive::Open(Utf8Path(coreJar));
    if (!jar) return 0;
    const auto index = jar->Find(entry + ".class");
    const auto info = index ? jar->At(*index) : std::nullopt;
    if (!info || info->size > kMaxClassFileBytes) return 0;
    const auto bytes = jar->Read(*index);
    return bytes ? JavaOfClassFile(*bytes) : 0;
}

}  // namespace lumivale
