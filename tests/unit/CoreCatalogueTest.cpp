// Game cores found on disk, the game version each is based on, and the Java that version needs.
#include <gtest/gtest.h>

#include "CoreCatalogue.h"
#include "LaunchTestKit.h"
#include "Settings.h"
#include "VersionRules.h"

namespace lumivale::test {
namespace {

// A jar of `mib` MiB (sparse: nothing is really written).
void MakeJar(const fs::path& file, std::uintmax_t mib) {
    WriteFile(file, "");
    fs::resize_file(file, mib << 20);
}

TEST(VersionRules, RequiredJavaMajorAcrossGameVersions) {
    const std::vector<std::pair<const char*, int>> cases = {
        {"1.16.5", 8}, {"1.17", 17}, {"1.20.5", 17}, {"1.20.6", 21}, {"1.21", 21}, {"Fabric 1.21.1", 21},
        {"24w14a", 21}, {"no digits", 17}, {"0.30", 17}, {"99999999999999999999.1", 21}};
    for (const auto& [version, major] : cases) EXPECT_EQ(RequiredJavaMajor(version), major) << version;
}

TEST(CoreCatalogue, RealVersionPrefersClientVersionThenIdThenFolderName) {
    TempHome home;
    const fs::path folder = home.root() / "Fabric 1.21";
    WriteFile(folder / "Fabric 1.21.json", R"({"id":"fabric-loader-1.21","clientVersion":"1.21"})");
    EXPECT_EQ(RealVersion(PathUtf8(folder), "Fabric 1.21.jar", "Fabric 1.21"), "1.21");
    WriteFile(folder / "client.json", "\xEF\xBB\xBF{\"id\":\"1.20.6\"}");  // named after the jar, behind a BOM
    EXPECT_EQ(RealVersion(PathUtf8(folder), "client.JAR", "Fabric 1.21"), "1.20.6");
    WriteFile(folder / "broken.json", "{not json");
    EXPECT_EQ(RealVersion(PathUtf8(folder), "broken.jar", "1.20.5"), "1.20.5");
    EXPECT_EQ(RealVersion(PathUtf8(folder), "broken.jar", "my pack"), "");
}

TEST(CoreCatalogue, ScanListsFoldersWithAJarAbove10MiBAndFillsOnlyAnEmptySelection) {
    TempHome home;
    const fs::path versions = home.program() / ".minecraft" / "versions";
    MakeJar(versions / "1.20.1" / "1.20.1.jar", 25);
    WriteFile(versions / "1.20.1" / "1.20.1.json", R"({"id":"1.20.1"})");
    MakeJar(versions / "我的整合包" / "client.jar", 11);
    MakeJar(versions / "exactly" / "exactly.jar", 10);
    MakeJar(versions / "notes.jar", 30);  // a file, not a folder
    Settings settings;
    ScanCores(settings);
    std::map<std::string, CoreEntry> byName;
    for (const auto& core : settings.cores) byName[core.name] = core;
    ASSERT_EQ(byName.size(), 2u);
    EXPECT_EQ(std::tie(byName["1.20.1"].folder, byName["1.20.1"].jar, byName["1.20.1"].realVersion),
              std::make_tuple(PathUtf8(versions / "1.20.1"), PathUtf8(versions / "1.20.1" / "1.20.1.jar"), std::string("1.20.1")));
    EXPECT_EQ(byName["我的整合包"].realVersion, "");
    EXPECT_EQ(settings.selectedCore, settings.cores.front().folder);
    settings.selectedCore = byName["我的整合包"].folder;
    ScanCores(settings);
    EXPECT_EQ(settings.selectedCore, byName["我的整合包"].folder);

    fs::remove_all(versions);
    ScanCores(settings);
    EXPECT_TRUE(settings.cores.empty());
}

}  // namespace
}  // namespace lumivale::test
