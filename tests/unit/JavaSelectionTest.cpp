// The Java a launch uses: the player's own choice, or the first of the major the game needs.
#include <gtest/gtest.h>

#include "JavaSelection.h"
#include "LaunchTestKit.h"

namespace lumivale::test {
namespace {

TEST(JavaSelection, AutoTakesTheFirstJavaOfTheRequiredMajorAndAnExplicitOneWhenListedOrPresent) {
    const std::vector<JavaInstall> list = {{R"(openjdk version "21.0.1")", "/jdk/21/bin/java", false},
                                           {R"(openjdk version "17.0.9")", "/jdk/17/bin/java", false},
                                           {R"(openjdk version "17.0.1")", "/jdk/17b/bin/java", false},
                                           {R"(java version "1.8.0_392")", "/jdk/8/bin/java", true}};
    const auto core = [](const std::string& name, const std::string& real) { return CoreEntry{name, "/v/" + name, "/v/x.jar", real}; };
    const std::vector<std::tuple<std::string, std::string, std::string>> autoCases = {
        {"1.20.6", "1.20.6", "/jdk/21/bin/java"}, {"x", "1.20.5", "/jdk/17/bin/java"},
        {"x", "1.12.2", "/jdk/8/bin/java"},       {"my pack", "", "/jdk/17/bin/java"}};  // no version: the name decides
    for (const auto& [name, real, java] : autoCases) {
        const JavaChoice choice = ChooseJavaForCore("auto", list, core(name, real));
        EXPECT_TRUE(choice.ok);
        EXPECT_EQ(choice.javaPath, java) << real;
        EXPECT_EQ(choice.message, "已为版本 " + (real.empty() ? name : real) + " 自动选择推荐 Java");
    }
    EXPECT_EQ(ChooseJavaForCore("auto", {list[1]}, core("1.16.5", "1.16.5")).message,
              "未找到适合版本 1.16.5 的 Java 8（1.8.0），请先安装对应 Java 或到设置里手动选择");

    // Listed (letter case aside) though gone from disk, or present though unlisted: used as it is.
    const JavaChoice listed = ChooseJavaForCore("/JDK/8/BIN/JAVA", list, core("1.20.6", "1.20.6"));
    EXPECT_TRUE(listed.ok);
    EXPECT_EQ(listed.javaPath, "/JDK/8/BIN/JAVA");
    TempHome home;
    WriteFile(home.root() / "java", "");
    EXPECT_TRUE(ChooseJavaForCore(PathUtf8(home.root() / "java"), {}, core("1.12.2", "1.12.2")).ok);
    EXPECT_FALSE(ChooseJavaForCore(PathUtf8(home.root()), {}, core("1.12.2", "1.12.2")).ok);  // a folder
}

}  // namespace
}  // namespace lumivale::test
