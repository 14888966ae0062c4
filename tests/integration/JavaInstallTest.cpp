// The downloadable runtimes screen from end to end: the reference backend's catalogue (filled
// with its own add-java command), packages served from loopback, the real launcher installing
// them, and a game core that needs Java 21 launched with the runtime it installed.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>
#include <regex>

#include "BackendServer.h"
#include "JsonFields.h"
#include "Subprocess.h"
#include "TarWriter.h"
#include "TempHome.h"
#include "TestHttpServer.h"
#include "TestJava.h"

namespace lumivale::test {
namespace {

namespace fs = std::filesystem;
using Kind = TarEntry::Kind;


constexpr const char* kGameSource = R"(public class Game {
    public static void main(String[] args) {
        System.out.println("GAME RAN ON " + System.getProperty("java.home"));
    }
}
)";

// A runtime that says it is Java 21 and runs programs with the machine's JDK.
std::string Java21Script() {
    return std::string("#!/bin/sh\nif [ \"$1\" = \"-version\" ]; then\n"
                       "  echo 'openjdk version \"21.0.2\" 2024-01-16' >&2\n"
                       "  echo 'OpenJDK Runtime Environment (build 21.0.2+13-58)' >&2\n  exit 0\nfi\n"
                       "exec ") + kTestJdk + "/bin/java \"$@\"\n";
}

std::string TarGzBytes(const fs::path& scratch, const std::vector<TarEntry>& entries) {
    WriteTarGz(scratch, entries);
    return ReadFile(scratch);
}

class JavaInstallTest : public ::testing::Test {
protected:
    // One backend and one package server for every test here.
    static void SetUpTestSuite() {
        shared_ = new Shared;
        Shared& s = *shared_;
        const fs::path scratch = s.home.root() / "scratch.tar.gz";
        s.packages.Serve("/jdk21.tar.gz",
                         TestReply::Ok(TarGzBytes(scratch, {TarEntry::File("bin/java", Java21Script(), 0755),
                                                            TarEntry::File("lib/modules", RandomBytes(2u << 20, 1))})));
        s.packages.Serve("/corrupt.tar.gz", TestReply::Ok(RandomBytes(50000, 2)));
        s.packages.Serve("/escape.tar.gz", TestReply::Ok(TarGzBytes(
                                               scratch, {TarEntry::File("bin/java", Java21Script(), 0755),
                                                         TarEntry::File("../../escaped.txt", "written outside")})));
        TestReply cut = TestReply::Ok(RandomBytes(200000, 3));
        cut.cutAfter = 1000;
        s.packages.Serve("/cut.tar.gz", cut);
        s.packages.Handle("/slow.tar.gz", [](const TestRequest&) {
            shared_->release.wait();
            return TestReply::Ok(RandomBytes(1000, 4));
        });

        // The operator fills the catalogue with the backend's own command, then it serves.
        const fs::path database = s.home.root() / "backend.sqlite";
        const fs::path tool = fs::path(LUMIVALE_EXE).parent_path() / "lumivale-backend";
        const auto add = [&](const std::string& name, const std::string& url) {
            Subprocess process(tool.string(), {"--db", database.string(), "add-java", name, url});
            EXPECT_EQ(process.Wait(), 0) << name;
        };
        add("Java 21 x64", s.packages.Url("/jdk21.tar.gz"));
        add("corrupt", s.packages.Url("/corrupt.tar.gz"));
        add("escaping", s.packages.Url("/escape.tar.gz"));
        add("cut-off", s.packages.Url("/cut.tar.gz"));
        add("no-address", "");
        add("slow", s.packages.Url("/slow.tar.gz"));
        s.backend = std::make_unique<backend::BackendServer>(database);
        ASSERT_TRUE(s.backend->Start("127.0.0.1", 0));
    }
    static void TearDownTestSuite() {
        try {
            shared_->releaseSignal.set_value();
        } catch (const std::future_error&) {
        }  // a test released it already
        if (shared_->backend) shared_->backend->Stop();
        delete shared_;
        shared_ = nullptr;
    }

    std::string BackendBase() const { return "http://127.0.0.1:" + std::to_string(shared_->backend->Port()); }

    std::unique_ptr<Subprocess> Start(const std::string& backendBase) {
        return std::make_unique<Subprocess>(
            LUMIVALE_EXE, std::vector<std::string>{"--headless", "--home", home_.program().string()},
            std::vector<std::string>{"XDG_DATA_HOME=" + home_.data().string(), "JAVA_HOME=" + std::string(kTestJdk),
                                     "TMPDIR=" + temp().string(), "LUMIVALE_BACKEND_BASE=" + backendBase});
    }
    fs::path temp() const { return home_.root() / "tmp"; }
    fs::path downloads() const { return temp() / "LumivaleLauncher" / "java"; }
    std::string logPath() const { return (home_.program() / "log" / "java-install.log").string(); }

