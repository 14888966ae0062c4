// Downloadable runtimes from end to end: the reference backend's catalogue (filled with its own
// add-java command), packages served from loopback, the real launcher installing them, and a core
// that needs Java 21 launched with the runtime it installed.
#include <gtest/gtest.h>

#include <chrono>

#include "BackendServer.h"
#include "LaunchTestKit.h"
#include "TarWriter.h"
#include "TestHttpServer.h"
#include "TestJava.h"

namespace lumivale::test {
namespace {

// A runtime that says it is Java 21 and runs programs with the machine's JDK.
const std::string kJava21 = std::string("#!/bin/sh\nif [ \"$1\" = \"-version\" ]; then\n"
                                        "  echo 'openjdk version \"21.0.2\" 2024-01-16' >&2\n  exit 0\nfi\nexec ") +
                            kTestJdk + "/bin/java \"$@\"\n";

std::string Event(const std::string& name, const std::string& phase, int percent, const std::string& text) {
    return R"({"type":"java:progress","name":")" + name + R"(","phase":")" + phase + R"(","percent":)" + std::to_string(percent) +
           R"(,"text":")" + text + R"("})";
}

class JavaInstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {  // one backend and one package server for every test here
        shared_ = new Shared;
        const fs::path scratch = shared_->home.root() / "scratch.tar.gz";
        const auto tarGz = [&](const std::vector<TarEntry>& entries) { return WriteTarGz(scratch, entries), ReadFile(scratch); };
        TestHttpServer& packages = shared_->packages;
        packages.Serve("/jdk21", TestReply::Ok(tarGz({TarEntry::File("bin/java", kJava21, 0755),
                                                      TarEntry::File("lib/modules", RandomBytes(2u << 20, 1))})));
        packages.Serve("/corrupt", TestReply::Ok(RandomBytes(50000, 2)));
        packages.Serve("/escape", TestReply::Ok(tarGz({TarEntry::File("bin/java", kJava21, 0755),
                                                       TarEntry::File("../../escaped.txt", "written outside")})));
        TestReply cut = TestReply::Ok(RandomBytes(200000, 3));
        cut.cutAfter = 1000;
        packages.Serve("/cut", cut);
        TestReply slow = TestReply::Ok("x");
        slow.delay = std::chrono::seconds(2);  // still downloading when the next installation is asked for
        packages.Serve("/slow", slow);

        const fs::path database = shared_->home.root() / "backend.sqlite";
        const std::string tool = (fs::path(LUMIVALE_EXE).parent_path() / "lumivale-backend").string();
        const std::vector<std::pair<std::string, std::string>> catalogue = {
            {"Java 21 x64", "/jdk21"}, {"corrupt", "/corrupt"}, {"escaping", "/escape"}, {"cut-off", "/cut"}, {"no-address", ""},
            {"slow", "/slow"}};
        for (const auto& [name, path] : catalogue) {
            Subprocess add(tool, {"--db", database.string(), "add-java", name, path.empty() ? "" : packages.Url(path)});
            EXPECT_EQ(add.Wait(), 0) << name;
        }
        shared_->backend = std::make_unique<backend::BackendServer>(database);
        ASSERT_TRUE(shared_->backend->Start("127.0.0.1", 0));
    }
    static void TearDownTestSuite() { delete shared_; }

    std::unique_ptr<Subprocess> Start(const std::string& backendBase = {}) {
        return StartHeadless(home_, {"JAVA_HOME=" + std::string(kTestJdk), "TMPDIR=" + (home_.root() / "tmp").string(),
                                     "LUMIVALE_BACKEND_BASE=" + (backendBase.empty() ? Backend() : backendBase)});
    }
    static std::string Backend() { return "http://127.0.0.1:" + std::to_string(shared_->backend->Port()); }
    fs::path Download(const std::string& file) const { return home_.root() / "tmp" / "LumivaleLauncher" / "java" / file; }
    std::string LogPath() const { return (home_.program() / "log" / "java-install.log").string(); }
    // The progress events of one installation, up to its "done" or "error".
    static Strings Progress(Subprocess& launcher, Strings* others = nullptr) {
        Strings events;
        while (events.empty() || (ReadTextField(events.back(), "phase") != "done" && ReadTextField(events.back(), "phase") != "error")) {
            events.push_back(NextOfType(launcher, "java:progress", others));
            if (events.back().empty()) break;
        }
        return events;
    }

