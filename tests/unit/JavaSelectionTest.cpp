// The Java a launch uses.
#include <gtest/gtest.h>

#include "JavaSelection.h"
#include "Paths.h"
#include "TempHome.h"

namespace lumivale {
namespace {

const std::vector<JavaInstall> kList = {
    {R"(openjdk version "21.0.1" 2023-10-17)", "/jdk/21/bin/java", false},
    {R"(openjdk version "17.0.9" 2023-10-17)", "/jdk/17/bin/java", false},
    {R"(java version "1.8.0_392")", "/jdk/8/bin/java", true},
};

CoreEntry Core(const std::string& name, const std::string& real) { return {name, "/v/" + name, "/v/x.jar", real}; }

TEST(JavaSelection, AutoTakesTheFirstJavaOfExactlyTheRequiredMajor) {
    const auto modern = ChooseJavaForCore("auto", kList, Core("1.20.6", "1.20.6"));
    EXPECT_TRUE(modern.ok);
    EXPECT_EQ(modern.javaPath, "/jdk/21/bin/java");
    EXPECT_EQ(modern.message, "已为版本 1.20.6 自动选择推荐 Java");
    EXPECT_EQ(ChooseJavaForCore("auto", kList, Core("x", "1.20.5")).javaPath, "/jdk/17/bin/java");
    EXPECT_EQ(ChooseJavaForCore("auto", kList, Core("x", "1.12.2")).javaPath, "/jdk/8/bin/java");
    // No version text: the folder name decides and names itself in the message.
    const auto byName = ChooseJavaForCore("auto", kList, Core("my pack", ""));
    EXPECT_EQ(byName.javaPath, "/jdk/17/bin/java");
    EXPECT_EQ(byName.message, "已为版本 my pack 自动选择推荐 Java");
}

TEST(JavaSelection, AutoWithoutAMatchingMajorNamesTheJavaNeeded) {
    const std::vector<JavaInstall> only17 = {kList[1]};
    EXPECT_EQ(ChooseJavaForCore("auto", only17, Core("1.16.5", "1.16.5")).message,
              "未找到适合版本 1.16.5 的 Java 8（1.8.0），请先安装对应 Java 或到设置里手动选择");
    EXPECT_EQ(ChooseJavaForCore("auto", only17, Core("24w14a", "24w14a")).message,
              "未找到适合版本 24w14a 的 Java 21，请先安装对应 Java 或到设置里手动选择");
    EXPECT_FALSE(ChooseJavaForCore("auto", {}, Core("1.20.1", "1.20.1")).ok);
    EXPECT_EQ(ChooseJavaForCore("auto", {}, Core("1.20.1", "1.20.1")).message,
              "未找到适合版本 1.20.1 的 Java 17，请先安装对应 Java 或到设置里手动选择");
}

TEST(JavaSelection, AnExplicitJavaIsUsedWhenListedOrPresentWhateverTheVersion) {
    // Listed (letter case aside) but gone from disk: still accepted.
    const auto listed = ChooseJavaForCore("/JDK/8/BIN/JAVA", kList, Core("1.20.6", "1.20.6"));
    EXPECT_TRUE(listed.ok);
    EXPECT_EQ(listed.javaPath, "/JDK/8/BIN/JAVA");
    EXPECT_EQ(listed.message, "已使用你选择的 Java 启动");

    test::TempHome home;
    const auto file = home.root() / "java";
    test::WriteFile(file, "");
    EXPECT_TRUE(ChooseJavaForCore(PathUtf8(file), {}, Core("1.12.2", "1.12.2")).ok);
    const auto folder = ChooseJavaForCore(PathUtf8(home.root()), {}, Core("1.12.2", "1.12.2"));
    EXPECT_FALSE(folder.ok);
    EXPECT_EQ(folder.message, "你选择的 Java 已不存在或不可用（" + PathUtf8(home.root()) +
                                  "），请到 设置 - Java 运行环境 重新选择");
}

}  // namespace
}  // namespace lumivale
