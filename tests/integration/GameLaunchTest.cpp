// "game:launch" from end to end: a core with a missing library and a damaged official client jar, a
// loopback mirror that has them, the machine's JDK, and a small game that prints its arguments.
#include <gtest/gtest.h>

#include <regex>
#include <thread>

#include "BackendServer.h"
#include "LaunchTestKit.h"
#include "TestHttpServer.h"
#include "TestJava.h"

namespace lumivale::test {
namespace {

constexpr const char* kGameSource = R"(public class Game {
    public static void main(String[] args) throws Exception {
        System.out.println("GAME ARGS " + String.join(" ", args));
        int code = 0;
        for (int i = 0; i + 1 < args.length; i++) {
            if (args[i].equals("--exit")) code = Integer.parseInt(args[i + 1]);
            if (args[i].equals("--sleep")) Thread.sleep(Long.parseLong(args[i + 1]));
        }
        System.exit(code);
    }
})";

class GameLaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HasTestJdk()) GTEST_SKIP() << "no JDK 17 here";
        const fs::path build = home_.root() / "build";
        ASSERT_TRUE(CompileJava(build, {{"Game", kGameSource}}));
        WriteFile(core_ / "1.20.1.jar", CoreJarBytes(build / "core.jar", ReadFile(build / "Game.class")));
        library_ = ZipBytes(build / "lib.jar", {{"com/example/Lib.txt", "library"}});
        client_ = ZipBytes(build / "client.jar", {{"net/minecraft/Client.txt", "the real client"}});
        mirror_.Serve("/libraries/com/example/lib/1.0/lib-1.0.jar", TestReply::Ok(library_));
        mirror_.Serve("/v1/objects/client.jar", TestReply::Ok(client_));
        WriteFile(officialJar_, "damaged");
        WriteVersionJson("--exit 0 --sleep 2500");
        WriteFile(home_.config(), "[launcher]\nselected_java=auto\nmemory_mb=256\ngc_preset=g1_std\n");
        StoreSignIn("");
    }
    // A signed-in player, so the command line carries a token that the log must not show.
    void StoreSignIn(const std::string& accountId) {
        WriteFile(home_.store(), R"({"cloud":{"private_key":""},"littleskin":{"access_token":"secret-token-123",)"
                                 R"("client_token":"c","current_role":"Steve","current_role_id":"0123abcd")" +
                                     (accountId.empty() ? "" : R"(,"account_id":")" + accountId + "\"") + "}}");
        fs::permissions(home_.store(), fs::perms::owner_read | fs::perms::owner_write);
    }
    void WriteVersionJson(const std::string& extraArguments) {
        WriteFile(core_ / "1.20.1.json",
                  R"({"id":"1.20.1","mainClass":"Game","minecraftArguments":"--username ${auth_player_name} )"
                  R"(--accessToken ${auth_access_token} )" + extraArguments + R"(","downloads":{"client":{"sha1":")" +
                      Sha1OfBytes(client_) + R"(","url":")" + official_.Url("/DATA/v1/objects/client.jar") +
                      R"("}},"libraries":[{"name":"com.example:lib:1.0","downloads":{"artifact":{)"
                      R"("path":"com/example/lib/1.0/lib-1.0.jar","url":")" +
                      official_.Url("/LIBRARIES/com/example/lib/1.0/lib-1.0.jar") + R"("}}}]})");
    }
    std::unique_ptr<Subprocess> Start(const std::string& backendBase = "http://127.0.0.1:9") {
        Strings env = {"LUMIVALE_LITTLESKIN_BASE=http://127.0.0.1:9", "LUMIVALE_BACKEND_BASE=" + backendBase,
                       "JAVA_HOME=" + std::string(kTestJdk), "LUMIVALE_MIRROR_BASE=" + mirror_.Url("/")};
        for (const char* name : {"DATA", "LIBRARIES", "META", "ASSETS", "MAVEN"}) {
            env.push_back("LUMIVALE_OFFICIAL_" + std::string(name) + "_BASE=" + official_.Url("/" + std::string(name) + "/"));
        }
        return StartHeadless(home_, env);
    }

    TempHome home_;
    TestHttpServer mirror_;
    TestHttpServer official_;
    fs::path core_ = home_.program() / ".minecraft" / "versions" / "1.20.1";
    fs::path officialJar_ = home_.program() / ".minecraft/libraries/net/minecraft/client/1.20.1/client-1.20.1-official.jar";
    std::string library_;
    std::string client_;
};

