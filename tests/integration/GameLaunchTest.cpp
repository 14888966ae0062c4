// "game:launch" from end to end: a core with a missing library and a damaged official client jar, a
// loopback mirror that has them, the machine's JDK, a small game that prints its arguments, and the
// reference backend that keeps the play time; and the core choice as the page sees it.
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
        System.err.write(new byte[] {(byte) 0xE4, (byte) 0xB8, (byte) 0xAD, (byte) 0xFF, 0, '\r', '\n'});  // raw, on the other stream
        System.err.flush();
        int code = 0;
        for (int i = 0; i + 1 < args.length; i++) {
            if (args[i].equals("--exit")) code = Integer.parseInt(args[i + 1]);
            if (args[i].equals("--sleep")) Thread.sleep(Long.parseLong(args[i + 1]));
        }
        System.out.println("bye");
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
        // A signed-in player, so the command line carries a token that the log must not show.
        WriteFile(home_.store(), R"({"cloud":{"private_key":""},"littleskin":{"access_token":"secret-token-123","client_token":"c",)"
                                 R"("current_role":"Steve","current_role_id":"0123abcd","account_id":"u-77"}})");
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
    std::unique_ptr<Subprocess> Start(const std::string& backendBase) {
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

TEST_F(GameLaunchTest, LaunchCompletesFilesRunsTheGameUploadsItsLengthAndAnswersEveryFailureWithItsReason) {
    backend::BackendServer backend(home_.root() / "backend.sqlite");
    ASSERT_TRUE(backend.Start("127.0.0.1", 0));
    auto launcher = Start("http://127.0.0.1:" + std::to_string(backend.Port()));
    EXPECT_EQ(NextOfType(*launcher, "cloud:playtime:got"), R"({"type":"cloud:playtime:got","total_seconds":0})");
    launcher->Send(R"({"type":"game:launch"})");
    Strings lines, types;
    NextOfType(*launcher, "game:stopped", &lines);
    for (const auto& line : lines) {
        const std::string type = ReadTextField(line, "type");
        if (types.empty() || types.back() != type || (type != "game:tick" && type != "install:progress")) types.push_back(type);
    }
    EXPECT_EQ(types, (Strings{"sys:cores", "game:info", "launch:step", "install:start", "install:progress", "launch:step",
                              "game:started", "game:tick"})) << ::testing::PrintToString(lines);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], R"({"type":"game:info","msg":"已为版本 1.20.1 自动选择推荐 Java"})");

    // The files were completed from the mirror; the damaged jar was kept aside.
    EXPECT_EQ(ReadFile(home_.program() / ".minecraft/libraries/com/example/lib/1.0/lib-1.0.jar"), library_);
    EXPECT_EQ(ReadFile(officialJar_), client_);
    EXPECT_EQ(ReadFile(officialJar_.string() + ".badsha1.bak"), "damaged");
    EXPECT_TRUE(official_.Requests().empty());

    // The log: the launch id, the command line without the token, then both streams byte for byte.
    const std::string log = ReadFile(home_.program() / "log" / "MC启动诊断.log");
    EXPECT_TRUE(std::regex_search(log, std::regex("^\\[Lumivale\\] 本次启动标记 launch-id: [0-9a-f-]{36}\r\n\\[Lumivale\\] 启动命令行：\r\n")))
        << log;
    const std::string command = "Game --username Steve --accessToken *** --exit 0 --sleep 2500\r\n\r\n[Lumivale] Java 输出：\r\n";
    ASSERT_NE(log.find(command), std::string::npos) << log;
    EXPECT_EQ(log.substr(0, log.find(command)).find("secret-token-123"), std::string::npos);
    EXPECT_EQ(log.substr(log.find(command) + command.size()), "GAME ARGS --username Steve --accessToken secret-token-123 --exit 0 --sleep 2500\n" +
                                                                  std::string("\xE4\xB8\xAD\xFF\0\r\n", 7) + "bye\n");

    // The game's length reaches the backend on a thread of its own: ask until the total shows it.
    std::int64_t total = 0;
    for (int i = 0; i < 100 && total < 2; ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        launcher->Send(R"({"type":"cloud:playtime:get"})");
        const std::string got = NextOfType(*launcher, "cloud:playtime:got");
        if (got.empty()) break;
        total = ReadIntField(got, "total_seconds");
    }
    EXPECT_GE(total, 2);  // the game sleeps 2.5 s

    // An abnormal end: "game:stopped", then the error.
    WriteVersionJson("--exit 1");
    launcher->Send(R"({"type":"game:launch"})");
    Strings failed;
    EXPECT_EQ(NextOfType(*launcher, "game:error", &failed),
              R"({"type":"game:error","reason":"游戏进程异常退出（可能是 Java 版本不符或游戏文件缺失）"})");
    EXPECT_EQ(ReadTextField(failed.empty() ? "" : failed.back(), "type"), "game:stopped");

    // Checks before the launch.
    launcher->Send(R"({"type":"config:set","key":"selected_java","value":"/no/such/java"})");
    launcher->Send(R"({"type":"game:launch"})");
    EXPECT_EQ(NextOfType(*launcher, "game:error"),
              R"({"type":"game:error","reason":"你选择的 Java 已不存在或不可用（/no/such/java），请到 设置 - Java 运行环境 重新选择"})");
    launcher->Send(R"({"type":"config:set","key":"selected_core","value":"/elsewhere"})");
    launcher->Send(R"({"type":"game:launch"})");
    EXPECT_EQ(NextOfType(*launcher, "game:error"), R"({"type":"game:error","reason":"未找到核心 jar 文件"})");
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    EXPECT_TRUE(std::regex_search(launcher->Stderr(), std::regex("游戏退出，上传时长：账号=u-77 本局=\\d+秒 增量=\\d+秒 结果=成功\\(服务端累计=" +
                                                                   std::to_string(total) + "\\)")))
        << launcher->Stderr();
}

TEST(CoreSelection, ChoosingACoreReportsItAndPicksItsJavaWhileOnAuto) {
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