    // The next line of type `type`; the lines before it are kept in `skipped`.
    static std::string Next(Subprocess& launcher, const std::string& type, std::vector<std::string>* skipped = nullptr) {
        while (auto line = launcher.ReadLine(std::chrono::seconds(60))) {
            if (ReadTextField(*line, "type") == type) return *line;
            if (skipped) skipped->push_back(*line);
        }
        return {};
    }
    // The progress events of one installation, up to its "done" or "error".
    static std::vector<std::string> Progress(Subprocess& launcher, std::vector<std::string>* others = nullptr) {
        std::vector<std::string> events;
        for (;;) {
            const std::string line = Next(launcher, "java:progress", others);
            if (line.empty()) break;
            events.push_back(line);
            const std::string phase = ReadTextField(line, "phase");
            if (phase == "done" || phase == "error") break;
        }
        return events;
    }
    static std::string Event(const std::string& name, const std::string& phase, int percent, const std::string& text) {
        return R"({"type":"java:progress","name":")" + name + R"(","phase":")" + phase + R"(","percent":)" +
               std::to_string(percent) + R"(,"text":")" + text + R"("})";
    }

    struct Shared {
        TempHome home;
        TestHttpServer packages;
        std::unique_ptr<backend::BackendServer> backend;
        std::promise<void> releaseSignal;
        std::shared_future<void> release = releaseSignal.get_future().share();
    };
    static Shared* shared_;
    TempHome home_;
};

JavaInstallTest::Shared* JavaInstallTest::shared_ = nullptr;

TEST_F(JavaInstallTest, TheListedRuntimeIsInstalledListedAndRunsACoreThatNeedsJava21) {
    if (!HasTestJdk()) GTEST_SKIP() << "no JDK 17 here";
    // A core of 1.21, which needs Java 21; the machine has only 17.
    const fs::path core = home_.program() / ".minecraft" / "versions" / "1.21";
    const fs::path build = home_.root() / "build";
    ASSERT_TRUE(CompileJava(build, {{"Game", kGameSource}}));
    WriteFile(core / "1.21.jar", CoreJarBytes(build / "core.jar", ReadFile(build / "Game.class"), 5));
    WriteFile(core / "1.21.json", R"({"id":"1.21","type":"release","mainClass":"Game","minecraftArguments":"--demo"})");
    WriteFile(home_.config(), "[launcher]\nselected_java=auto\nmemory_mb=256\nselected_core=" + core.string() + "\n");

    auto launcher = Start(BackendBase());
    launcher->Send(R"({"type":"game:launch"})");
    EXPECT_EQ(Next(*launcher, "game:error"),
              R"({"type":"game:error","reason":"未找到适合版本 1.21 的 Java 21，请先安装对应 Java 或到设置里手动选择"})");

    launcher->Send(R"({"type":"java:open"})");
    const std::string list = Next(*launcher, "java:list");
    EXPECT_TRUE(list.starts_with(R"({"type":"java:list","items":[{"name":"Java 21 x64","sha256":"","size":0,"url":")" +
                                 shared_->packages.Url("/jdk21.tar.gz") + R"("},{"name":"corrupt")"))
        << list;
    EXPECT_TRUE(list.ends_with(R"("}]})")) << list;

    launcher->Send(R"({"type":"java:install","name":"Java 21 x64"})");
    std::vector<std::string> others;
    const std::vector<std::string> events = Progress(*launcher, &others);
    ASSERT_GE(events.size(), 5u);
    EXPECT_EQ(events[0], Event("Java 21 x64", "resolve", 0, "正在获取下载地址…"));
    EXPECT_EQ(events[1], Event("Java 21 x64", "download", 0, "正在下载安装包…"));
    EXPECT_EQ(events[events.size() - 3], Event("Java 21 x64", "download", 100, "正在下载 2 MB / 2 MB"));
    EXPECT_EQ(events[events.size() - 2], Event("Java 21 x64", "install", 100, "正在安装…"));
    EXPECT_EQ(events.back(), Event("Java 21 x64", "done", 100, "安装完成 ✓"));

    // The page heard about the new runtime before "done".
    const fs::path java = home_.program() / "runtime" / "Java 21 x64" / "bin" / "java";
    ASSERT_EQ(others.size(), 1u) << ::testing::PrintToString(others);
    EXPECT_TRUE(others[0].starts_with(R"({"type":"sys:java","list":[)")) << others[0];
    EXPECT_TRUE(others[0].ends_with(R"({"name":"openjdk version \"21.0.2\" 2024-01-16","value":")" + java.string() + R"("}]})"))
        << others[0];
    // The package and the installer log are gone once installed.
    EXPECT_FALSE(fs::exists(downloads() / "Java 21 x64.tar.gz"));
    EXPECT_FALSE(fs::exists(logPath()));

    // "auto" now picks it for 1.21, and the game runs on it.
    launcher->Send(R"({"type":"game:launch"})");
    std::vector<std::string> launchLines;
    Next(*launcher, "game:stopped", &launchLines);
    EXPECT_NE(std::find(launchLines.begin(), launchLines.end(),
                        R"({"type":"game:info","msg":"已为版本 1.21 自动选择推荐 Java"})"),
              launchLines.end())
        << ::testing::PrintToString(launchLines);
    const std::string gameLog = ReadFile(home_.program() / "log" / "MC启动诊断.log");
    EXPECT_NE(gameLog.find(java.string()), std::string::npos) << gameLog;
    EXPECT_NE(gameLog.find("GAME RAN ON " + std::string(kTestJdk)), std::string::npos) << gameLog;

    // Picking its bin folder by hand names the same runtime: still listed once, now chosen.
    launcher->Send(R"({"type":"java:browse"})");
    Next(*launcher, "host:pick");
    launcher->Send(R"({"type":"host:picked","path":")" + java.parent_path().string() + R"("})");
    EXPECT_EQ(Next(*launcher, "sys:java"), others[0]);
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);

    // Kept as an entry of the player's own, now chosen.
    EXPECT_NE(ReadFile(home_.config()).find("selected_java=" + java.string() + "\n"), std::string::npos);
}

