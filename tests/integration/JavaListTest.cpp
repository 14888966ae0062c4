// The Java list as the page sees it: found at start, and grown by the player's own folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "Subprocess.h"
#include "TempHome.h"

namespace lumivale::test {
namespace {

namespace fs = std::filesystem;

// A stand-in runtime: a script that answers "-version" like a JDK does, on stderr.
fs::path FakeJava(const fs::path& home, const std::string& banner) {
    const fs::path java = home / "bin" / "java";
    WriteFile(java, "#!/bin/sh\necho '" + banner + "' >&2\necho 'OpenJDK Runtime Environment' >&2\n");
    fs::permissions(java, fs::perms::owner_all);
    return java;
}

TEST(JavaList, StartFindsJavaHomeFirstAndBrowseAddsAFolderOrSaysWhyNot) {
    TempHome home;
    const fs::path jdk21 = FakeJava(home.root() / "jdk-21", R"(openjdk version "21.0.1" 2023-10-17)");
    const fs::path mine = FakeJava(home.root() / "my java", R"(java version "1.8.0_392")");

    Subprocess launcher(LUMIVALE_EXE, {"--headless", "--home", home.program().string()},
                        {"XDG_DATA_HOME=" + home.data().string(),
                         "JAVA_HOME=" + (home.root() / "jdk-21").string()});
    launcher.Send(R"({"type":"sys:init"})");
    const std::string javaList = launcher.ReadLine().value_or("");
    EXPECT_TRUE(javaList.starts_with(R"({"type":"sys:java","list":[{"name":"openjdk version \"21.0.1\" 2023-10-17","value":")" +
                                     jdk21.string() + R"("})"))
        << javaList;
    launcher.ReadLine();  // sys:cores
    launcher.ReadLine();  // sys:memory

    // A cancelled picker does nothing; a folder without java says so.
    launcher.Send(R"({"type":"java:browse"})");
    EXPECT_EQ(launcher.ReadLine().value_or(""),
              R"({"type":"host:pick","kind":"folder","title":"请选择 bin 的文件夹目录"})");
    launcher.Send(R"({"type":"host:picked","path":""})");
    launcher.Send(R"({"type":"java:browse"})");
    EXPECT_EQ(launcher.ReadLine().value_or("").substr(0, 18), R"({"type":"host:pick)");
    launcher.Send(R"({"type":"host:picked","path":")" + home.root().string() + R"("})");
    EXPECT_EQ(launcher.ReadLine().value_or(""), R"({"type":"game:error","reason":"该目录未找到 java.exe"})");

    // The player's own bin folder: listed after what discovery found, and chosen.
    launcher.Send(R"({"type":"java:browse"})");
    launcher.ReadLine();
    launcher.Send(R"({"type":"host:picked","path":")" + mine.parent_path().string() + R"(/"})");
    const std::string grown = launcher.ReadLine().value_or("");
    EXPECT_TRUE(grown.starts_with(R"({"type":"sys:java","list":[{"name":"openjdk version)")) << grown;
    EXPECT_TRUE(grown.ends_with(R"({"name":"java version \"1.8.0_392\"","value":")" + mine.string() +
                                R"("}]})"))
        << grown;

    launcher.CloseInput();
    EXPECT_EQ(launcher.Wait(), 0);
    const std::string config = ReadFile(home.config());
    EXPECT_NE(config.find("selected_java=" + mine.string() + "\n"), std::string::npos) << config;
    EXPECT_NE(config.find("_exe=" + mine.string() + "\n"), std::string::npos);
}

}  // namespace
}  // namespace lumivale::test
