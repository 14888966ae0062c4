// Game cores found on disk, the game version each is based on, and the Java a launch of one uses.
#include <gtest/gtest.h>

#include "CoreCatalogue.h"
#include "JavaSelection.h"
#include "LaunchTestKit.h"
#include "Settings.h"

namespace lumivale::test {
namespace {

// A jar of `mib` MiB (sparse: nothing is really written).
void MakeJar(const fs::path& file, std::uintmax_t mib) {
    WriteFile(file, "");
    fs::resize_file(file, mib << 20);
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
    MakeJar(versions / Utf8Path("我的整合包") / "client.jar", 11);
    MakeJar(versions / "exactly" / "exactly.jar", 10);
    MakeJar(versions / "notes.jar", 30);  // a file, not a folder
    // A small jar with a JSON that resolves is a core; one whose parent is missing is not.
    MakeJar(versions / "orphan" / "orphan.jar", 1);
    WriteFile(versions / "orphan" / "orphan.json", R"({"id":"orphan","inheritsFrom":"1.19"})");
    Settings settings;
    ScanCores(settings);
    std::map<std::string, CoreEntry> byName;
    for (const auto& core : settings.cores) byName[core.name] = core;
    ASSERT_EQ(byName.size(), 2u);
    EXPECT_EQ(byName["1.20.1"].jar, PathUtf8(versions / "1.20.1" / "1.20.1.jar"));
    EXPECT_EQ(byName["1.20.1"].realVersion, "1.20.1");
    EXPECT_EQ(settings.selectedCore, settings.cores.front().folder);
    settings.selectedCore = byName["我的整合包"].folder;
    ScanCores(settings);
    EXPECT_EQ(settings.selectedCore, byName["我的整合包"].folder);

    fs::remove_all(versions);
    ScanCores(settings);
    EXPECT_TRUE(settings.cores.empty());
}

TEST(JavaSelection, AutoTakesTheFirstJavaOfTheMajorTheGameNeedsAndAnExplicitOneWhenListedOrPresent) {
    const std::vector<JavaInstall> list = {{R"(openjdk version "21.0.1")", "/jdk/21/bin/java", false},
                                           {R"(openjdk version "17.0.9")", "/jdk/17/bin/java", false},
                                           {R"(openjdk version "17.0.1")", "/jdk/17b/bin/java", false},
                                           {R"(java version "1.8.0_392")", "/jdk/8/bin/java", true}};
    const auto core = [](const std::string& name, const std::string& real, int declared = 0) {
        return CoreEntry{name, "/v", "/v/x.jar", real, declared};
    };
    // The major the version JSON declares decides (16 reads as 17); the version number otherwise.
    const std::vector<std::tuple<std::string, int, std::string>> needs = {
        {"1.12.2", 0, "8"}, {"1.16.5", 0, "8"}, {"1.17", 0, "17"}, {"1.20.5", 0, "17"}, {"1.20.6", 0, "21"},
        {"Fabric 1.21.1", 0, "21"}, {"24w14a", 0, "21"}, {"0.30", 0, "17"}, {"99999999999999999999.1", 0, "21"},
        {"1.12.2", 21, "21"}, {"1.17.1", 16, "17"}, {"rd-132211", 8, "8"}};
    for (const auto& [version, declared, major] : needs) {
        const JavaChoice choice = ChooseJavaForCore("auto", list, core("x", version, declared));
        EXPECT_EQ(std::tie(choice.ok, choice.javaPath, choice.javaMajor),
                  std::make_tuple(true, "/jdk/" + major + "/bin/java", std::stoi(major))) << version;
        EXPECT_EQ(choice.message, "已为版本 " + version + " 自动选择推荐 Java");
    }
    EXPECT_EQ(ChooseJavaForCore("auto", list, core("x", "", 25)).message,
              "未找到适合版本 x 的 Java 25，请在「Java下载」页安装，或到「启动」页手动选择");
    EXPECT_EQ(ChooseJavaForCore("auto", list, core("my pack", "")).message, "已为版本 my pack 自动选择推荐 Java");
    EXPECT_EQ(ChooseJavaForCore("auto", {list[1]}, core("x", "1.16.5")).message,
              "未找到适合版本 1.16.5 的 Java 8（1.8.0），请在「Java下载」页安装，或到「启动」页手动选择");

    // Listed (letter case aside) though gone from disk, or present though unlisted: used as it is.
    const JavaChoice listed = ChooseJavaForCore("/JDK/8/BIN/JAVA", list, core("x", "1.20.6"));
    EXPECT_EQ(std::tie(listed.javaPath, listed.javaMajor), std::make_tuple("/JDK/8/BIN/JAVA", 8));
    TempHome home;
    WriteFile(home.root() / "java", "");
    EXPECT_TRUE(ChooseJavaForCore(PathUtf8(home.root() / "java"), {}, core("x", "1.12.2")).ok);
    EXPECT_FALSE(ChooseJavaForCore(PathUtf8(home.root()), {}, core("x", "1.12.2")).ok);  // a folder
}

}  // namespace
}  // namespace lumivale::test
