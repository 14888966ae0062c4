// "game:launch" from end to end: a core with a missing library and a damaged official client jar,
// a loopback mirror that has them, the machine's JDK, and a small game compiled here that prints
// its arguments and exits with the code it is told.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

#include "BackendServer.h"
#include "Subprocess.h"
#include "TempHome.h"
#include "TestJava.h"
#include "TestHttpServer.h"

namespace lumivale::test {
namespace {

namespace fs = std::filesystem;


constexpr const char* kGameSource = R"(public class Game {
    public static void main(String[] args) throws Exception {
        System.out.println("GAME ARGS " + String.join(" ", args));
        System.err.println("game says hello on stderr");
        int code = 0;
        long sleep = 0;
        for (int i = 0; i + 1 < args.length; i++) {
            if (args[i].equals("--exit")) code = Integer.parseInt(args[i + 1]);
            if (args[i].equals("--sleep")) sleep = Long.parseLong(args[i + 1]);
        }
        Thread.sleep(sleep);
        System.exit(code);
    }
}
)";

// Every process whose command line names `marker`.
std::vector<std::string> ProcessesNaming(const std::string& marker) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmdline;
        try {
            cmdline = ReadFile(entry.path() / "cmdline");
        } catch (...) {
            continue;
        }
        if (cmdline.find(marker) != std::string::npos) found.push_back(pid);
    }
    return found;
}

class GameLaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HasTestJdk()) GTEST_SKIP() << "no JDK 17 here";
        gameDir_ = home_.program() / ".minecraft";
        core_ = gameDir_ / "versions" / "1.20.1";

        // The game: Game.class in a jar made large enough to count as a core.
        const fs::path build = home_.root() / "build";
        ASSERT_TRUE(CompileJava(build, {{"Game", kGameSource}}));
        WriteFile(core_ / "1.20.1.jar", CoreJarBytes(build / "core.jar", ReadFile(build / "Game.class")));

        library_ = ZipBytes(build / "lib.jar", {{"com/example/Lib.txt", "library"}});
        client_ = ZipBytes(build / "client.jar", {{"net/minecraft/Client.txt", "the real client"}});
        mirror_.Serve("/libraries/com/example/lib/1.0/lib-1.0.jar", TestReply::Ok(library_));
        mirror_.Serve("/v1/objects/client.jar", TestReply::Ok(client_));

        // A damaged official client jar, and no library yet.
        officialJar_ = gameDir_ / "libraries/net/minecraft/client/1.20.1/client-1.20.1-official.jar";
        WriteFile(officialJar_, "damaged");

        WriteVersionJson("--exit 0 --sleep 2500");
        WriteFile(home_.config(), "[launcher]\nselected_java=auto\nmemory_mb=256\ngc_preset=g1_std\n");
        // A signed-in player, so the command line carries a token that the log must not show.
        WriteFile(home_.store(),
                  R"({"cloud":{"private_key":""},"littleskin":{"access_token":"secret-token-123",)"
                  R"("client_token":"c","current_role":"Steve","current_role_id":"0123abcd"}})");
        fs::permissions(home_.store(), fs::perms::owner_read | fs::perms::owner_write);
    }

    void WriteVersionJson(const std::string& extraArguments) {
        const std::string clientSha1 = Sha1OfBytes(client_);
        WriteFile(core_ / "1.20.1.json", R"({"id":"1.20.1","type":"release","mainClass":"Game",)"
                  R"("minecraftArguments":"--username ${auth_player_name} --accessToken ${auth_access_token} )" +
                  extraArguments + R"(",)"
                  R"("downloads":{"client":{"sha1":")" + clientSha1 + R"(","url":")" +
                  official_.Url("/data/v1/objects/client.jar") + R"("}},)"
                  R"("libraries":[{"name":"com.example:lib:1.0","downloads":{"artifact":{)"
                  R"("path":"com/example/lib/1.0/lib-1.0.jar","url":")" +
                  official_.Url("/maven2/com/example/lib/1.0/lib-1.0.jar") + R"("}}}]})");
    }

    std::unique_ptr<Subprocess> Start(std::string backendBase = "http://127.0.0.1:9") {
        return std::make_unique<Subprocess>(
            LUMIVALE_EXE, std::vector<std::string>{"--headless", "--home", home_.program().string()},
            std::vector<std::string>{"XDG_DATA_HOME=" + home_.data().string(),
                                     // The stored sign-in's renewal and the backend stay on loopback.
                                     "LUMIVALE_LITTLESKIN_BASE=http://127.0.0.1:9",
                                     "LUMIVALE_BACKEND_BASE=" + backendBase,
                                     "JAVA_HOME=" + std::string(kTestJdk),
                                     "LUMIVALE_MIRROR_BASE=" + mirror_.Url("/"),
                                     "LUMIVALE_OFFICIAL_DATA_BASE=" + official_.Url("/data/"),
                                     "LUMIVALE_OFFICIAL_LIBRARIES_BASE=" + official_.Url("/maven2/"),
                                     "LUMIVALE_OFFICIAL_META_BASE=" + official_.Url("/meta/"),
                                     "LUMIVALE_OFFICIAL_ASSETS_BASE=" + official_.Url("/assets/"),
                                     "LUMIVALE_OFFICIAL_MAVEN_BASE=" + official_.Url("/forge/")});
    }

    // Reads events up to and including the first of type `last`; their types in order.
    static std::vector<std::string> TypesUntil(Subprocess& launcher, const std::string& last,
                                               std::vector<std::string>* lines = nullptr) {
        std::vector<std::string> types;
        while (auto line = launcher.ReadLine(std::chrono::seconds(60))) {
            const std::regex type(R"re(^\{"type":"([^"]+)")re");
            std::smatch match;
            const std::string text = *line;
            if (!std::regex_search(text, match, type)) continue;
            types.push_back(match[1]);
            if (lines) lines->push_back(text);
            if (types.back() == last) break;
        }
        return types;
    }

    TempHome home_;
    TestHttpServer mirror_;
    TestHttpServer official_;
    fs::path gameDir_;
    fs::path core_;
    fs::path officialJar_;
    std::string library_;
    std::string client_;
};

// Collapses runs of the same event type: "game:tick…" and "install:progress…".
std::vector<std::string> Collapsed(const std::vector<std::string>& types) {
    std::vector<std::string> out;
    for (const auto& t : types) {
        if (out.empty() || out.back() != t || (t != "game:tick" && t != "install:progress")) out.push_back(t);
    }
    return out;
}

TEST_F(GameLaunchTest, LaunchCompletesFilesRunsTheGameAndReportsItsEnd) {
    auto launcher = Start();
    launcher->Send(R"({"type":"game:launch"})");
    std::vector<std::string> lines;
    const auto types = TypesUntil(*launcher, "game:stopped", &lines);
    EXPECT_EQ(Collapsed(types),
              (std::vector<std::string>{"sys:cores", "game:info", "launch:step", "install:start",
                                        "install:progress", "launch:step", "game:started", "game:tick",
                                        "game:stopped"}))
        << ::testing::PrintToString(lines) << "\nmirror saw " << ::testing::PrintToString(mirror_.RequestedPaths())
        << "\nofficial saw " << ::testing::PrintToString(official_.RequestedPaths());
    EXPECT_NE(std::find(lines.begin(), lines.end(), R"({"type":"game:info","msg":"已为版本 1.20.1 自动选择推荐 Java"})"),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), R"({"type":"launch:step","text":"正在校验游戏文件…"})"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), R"({"type":"launch:step","text":"正在启动 Minecraft 客户端…"})"),
              lines.end());

    // The files were completed from the mirror; the damaged jar was kept aside.
    EXPECT_EQ(ReadFile(gameDir_ / "libraries/com/example/lib/1.0/lib-1.0.jar"), library_);
    EXPECT_EQ(ReadFile(officialJar_), client_);
    EXPECT_EQ(ReadFile(officialJar_.string() + ".badsha1.bak"), "damaged");
    EXPECT_EQ(official_.Requests().size(), 0u);

    // The log: header, the command line without the token, then the game's own output.
    const std::string log = ReadFile(home_.program() / "log" / "MC启动诊断.log");
    EXPECT_TRUE(std::regex_search(log, std::regex("^\\[Lumivale\\] 本次启动标记 launch-id: [0-9a-f-]{36}\r\n"
                                                  "\\[Lumivale\\] 启动命令行：\r\n")))
        << log;
    EXPECT_NE(log.find("Game --username Steve --accessToken *** --exit 0"), std::string::npos) << log;
    const auto outputStart = log.find("\r\n\r\n[Lumivale] Java 输出：\r\n");
    ASSERT_NE(outputStart, std::string::npos);
    EXPECT_EQ(log.substr(0, outputStart).find("secret-token-123"), std::string::npos);
    EXPECT_NE(log.find("GAME ARGS --username Steve --accessToken secret-token-123 --exit 0"), std::string::npos);
    EXPECT_NE(log.find("game says hello on stderr"), std::string::npos);

    // An abnormal end: "game:stopped", then the error.
    WriteVersionJson("--exit 1");
    launcher->Send(R"({"type":"game:launch"})");
    lines.clear();
    const auto failed = TypesUntil(*launcher, "game:error", &lines);
    ASSERT_GE(failed.size(), 2u);
    EXPECT_EQ(failed[failed.size() - 2], "game:stopped");
    EXPECT_EQ(lines.back(), R"({"type":"game:error","reason":"游戏进程异常退出（可能是 Java 版本不符或游戏文件缺失）"})");

    // A stop during play: "game:stopped" alone, and no game left running.
    WriteVersionJson("--exit 3 --sleep 60000");
    launcher->Send(R"({"type":"game:launch"})");
    TypesUntil(*launcher, "game:started");
    EXPECT_FALSE(ProcessesNaming((core_ / "1.20.1.jar").string()).empty());
    launcher->Send(R"({"type":"game:stop"})");
    const auto stopped = TypesUntil(*launcher, "game:stopped");
    for (const auto& t : stopped) EXPECT_TRUE(t == "game:tick" || t == "game:stopped") << t;
    launcher->Send(R"({"type":"sys:init"})");  // nothing else was queued after the stop
    EXPECT_TRUE(launcher->ReadLine().value_or("").starts_with(R"({"type":"sys:java")"));
    EXPECT_EQ(ProcessesNaming((core_ / "1.20.1.jar").string()), std::vector<std::string>{});

    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
}

