// Game cores found on disk, their real versions, and the Java each needs.
#include <gtest/gtest.h>

#include <filesystem>

#include "CoreCatalogue.h"
#include "Paths.h"
#include "Settings.h"
#include "TempHome.h"
#include "VersionRules.h"

namespace lumivale {
namespace {

using test::TempHome;
using test::WriteFile;
namespace fs = std::filesystem;

constexpr std::uintmax_t kMiB = 1024 * 1024;

// A jar of the given size (sparse: nothing is really written).
void MakeJar(const fs::path& file, std::uintmax_t size) {
    WriteFile(file, "");
    fs::resize_file(file, size);
}

fs::path Versions(const TempHome& home) { return home.program() / ".minecraft" / "versions"; }

TEST(VersionRules, RequiredJavaMajorAcrossGameVersions) {
    EXPECT_EQ(RequiredJavaMajor("1.12.2"), 8);
    EXPECT_EQ(RequiredJavaMajor("1.16.5"), 8);
    EXPECT_EQ(RequiredJavaMajor("1.17"), 17);
    EXPECT_EQ(RequiredJavaMajor("1.19.4"), 17);
    EXPECT_EQ(RequiredJavaMajor("1.20.4"), 17);
    EXPECT_EQ(RequiredJavaMajor("1.20.5"), 17);
    EXPECT_EQ(RequiredJavaMajor("1.20.6"), 21);
    EXPECT_EQ(RequiredJavaMajor("1.21"), 21);
    EXPECT_EQ(RequiredJavaMajor("Fabric 1.21.1"), 21);
    EXPECT_EQ(RequiredJavaMajor("24w14a"), 21);  // a snapshot's year reads as major 24
    EXPECT_EQ(RequiredJavaMajor("no digits here"), 17);
    EXPECT_EQ(RequiredJavaMajor("0.30"), 17);  // a leading 0 is no major
    EXPECT_EQ(RequiredJavaMajor(""), 17);
}

TEST(VersionRules, ParseVersionAndJavaMajorOfDisplayNames) {
    VersionTriple v;
    EXPECT_TRUE(ParseVersion("forge-1.20.1-47.2.0", v));
    EXPECT_EQ(v.major, 1);
    EXPECT_EQ(v.minor, 20);
    EXPECT_EQ(v.patch, 1);
    EXPECT_TRUE(ParseVersion("1.", v));
    EXPECT_EQ(v.minor, 0);
    EXPECT_FALSE(ParseVersion("0.0.5", v));  // neither major nor minor
    EXPECT_FALSE(ParseVersion("snapshot", v));
    EXPECT_TRUE(ParseVersion("99999999999999999999.1", v));  // saturates, does not overflow
    EXPECT_GT(v.major, 0);

    EXPECT_EQ(JavaMajorOf(R"(java version "1.8.0_392")"), 8);
    EXPECT_EQ(JavaMajorOf(R"(openjdk version "17.0.9" 2023-10-17)"), 17);
    EXPECT_EQ(JavaMajorOf(R"(openjdk version "21" 2023-09-19)"), 21);
    EXPECT_EQ(JavaMajorOf("java"), 0);
}

TEST(CoreCatalogue, RealVersionPrefersClientVersionThenIdThenFolderName) {
    TempHome home;
    const fs::path folder = home.root() / "Fabric 1.21";
    WriteFile(folder / "Fabric 1.21.json", R"({"id":"fabric-loader-1.21","clientVersion":"1.21"})");
    EXPECT_EQ(RealVersion(PathUtf8(folder), "Fabric 1.21.jar", "Fabric 1.21"), "1.21");

    // The JSON named after the jar wins over the one named after the folder.
    WriteFile(folder / "client.json", R"({"id":"1.20.6"})");
    EXPECT_EQ(RealVersion(PathUtf8(folder), "client.JAR", "Fabric 1.21"), "1.20.6");

    // A damaged JSON (here with a byte order mark before garbage) falls back to the folder name.
    const fs::path broken = home.root() / "1.20";
    WriteFile(broken / "1.20.json", "\xEF\xBB\xBF{not json");
    EXPECT_EQ(RealVersion(PathUtf8(broken), "1.20.jar", "1.20"), "1.20");
    EXPECT_EQ(RealVersion(PathUtf8(broken), "x.jar", "1.20.5"), "1.20.5");
    EXPECT_EQ(RealVersion(PathUtf8(broken), "x.jar", "my pack"), "");

    // A byte order mark before valid JSON is no obstacle.
    const fs::path marked = home.root() / "marked";
    WriteFile(marked / "marked.json", "\xEF\xBB\xBF{\"id\":\"1.12.2\"}");
    EXPECT_EQ(RealVersion(PathUtf8(marked), "marked.jar", "marked"), "1.12.2");
}

TEST(CoreCatalogue, ScanListsFoldersWithALargeJarAndFillsAnEmptySelection) {
    TempHome home;
    const fs::path versions = Versions(home);
    MakeJar(versions / "1.20.1" / "1.20.1.jar", 25 * kMiB);
    WriteFile(versions / "1.20.1" / "1.20.1.json", R"({"id":"1.20.1"})");
    MakeJar(versions / "Fabric 1.21" / "Fabric 1.21.jar", 20 * kMiB);
    WriteFile(versions / "Fabric 1.21" / "Fabric 1.21.json", R"({"clientVersion":"1.21"})");
    MakeJar(versions / "small" / "small.jar", 9 * kMiB);
    MakeJar(versions / "exactly" / "exactly.jar", 10 * kMiB);  // 10 MiB is not above 10 MiB
    MakeJar(versions / "我的整合包" / "client.jar", 11 * kMiB);
    MakeJar(versions / "notes.jar", 30 * kMiB);  // a file, not a folder
    fs::create_directories(versions / "empty");

    Settings settings;
    ScanCores(settings);
    ASSERT_EQ(settings.cores.size(), 3u);
    std::map<std::string, CoreEntry> byName;
    for (const auto& core : settings.cores) byName[core.name] = core;
    EXPECT_EQ(byName["1.20.1"].realVersion, "1.20.1");
    EXPECT_EQ(byName["1.20.1"].folder, PathUtf8(versions / "1.20.1"));
    EXPECT_EQ(byName["1.20.1"].jar, PathUtf8(versions / "1.20.1" / "1.20.1.jar"));
    EXPECT_EQ(RequiredJavaMajor(byName["1.20.1"].realVersion), 17);
    EXPECT_EQ(byName["Fabric 1.21"].realVersion, "1.21");
    EXPECT_EQ(RequiredJavaMajor(byName["Fabric 1.21"].realVersion), 21);
    EXPECT_EQ(byName["我的整合包"].realVersion, "");
    EXPECT_EQ(RequiredJavaMajor(byName["我的整合包"].realVersion), 17);
    EXPECT_EQ(settings.selectedCore, settings.cores.front().folder);

    // A chosen core is kept by the next scan.
    settings.selectedCore = byName["Fabric 1.21"].folder;
    ScanCores(settings);
    EXPECT_EQ(settings.selectedCore, byName["Fabric 1.21"].folder);
}

TEST(CoreCatalogue, FirstLargeJarIsTheCoreAndAMissingVersionsFolderEmptiesTheList) {
    TempHome home;
    const fs::path folder = Versions(home) / "two jars";
    MakeJar(folder / "a.jar", 12 * kMiB);
    MakeJar(folder / "b.jar", 12 * kMiB);
    Settings settings;
    ScanCores(settings);
    ASSERT_EQ(settings.cores.size(), 1u);
    // Whichever comes first in the folder's own listing.
    const fs::path first = fs::directory_iterator(folder)->path();
    EXPECT_EQ(settings.cores[0].jar, PathUtf8(first));

    fs::remove_all(Versions(home));
    settings.selectedCore = "kept";
    ScanCores(settings);
    EXPECT_TRUE(settings.cores.empty());
    EXPECT_EQ(settings.selectedCore, "kept");
}

}  // namespace
}  // namespace lumivale