    struct Shared {
        TempHome home;
        TestHttpServer packages;
        std::unique_ptr<backend::BackendServer> backend;
    };
    static inline Shared* shared_ = nullptr;
    TempHome home_;
};

TEST_F(JavaInstallTest, TheListedRuntimeIsInstalledListedAndRunsACoreThatNeedsJava21) {
    if (!HasTestJdk()) GTEST_SKIP() << "no JDK 17 here";
    const fs::path core = home_.program() / ".minecraft" / "versions" / "1.21";
    const fs::path build = home_.root() / "build";
    ASSERT_TRUE(CompileJava(build, {{"Game", R"(public class Game { public static void main(String[] a) {
        System.out.println("GAME RAN ON " + System.getProperty("java.home")); } })"}}));
    WriteFile(core / "1.21.jar", CoreJarBytes(build / "core.jar", ReadFile(build / "Game.class"), 5));
    WriteFile(core / "1.21.json", R"({"id":"1.21","mainClass":"Game","minecraftArguments":"--demo"})");
    WriteFile(home_.config(), "[launcher]\nselected_java=auto\nmemory_mb=256\nselected_core=" + core.string() + "\n");

    auto launcher = Start();
    launcher->Send(R"({"type":"game:launch"})");  // the machine has only Java 17
    EXPECT_EQ(NextOfType(*launcher, "game:error"),
              R"({"type":"game:error","reason":"未找到适合版本 1.21 的 Java 21，请先安装对应 Java 或到设置里手动选择"})");
    launcher->Send(R"({"type":"java:open"})");
    const std::string list = NextOfType(*launcher, "java:list");
    EXPECT_TRUE(list.starts_with(R"({"type":"java:list","items":[{"name":"Java 21 x64","sha256":"","size":0,"url":")" +
                                 shared_->packages.Url("/jdk21") + R"("},{"name":"corrupt")")) << list;

    launcher->Send(R"({"type":"java:install","name":"Java 21 x64"})");
    Strings others;
    const Strings events = Progress(*launcher, &others);
    ASSERT_GE(events.size(), 5u);
    EXPECT_EQ(Strings(events.begin(), events.begin() + 2),
              (Strings{Event("Java 21 x64", "resolve", 0, "正在获取下载地址…"), Event("Java 21 x64", "download", 0, "正在下载安装包…")}));
    EXPECT_EQ(Strings(events.end() - 3, events.end()),
              (Strings{Event("Java 21 x64", "download", 100, "正在下载 2 MB / 2 MB"), Event("Java 21 x64", "install", 100, "正在安装…"),
                       Event("Java 21 x64", "done", 100, "安装完成 ✓")}));
    // The page heard of the new runtime before "done"; the package and the log are gone.
    const fs::path java = home_.program() / "runtime" / "Java 21 x64" / "bin" / "java";
    ASSERT_EQ(others.size(), 1u) << ::testing::PrintToString(others);
    EXPECT_TRUE(others[0].ends_with(R"({"name":"openjdk version \"21.0.2\" 2024-01-16","value":")" + java.string() + R"("}]})"))
        << others[0];
    EXPECT_FALSE(fs::exists(Download("Java 21 x64.tar.gz")) || fs::exists(LogPath()));

    // "auto" now picks it for 1.21, and the game runs on it.
    launcher->Send(R"({"type":"game:launch"})");
    Strings launchLines;
    NextOfType(*launcher, "game:stopped", &launchLines);
    EXPECT_NE(std::find(launchLines.begin(), launchLines.end(), R"({"type":"game:info","msg":"已为版本 1.21 自动选择推荐 Java"})"),
              launchLines.end());
    EXPECT_NE(ReadFile(home_.program() / "log" / "MC启动诊断.log").find("GAME RAN ON " + std::string(kTestJdk)), std::string::npos);

