// Cores of the game folder reach the page, and choosing one picks the Java it needs.
#include <gtest/gtest.h>

#include <filesystem>

#include "Subprocess.h"
#include "TempHome.h"

namespace lumivale::test {
namespace {

namespace fs = std::filesystem;

TEST(CoreSelection, ChoosingACoreReportsItAndPicksItsJavaWhileOnAuto) {
    TempHome home;
    const fs::path core = home.program() / ".minecraft" / "versions" / "1.20.1";
    WriteFile(core / "1.20.1.jar", "");
    fs::resize_file(core / "1.20.1.jar", 25u << 20);
    WriteFile(core / "1.20.1.json", R"({"id":"1.20.1"})");
    const fs::path java8 = home.root() / "jdk8" / "bin" / "java";
    const fs::path java17 = home.root() / "jdk17" / "bin" / "java";
    WriteFile(java8, "");
    WriteFile(java17, "");
    WriteFile(home.config(),
              "[launcher]\nselected_java=auto\n"
              "[java]\ncount=2\n"
              "java0_name=java version \"1.8.0_392\"\njava0_exe=" + java8.string() + "\njava0_manual=1\n"
              "java1_name=openjdk version \"17.0.9\" 2023-10-17\njava1_exe=" + java17.string() +
              "\njava1_manual=1\n");

    Subprocess launcher(LUMIVALE_EXE, {"--headless", "--home", home.program().string()},
                        {"XDG_DATA_HOME=" + home.data().string()});
    launcher.Send(R"({"type":"sys:init"})");
    EXPECT_EQ(launcher.ReadLine().value_or(""),
              R"({"type":"sys:java","list":[{"name":"java version \"1.8.0_392\"","value":")" +
                  java8.string() + R"("},{"name":"openjdk version \"17.0.9\" 2023-10-17","value":")" +
                  java17.string() + R"("}]})");
    EXPECT_EQ(launcher.ReadLine().value_or(""),
              R"({"type":"sys:cores","list":[{"name":"1.20.1","value":")" + core.string() +
                  R"(","real":"1.20.1"}]})");
    launcher.ReadLine();  // sys:memory

    launcher.Send(R"({"type":"config:set","key":"selected_core","value":")" + core.string() + R"("})");
    EXPECT_EQ(launcher.ReadLine().value_or(""),
              R"({"type":"sys:core_info","realVersion":"1.20.1","javaMajor":17,)"
              R"("javaDisplay":"openjdk version \"17.0.9\" 2023-10-17"})");
    EXPECT_EQ(launcher.ReadLine().value_or(""),
              R"({"type":"sys:select_java","value":")" + java17.string() + R"("})");

    // A core nobody has is not reported; with a Java chosen, no second automatic choice.
    launcher.Send(R"({"type":"config:set","key":"selected_core","value":"/no/such/core"})");
    launcher.Send(R"({"type":"config:set","key":"selected_core","value":")" + core.string() + R"("})");
    EXPECT_TRUE(launcher.ReadLine().value_or("").starts_with(R"({"type":"sys:core_info",)"));
    launcher.Send(R"({"type":"game:stop"})");
    EXPECT_EQ(launcher.ReadLine().value_or(""), R"({"type":"game:stopped"})");

    launcher.CloseInput();
    EXPECT_EQ(launcher.Wait(), 0);
    EXPECT_NE(ReadFile(home.config()).find("selected_java=" + java17.string() + "\n"),
              std::string::npos);
}

}  // namespace
}  // namespace lumivale::test