TEST_F(GameLaunchTest, AFinishedGameUploadsItsLengthToTheBackend) {
    backend::BackendServer backend(home_.root() / "backend.sqlite");
    ASSERT_TRUE(backend.Start("127.0.0.1", 0));
    WriteFile(home_.store(),
              R"({"cloud":{"private_key":""},"littleskin":{"access_token":"secret-token-123",)"
              R"("client_token":"c","current_role":"Steve","current_role_id":"0123abcd","account_id":"u-77"}})");
    auto launcher = Start("http://127.0.0.1:" + std::to_string(backend.Port()));

    // The stored sign-in makes a key, registers it and fetches the total.
    std::vector<std::string> lines;
    TypesUntil(*launcher, "cloud:playtime:got", &lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), R"({"type":"cloud:playtime:got","total_seconds":0})");

    launcher->Send(R"({"type":"game:launch"})");
    TypesUntil(*launcher, "game:stopped");
    // The upload follows the game's end on its own thread: ask until the total shows it.
    std::int64_t total = 0;
    for (int i = 0; i < 100 && total < 2; ++i) {
        launcher->Send(R"({"type":"cloud:playtime:get"})");
        lines.clear();
        TypesUntil(*launcher, "cloud:playtime:got", &lines);
        ASSERT_FALSE(lines.empty());
        total = std::stoll(lines.back().substr(lines.back().rfind(':') + 1));
        if (total < 2) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_GE(total, 2);  // the game sleeps 2.5 s
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    EXPECT_TRUE(std::regex_search(launcher->Stderr(),
                                  std::regex("游戏退出，上传时长：账号=u-77 本局=\\d+秒 增量=\\d+秒 结果=成功\\(服务端累计=" +
                                             std::to_string(total) + "\\)")))
        << launcher->Stderr();
    EXPECT_NE(ReadFile(home_.store()).find(R"("private_key": "UlNBM)"), std::string::npos);
}

TEST_F(GameLaunchTest, ChecksBeforeTheLaunchAnswerWithTheirReason) {
    WriteFile(home_.config(), "[launcher]\nselected_java=/no/such/java\nselected_core=" + core_.string() + "\n");
    auto launcher = Start();
    launcher->Send(R"({"type":"game:launch"})");
    EXPECT_TRUE(launcher->ReadLine().value_or("").starts_with(R"({"type":"sys:cores")"));
    EXPECT_EQ(launcher->ReadLine().value_or(""),
              R"({"type":"game:error","reason":"你选择的 Java 已不存在或不可用（/no/such/java），请到 设置 - Java 运行环境 重新选择"})");
    launcher->Send(R"({"type":"config:set","key":"selected_core","value":"/elsewhere"})");
    launcher->Send(R"({"type":"game:launch"})");
    launcher->ReadLine();  // sys:cores
    EXPECT_EQ(launcher->ReadLine().value_or(""), R"({"type":"game:error","reason":"未找到核心 jar 文件"})");
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
}

}  // namespace
}  // namespace lumivale::test