TEST_F(GameLaunchTest, LaunchCompletesFilesRunsTheGameLogsWithoutTheTokenAndReportsAnAbnormalEnd) {
    auto launcher = Start();
    launcher->Send(R"({"type":"game:launch"})");
    Strings lines;
    NextOfType(*launcher, "game:stopped", &lines);
    Strings types;
    for (const auto& line : lines) {
        const std::string type = ReadTextField(line, "type");
        if (types.empty() || types.back() != type || (type != "game:tick" && type != "install:progress")) types.push_back(type);
    }
    EXPECT_EQ(types, (Strings{"sys:cores", "game:info", "launch:step", "install:start", "install:progress", "launch:step",
                              "game:started", "game:tick"}))
        << ::testing::PrintToString(lines);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], R"({"type":"game:info","msg":"已为版本 1.20.1 自动选择推荐 Java"})");

    // The files were completed from the mirror; the damaged jar was kept aside.
    EXPECT_EQ(ReadFile(home_.program() / ".minecraft/libraries/com/example/lib/1.0/lib-1.0.jar"), library_);
    EXPECT_EQ(ReadFile(officialJar_), client_);
    EXPECT_EQ(ReadFile(officialJar_.string() + ".badsha1.bak"), "damaged");
    EXPECT_TRUE(official_.Requests().empty());

    // The log: header, the command line without the token, then the game's own output.
    const std::string log = ReadFile(home_.program() / "log" / "MC启动诊断.log");
    EXPECT_TRUE(std::regex_search(log, std::regex("^\\[Lumivale\\] 本次启动标记 launch-id: [0-9a-f-]{36}\r\n"))) << log;
    EXPECT_NE(log.find("Game --username Steve --accessToken *** --exit 0"), std::string::npos) << log;
    const auto output = log.find("[Lumivale] Java 输出：\r\n");
    ASSERT_NE(output, std::string::npos);
    EXPECT_EQ(log.substr(0, output).find("secret-token-123"), std::string::npos);
    EXPECT_NE(log.find("GAME ARGS --username Steve --accessToken secret-token-123 --exit 0", output), std::string::npos);

    // An abnormal end: "game:stopped", then the error.
    WriteVersionJson("--exit 1");
    launcher->Send(R"({"type":"game:launch"})");
    Strings failed;
    const std::string error = NextOfType(*launcher, "game:error", &failed);
    ASSERT_FALSE(failed.empty());
    EXPECT_EQ(ReadTextField(failed.back(), "type"), "game:stopped");
    EXPECT_EQ(error, R"({"type":"game:error","reason":"游戏进程异常退出（可能是 Java 版本不符或游戏文件缺失）"})");

    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
}

TEST_F(GameLaunchTest, AFinishedGameUploadsItsLengthToTheBackend) {
    backend::BackendServer backend(home_.root() / "backend.sqlite");
    ASSERT_TRUE(backend.Start("127.0.0.1", 0));
    StoreSignIn("u-77");
    auto launcher = Start("http://127.0.0.1:" + std::to_string(backend.Port()));
    EXPECT_EQ(NextOfType(*launcher, "cloud:playtime:got"), R"({"type":"cloud:playtime:got","total_seconds":0})");
    launcher->Send(R"({"type":"game:launch"})");
    NextOfType(*launcher, "game:stopped");
    // The upload follows the game's end on its own thread: ask until the total shows it.
    std::int64_t total = 0;
    for (int i = 0; i < 100 && total < 2; ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        launcher->Send(R"({"type":"cloud:playtime:get"})");
        total = ReadIntField(NextOfType(*launcher, "cloud:playtime:got"), "total_seconds");
    }
    EXPECT_GE(total, 2);  // the game sleeps 2.5 s
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    EXPECT_TRUE(std::regex_search(launcher->Stderr(), std::regex("游戏退出，上传时长：账号=u-77 本局=\\d+秒 增量=\\d+秒 结果=成功\\(服务端累计=" +
                                                                   std::to_string(total) + "\\)")))
        << launcher->Stderr();
}

TEST_F(GameLaunchTest, ChecksBeforeTheLaunchAnswerWithTheirReason) {
    WriteFile(home_.config(), "[launcher]\nselected_java=/no/such/java\nselected_core=" + core_.string() + "\n");
    auto launcher = Start();
    launcher->Send(R"({"type":"game:launch"})");
    EXPECT_EQ(NextOfType(*launcher, "game:error"),
              R"({"type":"game:error","reason":"你选择的 Java 已不存在或不可用（/no/such/java），请到 设置 - Java 运行环境 重新选择"})");
    launcher->Send(R"({"type":"config:set","key":"selected_core","value":"/elsewhere"})");
    launcher->Send(R"({"type":"game:launch"})");
    EXPECT_EQ(NextOfType(*launcher, "game:error"), R"({"type":"game:error","reason":"未找到核心 jar 文件"})");
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
}

}  // namespace
}  // namespace lumivale::test
