// Downloadable runtimes end to end: the reference backend's catalogue, loopback packages, a Java 21 core launched.
#include <gtest/gtest.h>

#include <chrono>

#include "BackendServer.h"
#include "LaunchTestKit.h"
#include "TarWriter.h"
#include "TestHttpServer.h"
#include "TestJava.h"

namespace lumivale::test {
namespace {

std::string Event(const std::string& name, const std::string& phase, int percent, const std::string& text) {
    return R"({"type":"java:progress","name":")" + name + R"(","phase":")" + phase + R"(","percent":)" + std::to_string(percent) +
           R"(,"text":")" + text + R"("})";
}

// The progress events of one installation, up to its "done" or "error".
Strings Progress(Subprocess& launcher, Strings* others = nullptr) {
    Strings events = {NextOfType(launcher, "java:progress", others)};
    const auto phase = [&] { return ReadTextField(events.back(), "phase"); };
    while (!events.back().empty() && phase() != "done" && phase() != "error") {
        events.push_back(NextOfType(launcher, "java:progress", others));
    }
    return events;
}

TEST(JavaInstall, EachPackageEndsWithItsOwnPhaseAndTheGoodOneIsListedChosenAndRunsAJava21Core) {
    if (!HasTestJdk()) GTEST_SKIP() << "no JDK 17 here";
    TempHome home;
    // A runtime that says it is Java 21 and runs programs with the machine's JDK.
    const std::string java21 = "#!/bin/sh\nif [ \"$1\" = \"-version\" ]; then\n  echo 'openjdk version \"21.0.2\" 2024-01-16' >&2\n"
                               "  exit 0\nfi\nexec " + std::string(kTestJdk) + "/bin/java \"$@\"\n";
    const auto tarGz = [&](const TarEntry& extra) {  // a runtime and one more entry
        WriteTarGz(home.root() / "scratch.tar.gz", {TarEntry::File("bin/java", java21, 0755), extra});
        return TestReply::Ok(ReadFile(home.root() / "scratch.tar.gz"));
    };
    TestHttpServer packages;
    packages.Serve("/jdk21", tarGz(TarEntry::File("lib/modules", RandomBytes(2u << 20))));
    packages.Serve("/corrupt", TestReply::Ok(RandomBytes(50000, 2)));
    TestReply cut = TestReply::Ok(RandomBytes(200000, 3)), slow = TestReply::Ok("x");
    cut.cutAfter = 1000;
    slow.delay = std::chrono::seconds(2);  // still downloading when the next installation is asked for
    packages.Serve("/cut", cut);
    packages.Serve("/slow", slow);
    const std::vector<std::pair<std::string, std::string>> catalogue = {{"Java 21 x64", "/jdk21"}, {"corrupt", "/corrupt"},
        {"cut-off", "/cut"}, {"no-address", ""}, {"slow", "/slow"}};
    const std::string tool = (fs::path(LUMIVALE_EXE).parent_path() / "lumivale-backend").string();
    for (const auto& [name, path] : catalogue) {  // the operator fills the catalogue with the backend's own command
        Subprocess add(tool, {"--db", (home.root() / "db").string(), "add-java", name, path.empty() ? "" : packages.Url(path)});
        ASSERT_EQ(add.Wait(), 0) << name;
    }
    backend::BackendServer backend(home.root() / "db");
    ASSERT_TRUE(backend.Start("127.0.0.1", 0));

    // A core of 1.21, which needs Java 21; the machine has only 17.
    const fs::path core = home.program() / ".minecraft" / "versions" / "1.21", build = home.root() / "build";
    ASSERT_TRUE(CompileJava(build, {{"Game", R"(public class Game { public static void main(String[] a) {
        System.out.println("GAME RAN ON " + System.getProperty("java.home")); } })"}}));
    WriteFile(core / "1.21.jar", CoreJarBytes(build / "core.jar", ReadFile(build / "Game.class"), 5));
    WriteFile(core / "1.21.json", R"({"id":"1.21","mainClass":"Game","minecraftArguments":"--demo"})");
    WriteFile(home.config(), "[launcher]\nselected_java=auto\nmemory_mb=256\nselected_core=" + core.string() + "\n");
    const std::string log = (home.program() / "log" / "java-install.log").string();
    const fs::path downloads = home.root() / "tmp" / "LumivaleLauncher" / "java";
    auto launcher = StartHeadless(home, {"JAVA_HOME=" + std::string(kTestJdk), "TMPDIR=" + (home.root() / "tmp").string(),
                                         "LUMIVALE_BACKEND_BASE=http://127.0.0.1:" + std::to_string(backend.Port())});
    launcher->Send(R"({"type":"game:launch"})");
    EXPECT_EQ(NextOfType(*launcher, "game:error"),
              R"({"type":"game:error","reason":"未找到适合版本 1.21 的 Java 21，请在「Java下载」页安装，或到「启动」页手动选择"})");
    launcher->Send(R"({"type":"java:open"})");
    EXPECT_TRUE(NextOfType(*launcher, "java:list").starts_with(R"({"type":"java:list","items":[{"name":"Java 21 x64",)"
                                                              R"("sha256":"","size":0,"url":")" + packages.Url("/jdk21") + "\"},"));

    // Failures: each its own text; a package that cannot be installed stays (hostile ones: the unit tests).
    const std::string unpackable = "安装失败（无法解压安装包），日志：" + log;
    const std::vector<std::tuple<std::string, std::string, bool>> failures = {  // name, text, package kept
        {"unknown", "获取下载地址失败", false}, {"no-address", "下载地址为空", false}, {"cut-off", "下载失败（网络或磁盘问题）", false},
        {"corrupt", unpackable, true}};
    for (const auto& [name, text, kept] : failures) {
        launcher->Send(R"({"type":"java:install","name":")" + name + R"("})");
        const Strings events = Progress(*launcher);
        EXPECT_EQ(events.front(), Event(name, "resolve", 0, "正在获取下载地址…"));
        EXPECT_EQ(events.back(), Event(name, "error", 0, text)) << ::testing::PrintToString(events);
        EXPECT_EQ(fs::exists(downloads / (name + ".tar.gz")), kept) << name;
    }
    EXPECT_TRUE(fs::is_empty(home.program() / "runtime"));
    // A second installation while one runs is refused at once, under its own name.
    launcher->Send(R"({"type":"java:install","name":"slow"})");
    launcher->Send(R"({"type":"java:install","name":"Java 21 x64"})");
    std::string line;
    while ((line = NextOfType(*launcher, "java:progress")).find(R"("name":"slow")") != std::string::npos) {
    }
    EXPECT_EQ(line, R"({"type":"java:progress","name":"Java 21 x64","phase":"error","text":"已有 Java 安装任务进行中"})");
    EXPECT_EQ(Progress(*launcher).back(), Event("slow", "error", 0, unpackable));

    // The good one: every phase, the page hears of the runtime before "done", the package and log go.
    launcher->Send(R"({"type":"java:install","name":"Java 21 x64"})");
    Strings others;
    const Strings events = Progress(*launcher, &others);
    ASSERT_GE(events.size(), 5u);
    const std::string name = "Java 21 x64";
    EXPECT_EQ(Strings(events.begin(), events.begin() + 2),
              (Strings{Event(name, "resolve", 0, "正在获取下载地址…"), Event(name, "download", 0, "正在下载安装包…")}));
    EXPECT_EQ(Strings(events.end() - 3, events.end()),
              (Strings{Event(name, "download", 100, "正在下载 2.0 MB / 2.0 MB"), Event(name, "install", 100, "正在安装…"),
                       Event(name, "done", 100, "安装完成 ✓")}));
    const fs::path java = home.program() / "runtime" / "Java 21 x64" / "bin" / "java";
    ASSERT_EQ(others.size(), 1u) << ::testing::PrintToString(others);
    EXPECT_TRUE(others[0].ends_with(R"({"name":"openjdk version \"21.0.2\" 2024-01-16","value":")" + java.string() + "\"}]}"))
        << others[0];
    EXPECT_FALSE(fs::exists(downloads / "Java 21 x64.tar.gz") || fs::exists(log));

    // "auto" now picks it for 1.21, and the game runs on it.
    launcher->Send(R"({"type":"game:launch"})");
    Strings launchLines;
    NextOfType(*launcher, "game:stopped", &launchLines);
    EXPECT_NE(std::find(launchLines.begin(), launchLines.end(), R"({"type":"game:info","msg":"已为版本 1.21 自动选择推荐 Java"})"),
              launchLines.end());
    EXPECT_NE(ReadFile(home.program() / "log" / "MC启动诊断.log").find("GAME RAN ON " + std::string(kTestJdk)), std::string::npos);

    // Browsing: a cancelled picker does nothing, a folder without java says so, the bin folder is the same runtime.
    Strings seen;
    for (const std::string& picked : {std::string(), home.root().string(), java.parent_path().string() + "/"}) {
        launcher->Send(R"({"type":"java:browse"})");
        EXPECT_EQ(NextOfType(*launcher, "host:pick", &seen), R"({"type":"host:pick","kind":"folder","title":"请选择 bin 的文件夹目录"})");
        launcher->Send(R"({"type":"host:picked","path":")" + picked + R"("})");
    }
    EXPECT_EQ(NextOfType(*launcher, "sys:java"), others[0]);
    // Said as a settings matter (a game:error would reset a running game on the page), naming this
    // system's java executable.
    EXPECT_EQ(seen, Strings{R"({"type":"java:browse_error","reason":"这个文件夹里没有 java，请选择 Java 安装目录下的 bin 文件夹：)" +
                            home.root().string() + "\"}"});
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    EXPECT_NE(ReadFile(home.config()).find("selected_java=" + java.string() + "\n"), std::string::npos);

}

// A backend that takes its time holds up no other command; an install without a name does nothing.
TEST(JavaInstall, ASlowBackendLeavesThePageAnsweredAndANamelessInstallDoesNothing) {
    TempHome home;
    TestHttpServer backend;
    TestReply late = TestReply::Ok(R"({"items":[]})");
    late.delay = std::chrono::seconds(3);
    backend.Serve("/api/java/list", late);
    auto launcher = StartHeadless(home, {"LUMIVALE_BACKEND_BASE=" + backend.base()});
    launcher->Send(R"({"type":"java:open"})");
    launcher->Send(R"({"type":"java:install","name":""})");
    launcher->Send(R"({"type":"java:install"})");
    launcher->Send(R"({"type":"sys:init"})");
    Strings before;
    EXPECT_EQ(NextOfType(*launcher, "java:list", &before), R"({"type":"java:list","items":[]})");
    EXPECT_NE(std::find_if(before.begin(), before.end(), [](const std::string& e) { return e.starts_with(R"({"type":"sys:java")"); }),
              before.end()) << "sys:init waited for the backend";
    for (const std::string& event : before) EXPECT_FALSE(event.starts_with(R"({"type":"java:progress")")) << event;
}

}  // namespace
}  // namespace lumivale::test