TEST_F(JavaInstallTest, EveryFailureEndsWithItsOwnErrorAndLeavesNothingHalfDone) {
    auto launcher = Start(BackendBase());
    const auto failure = [&](const std::string& name, const std::string& text) {
        launcher->Send(R"({"type":"java:install","name":")" + name + R"("})");
        const std::vector<std::string> events = Progress(*launcher);
        EXPECT_EQ(events.front(), Event(name, "resolve", 0, "正在获取下载地址…"));
        EXPECT_EQ(events.back(), Event(name, "error", 0, text)) << ::testing::PrintToString(events);
        return events;
    };

    // The backend does not know the name: its answer has no success.
    EXPECT_EQ(failure("unknown", "获取下载地址失败").size(), 2u);
    EXPECT_EQ(failure("no-address", "下载地址为空").size(), 2u);
    failure("cut-off", "下载失败（网络或磁盘问题）");
    EXPECT_FALSE(fs::exists(downloads() / "cut-off.tar.gz"));

    // Packages that cannot be installed stay for inspection; the half-unpacked folder goes.
    const std::string unpackable = "安装失败（无法解压安装包），日志：" + logPath();
    const std::vector<std::string> corrupt = failure("corrupt", unpackable);
    EXPECT_EQ(corrupt[corrupt.size() - 2], Event("corrupt", "install", 100, "正在安装…"));
    EXPECT_TRUE(fs::exists(downloads() / "corrupt.tar.gz"));
    failure("escaping", unpackable);
    EXPECT_TRUE(fs::exists(downloads() / "escaping.tar.gz"));
    EXPECT_NE(ReadFile(logPath()).find("../../escaped.txt"), std::string::npos) << ReadFile(logPath());
    EXPECT_FALSE(fs::exists(home_.program() / "escaped.txt"));
    EXPECT_FALSE(fs::exists(home_.root() / "escaped.txt"));
    EXPECT_TRUE(fs::is_empty(home_.program() / "runtime"));

    // Two installations in a row: the second is refused at once, under its own name.
    launcher->Send(R"({"type":"java:install","name":"slow"})");
    launcher->Send(R"({"type":"java:install","name":"Java 21 x64"})");
    std::vector<std::string> slow;
    std::string refusal;
    while (refusal.empty()) {
        const std::string line = Next(*launcher, "java:progress");
        ASSERT_FALSE(line.empty());
        if (ReadTextField(line, "name") == "slow") slow.push_back(line);
        else refusal = line;
    }
    EXPECT_EQ(refusal, R"({"type":"java:progress","name":"Java 21 x64","phase":"error","text":"已有 Java 安装任务进行中"})");
    shared_->releaseSignal.set_value();
    for (const std::string& line : Progress(*launcher)) slow.push_back(line);
    EXPECT_EQ(slow.front(), Event("slow", "resolve", 0, "正在获取下载地址…"));
    EXPECT_EQ(slow.back(), Event("slow", "error", 0, unpackable));
    for (const std::string& line : slow) EXPECT_EQ(ReadTextField(line, "name"), "slow");
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);

    // No backend to reach: the list says so, and so does an installation.
    TestHttpServer closed;
    const std::string nowhere = closed.base();
    closed.Stop();
    auto offline = Start(nowhere);
    offline->Send(R"({"type":"java:open"})");
    EXPECT_EQ(Next(*offline, "java:list"), R"({"type":"java:list","items":[],"error":"无法连接服务端"})");
    offline->Send(R"({"type":"java:install","name":"Java 21 x64"})");
    EXPECT_EQ(Progress(*offline).back(), Event("Java 21 x64", "error", 0, "获取下载地址失败"));
    offline->CloseInput();
    EXPECT_EQ(offline->Wait(), 0);
}

}  // namespace
}  // namespace lumivale::test