    // Browsing: a cancelled picker does nothing, a folder without java says so, and the runtime's
    // bin folder names the same runtime: still listed once, now chosen.
    Strings seen;
    for (const std::string& picked : {std::string(), home_.root().string(), java.parent_path().string() + "/"}) {
        launcher->Send(R"({"type":"java:browse"})");
        EXPECT_EQ(NextOfType(*launcher, "host:pick", &seen), R"({"type":"host:pick","kind":"folder","title":"请选择 bin 的文件夹目录"})");
        launcher->Send(R"({"type":"host:picked","path":")" + picked + R"("})");
    }
    EXPECT_EQ(NextOfType(*launcher, "sys:java"), others[0]);
    EXPECT_EQ(seen, Strings{R"({"type":"game:error","reason":"该目录未找到 java.exe"})"});
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    EXPECT_NE(ReadFile(home_.config()).find("selected_java=" + java.string() + "\n"), std::string::npos);
}

TEST_F(JavaInstallTest, EveryFailureEndsWithItsOwnErrorAndLeavesNothingHalfDone) {
    auto launcher = Start();
    const std::string unpackable = "安装失败（无法解压安装包），日志：" + LogPath();
    const std::vector<std::tuple<std::string, std::string, bool>> failures = {  // name, text, package kept
        {"unknown", "获取下载地址失败", false}, {"no-address", "下载地址为空", false},
        {"cut-off", "下载失败（网络或磁盘问题）", false}, {"corrupt", unpackable, true}, {"escaping", unpackable, true}};
    for (const auto& [name, text, kept] : failures) {
        launcher->Send(R"({"type":"java:install","name":")" + name + R"("})");
        const Strings events = Progress(*launcher);
        EXPECT_EQ(events.front(), Event(name, "resolve", 0, "正在获取下载地址…"));
        EXPECT_EQ(events.back(), Event(name, "error", 0, text)) << ::testing::PrintToString(events);
        EXPECT_EQ(fs::exists(Download(name + ".tar.gz")), kept) << name;
    }
    EXPECT_NE(ReadFile(LogPath()).find("../../escaped.txt"), std::string::npos) << ReadFile(LogPath());
    EXPECT_FALSE(fs::exists(home_.program() / "escaped.txt") || fs::exists(home_.root() / "escaped.txt"));
    EXPECT_TRUE(fs::is_empty(home_.program() / "runtime"));

    // Two installations in a row: the second is refused at once, under its own name.
    launcher->Send(R"({"type":"java:install","name":"slow"})");
    launcher->Send(R"({"type":"java:install","name":"Java 21 x64"})");
    std::string line;
    while ((line = NextOfType(*launcher, "java:progress")).find("\"name\":\"slow\"") != std::string::npos) {
    }
    EXPECT_EQ(line, R"({"type":"java:progress","name":"Java 21 x64","phase":"error","text":"已有 Java 安装任务进行中"})");
    EXPECT_EQ(Progress(*launcher).back(), Event("slow", "error", 0, unpackable));
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);

    // No backend to reach: the list says so, and so does an installation.
    auto offline = Start("http://127.0.0.1:9");
    offline->Send(R"({"type":"java:open"})");
    EXPECT_EQ(NextOfType(*offline, "java:list"), R"({"type":"java:list","items":[],"error":"无法连接服务端"})");
    offline->Send(R"({"type":"java:install","name":"Java 21 x64"})");
    EXPECT_EQ(Progress(*offline).back(), Event("Java 21 x64", "error", 0, "获取下载地址失败"));
    offline->CloseInput();
    EXPECT_EQ(offline->Wait(), 0);
}

}  // namespace
}  // namespace lumivale::test
