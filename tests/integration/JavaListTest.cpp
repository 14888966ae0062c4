// The Java list as the page sees it: found at start, grown by the player's own folder, and the
// Java a chosen core needs picked from it while the choice is automatic.
#include <gtest/gtest.h>

#include "LaunchTestKit.h"

namespace lumivale::test {
namespace {

TEST(JavaList, StartFindsJavaHomeFirstAndBrowseAddsAFolderOrSaysWhyNot) {
    TempHome home;
    const fs::path jdk21 = FakeJava(home.root() / "jdk-21", R"(openjdk version "21.0.1" 2023-10-17)");
    const fs::path mine = FakeJava(home.root() / "my java", R"(java version "1.8.0_392")");
    auto launcher = StartHeadless(home, {"JAVA_HOME=" + (home.root() / "jdk-21").string()});
    launcher->Send(R"({"type":"sys:init"})");
    const std::string found = NextOfType(*launcher, "sys:java");
    EXPECT_TRUE(found.starts_with(R"({"type":"sys:java","list":[{"name":"openjdk version \"21.0.1\" 2023-10-17","value":")" +
                                  jdk21.string() + R"("})")) << found;

    // A cancelled picker does nothing; a folder without java says so.
    for (const std::string& picked : {std::string(), home.root().string()}) {
        launcher->Send(R"({"type":"java:browse"})");
        EXPECT_EQ(NextOfType(*launcher, "host:pick"), R"({"type":"host:pick","kind":"folder","title":"请选择 bin 的文件夹目录"})");
        launcher->Send(R"({"type":"host:picked","path":")" + picked + R"("})");
    }
    EXPECT_EQ(launcher->ReadLine().value_or(""), R"({"type":"game:error","reason":"该目录未找到 java.exe"})");

    // The player's own bin folder: listed after what discovery found, chosen and saved.
    launcher->Send(R"({"type":"java:browse"})");
    launcher->Send(R"({"type":"host:picked","path":")" + mine.parent_path().string() + R"(/"})");
    const std::string grown = NextOfType(*launcher, "sys:java");
    EXPECT_EQ(grown, found.substr(0, found.size() - 2) + R"(,{"name":"java version \"1.8.0_392\"","value":")" + mine.string() +
                         R"("}]})");
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    EXPECT_NE(ReadFile(home.config()).find("selected_java=" + mine.string() + "\n"), std::string::npos) << ReadFile(home.config());
}

TEST(JavaList, ChoosingACoreReportsItAndPicksItsJavaWhileOnAuto) {
    TempHome home;
    const fs::path core = home.program() / ".minecraft" / "versions" / "1.20.1";
    WriteFile(core / "1.20.1.jar", "");
    fs::resize_file(core / "1.20.1.jar", 25u << 20);
    WriteFile(core / "1.20.1.json", R"({"id":"1.20.1"})");
    const fs::path java8 = home.root() / "jdk8/bin/java", java17 = home.root() / "jdk17/bin/java";
    WriteFile(java8, "");
    WriteFile(java17, "");
    WriteFile(home.config(), "[launcher]\nselected_java=auto\n[java]\ncount=2\njava0_name=java version \"1.8.0_392\"\njava0_exe=" +
                                 java8.string() + "\njava0_manual=1\njava1_name=openjdk version \"17.0.9\"\njava1_exe=" +
                                 java17.string() + "\njava1_manual=1\n");
    auto launcher = StartHeadless(home);
    launcher->Send(R"({"type":"sys:init"})");
    EXPECT_EQ(launcher->ReadLine().value_or(""), R"({"type":"sys:java","list":[{"name":"java version \"1.8.0_392\"","value":")" +
                                                     java8.string() + R"("},{"name":"openjdk version \"17.0.9\"","value":")" +
                                                     java17.string() + R"("}]})");
    EXPECT_EQ(launcher->ReadLine().value_or(""),
              R"({"type":"sys:cores","list":[{"name":"1.20.1","value":")" + core.string() + R"(","real":"1.20.1"}]})");

    const std::string choose = R"({"type":"config:set","key":"selected_core","value":")" + core.string() + R"("})";
    launcher->Send(choose);
    EXPECT_EQ(NextOfType(*launcher, "sys:core_info"),
              R"({"type":"sys:core_info","realVersion":"1.20.1","javaMajor":17,"javaDisplay":"openjdk version \"17.0.9\""})");
    EXPECT_EQ(launcher->ReadLine().value_or(""), R"({"type":"sys:select_java","value":")" + java17.string() + R"("})");
    // A core nobody has is not reported; with a Java chosen, no second automatic choice.
    launcher->Send(R"({"type":"config:set","key":"selected_core","value":"/no/such/core"})");
    launcher->Send(choose);
    EXPECT_TRUE(launcher->ReadLine().value_or("").starts_with(R"({"type":"sys:core_info",)"));
    launcher->Send(R"({"type":"game:stop"})");
    EXPECT_EQ(launcher->ReadLine().value_or(""), R"({"type":"game:stopped"})");
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    EXPECT_NE(ReadFile(home.config()).find("selected_java=" + java17.string() + "\n"), std::string::npos);
}

}  // namespace
}  // namespace lumivale::test
