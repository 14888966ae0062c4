// Java discovery on a tree of stand-in runtimes: scripts that answer like a JVM, or never do.
#include <gtest/gtest.h>

#include <chrono>

#include "JavaDiscovery.h"
#include "LaunchTestKit.h"
#include "Process.h"

namespace lumivale::test {
namespace {

using namespace std::chrono_literals;

const std::string kBanner17 = R"(openjdk version "17.0.9" 2023-10-17)";
const std::string kBanner21 = R"(openjdk version "21.0.1" 2023-10-17)";
const std::string kBanner8 = R"(java version "1.8.0_392")";
constexpr CaptureLimits kQuickLimits{3s, 1s};  // for runtimes that never end

class JavaDiscoveryTest : public ::testing::Test {
protected:
    fs::path Script(const std::string& relative, const std::string& body) const {
        const fs::path file = tree_ / relative;
        WriteFile(file, "#!/bin/sh\n" + body + "\n");
        fs::permissions(file, fs::perms::owner_all);
        return file;
    }
    static std::string Text(const fs::path& path) { return PathUtf8(path); }

    TempHome home_;
    fs::path tree_ = home_.root() / "java tree 测试";  // nothing may split or re-encode it
};

TEST_F(JavaDiscoveryTest, ProbesNameARuntimeByItsFirstLineElseByItsFolder) {
    const std::vector<std::pair<std::string, std::string>> lines = {
        {kBanner17 + "\nOpenJDK Runtime Environment\n", kBanner17}, {" \t" + kBanner8 + " \r\nJava(TM) SE\r\n", kBanner8},
        {"Picked up JAVA_TOOL_OPTIONS: -Dx\nNOTE: Picked up JDK_JAVA_OPTIONS: -Dy\n" + kBanner21, kBanner21},
        {"版本 \xff\"17\"\n", "版本 \xEF\xBF\xBD\"17\""}, {"\r\n", ""}};
    for (const auto& [output, line] : lines) EXPECT_EQ(javaVersionLine(output), line) << output;

    const std::vector<std::pair<std::string, std::string>> probes = {  // what a runtime does, the name it gets
        {"echo '" + kBanner17 + "' >&2", kBanner17}, {"echo '" + kBanner8 + "' >&2\nexec >&- 2>&-\nexec sleep 300", kBanner8},
        {"echo; echo '  ' >&2", "Java (bin)"}, {"sleep 300", "Java (bin)"}};
    for (std::size_t i = 0; i < probes.size(); ++i) {
        const fs::path java = Script("p" + std::to_string(i) + "/bin/java", probes[i].first);
        EXPECT_EQ(probeJavaVersion(Text(java), kQuickLimits), probes[i].second) << i;
    }
    WriteFile(tree_ / "测试" / "java", "not a program");
    EXPECT_EQ(probeJavaVersion(Text(tree_ / "测试" / "java"), kQuickLimits), "Java (测试)");
}

TEST_F(JavaDiscoveryTest, ScanFollowsTheSourcesListsEachRuntimeOnceAndKeepsManualEntries) {
    const auto java = [&](const std::string& home, const std::string& banner) {
        return Script(home + "/bin/java", "echo '" + banner + "' >&2\necho 'OpenJDK Runtime Environment' >&2");
    };
    const fs::path javaHome = tree_ / "home jdk", rootA = tree_ / "jvm";
    java("home jdk", kBanner21);
    Script("jvm/hang/bin/java", "sleep 300");
    const fs::path jdk17 = java("jvm/jdk-17", kBanner17), jre8 = java("jvm/jre-8", kBanner8);
    fs::create_directories(rootA / "dir-java" / "bin" / "java");
    fs::create_directory_symlink(rootA / "jdk-17", rootA / "a-link");  // links come after real folders
    // PATH: JAVA_HOME's bin again, one found only there, and a link to jdk-17 as /usr/bin/java is.
    const fs::path pathOnly = java("path only", R"(openjdk version "11.0.21")");
    fs::create_directories(tree_ / "usr" / "bin");
    fs::create_symlink(jdk17, tree_ / "usr" / "bin" / "java");
    const fs::path kept = java("mine", "not read again"), deleted = java("deleted", kBanner17);

    JavaSearch search;
    search.javaHome = Text(javaHome) + "/";
    search.folderRoots = {Text(rootA), Text(tree_ / "no such root")};
    search.pathVariable = Text(javaHome / "bin") + ":relative:" + Text(pathOnly.parent_path()) + ":" + Text(tree_ / "usr/bin");
    const std::vector<JavaInstall> current = {{"gone", Text(tree_ / "gone/bin/java"), true}, {"saved name", Text(kept), true},
                                              {"saved", Text(deleted), true}, {"manual twin", Text(jdk17), true},
                                              {"saved twice", Text(kept), true}};
    fs::remove(deleted);

    const std::vector<JavaInstall> list = scanJava(current, search, kQuickLimits);
    const std::vector<JavaInstall> expected = {{kBanner21, Text(javaHome / "bin/java"), false},
                                               {"Java (bin)", Text(rootA / "hang/bin/java"), false},
                                               {kBanner17, Text(jdk17), false},
                                               {kBanner8, Text(jre8), false},
                                               {R"(openjdk version "11.0.21")", Text(pathOnly), false},
                                               {"saved name", Text(kept), true}};
    ASSERT_EQ(list.size(), expected.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(std::tie(list[i].name, list[i].exe, list[i].manual),
                  std::tie(expected[i].name, expected[i].exe, expected[i].manual)) << i;
    }
    fs::remove(kept);
    EXPECT_EQ(scanJava(list, search, kQuickLimits).size(), expected.size() - 1);

    // Adding a known runtime under another path gives the entry already listed.
    std::vector<JavaInstall> grown = list;
    EXPECT_EQ(addJavaCandidate(grown, Text(rootA / "a-link/bin/../bin/java"), true, kQuickLimits), 2);
    EXPECT_EQ(addJavaCandidate(grown, Text(rootA / "dir-java/bin/java"), true, kQuickLimits), -1);
    EXPECT_EQ(grown.size(), list.size());
}

TEST(JavaListCheck, StartUpRescansWhenANameIsNoVersionBannerAndAnEmptySelectionBecomesAuto) {
    EXPECT_FALSE(javaListNeedsRescan({{kBanner17, "/a", false}, {"version", "/b", true}}));
    for (const char* name : {"Java (bin)", "Version 17", "versio"}) EXPECT_TRUE(javaListNeedsRescan({{name, "/a"}})) << name;
    std::string selected;  // what the page shows for it, never a path the page does not show
    EXPECT_TRUE(fillSelectedJava(selected, {{kBanner17, "/a", false}, {kBanner8, "/b", false}}));
    EXPECT_EQ(selected, "auto");
    EXPECT_FALSE(fillSelectedJava(selected, {}));
}

}  // namespace
}  // namespace lumivale::test
