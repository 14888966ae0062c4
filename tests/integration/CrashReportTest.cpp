// A real JVM game crashing through the headless launcher: explained, exported without secrets, start failures apart.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "LaunchTestKit.h"
#include "TestJava.h"
#include "ZipArchive.h"

namespace lumivale::test {
namespace {

constexpr const char* kGameSource = R"(import java.nio.file.*;
public class Game {
    public static void main(String[] args) throws Exception {
        System.out.println("GAME ARGS " + String.join(" ", args));
        Files.createDirectories(Paths.get("crash-reports"));
        Files.writeString(Paths.get("crash-reports/crash-2024-01-01_00.00.00-client.txt"),
            "---- Minecraft Crash Report ----\nDescription: Unexpected error\n\njava.lang.OutOfMemoryError: Java heap space\n");
        java.util.List<long[]> hog = new java.util.ArrayList<>();
        while (true) hog.add(new long[1 << 20]);
    }
})";

const std::string kToken = "secret-token-123", kClientToken = "client-tok-456", kMail = "player@example.com";

nlohmann::json NextEvent(Subprocess& launcher, const std::string& type, Strings* seen = nullptr) {
    const std::string line = NextOfType(launcher, type, seen);
    return line.empty() ? nlohmann::json::object() : nlohmann::json::parse(line);
}

Strings TypesOf(const Strings& lines) {
    Strings types;
    for (const std::string& line : lines) {
        if (!ReadTextField(line, "type").starts_with("cloud:")) types.push_back(ReadTextField(line, "type"));
    }
    return types;
}

TEST(CrashReport, ARealCrashIsExplainedSavedWithoutSecretsAndAStartFailureToldApart) {
    if (!HasTestJdk()) GTEST_SKIP() << "no JDK 17 here";
    TempHome home;
    const fs::path build = home.root() / "build", core = home.program() / ".minecraft" / "versions" / "1.20.1";
    ASSERT_TRUE(CompileJava(build, {{"Game", kGameSource}}));
    const std::string gameClass = ReadFile(build / "Game.class");
    WriteFile(core / "1.20.1.jar", CoreJarBytes(build / "core.jar", gameClass));
    WriteFile(core / "1.20.1.json", R"({"id":"1.20.1","mainClass":"Game","minecraftArguments":"--username ${auth_player_name} )"
                                    R"(--accessToken ${auth_access_token}"})");
    WriteFile(home.config(), "[launcher]\nselected_java=auto\nmemory_mb=256\ngc_preset=g1_std\n");
    WriteFile(home.store(), R"({"cloud":{"private_key":""},"littleskin":{"access_token":")" + kToken + R"(","client_token":")" +
                                kClientToken + R"(","account_name":")" + kMail + R"(","current_role":"Steve","current_role_id":"0123abcd"}})");
    fs::permissions(home.store(), fs::perms::owner_read | fs::perms::owner_write);
    auto launcher = StartHeadless(home, {"JAVA_HOME=" + std::string(kTestJdk), "LUMIVALE_MIRROR_BASE=http://127.0.0.1:9/"});

    // The game runs out of memory: the crash report it wrote and the captured output both say so.
    launcher->Send(R"({"type":"game:launch"})");
    Strings seen;
    const nlohmann::json crash = NextEvent(*launcher, "game:crash", &seen);
    ASSERT_FALSE(crash.empty()) << launcher->Stderr();
    const Strings types = TypesOf(seen);
    ASSERT_GE(types.size(), 2u);
    EXPECT_EQ(Strings(types.end() - 2, types.end()), (Strings{"game:stopped", "game:error"}));
    EXPECT_EQ(std::count(types.begin(), types.end(), "game:warning"), 0);
    EXPECT_EQ(crash["stage"], "running");
    EXPECT_EQ(crash["exitCode"], 1);
    ASSERT_FALSE(crash["causes"].empty());
    EXPECT_EQ(crash["causes"][0]["id"], "out_of_memory");
    EXPECT_EQ(crash["causes"][0]["evidence"], "java.lang.OutOfMemoryError: Java heap space");
    const fs::path report = core / "crash-reports" / "crash-2024-01-01_00.00.00-client.txt";
    EXPECT_EQ(crash["files"], (nlohmann::json{report.string(), (home.program() / "log" / "MC启动诊断.log").string()}));

    // The diagnostic zip, into the folder the player picks.
    const fs::path saveTo = home.root() / "我的 诊断";
    fs::create_directories(saveTo);
    launcher->Send(R"({"type":"crash:export"})");
    EXPECT_EQ(NextEvent(*launcher, "host:pick")["kind"], "folder");
    launcher->Send(nlohmann::json{{"type", "host:picked"}, {"path", saveTo.string()}}.dump());
    const nlohmann::json saved = NextEvent(*launcher, "crash:saved");
    ASSERT_TRUE(saved.contains("path")) << saved;
    const auto zip = ZipArchive::Open(saved["path"].get<std::string>());
    ASSERT_TRUE(zip.has_value());
    Strings names;
    std::string everything;
    for (std::uint64_t i = 0; i < zip->Count(); ++i) {
        names.push_back(zip->At(i)->name);
        everything += zip->Read(i).value_or("");
    }
    EXPECT_EQ(names, (Strings{"crash-analysis.txt", "crash-reports/crash-2024-01-01_00.00.00-client.txt", "launcher/MC启动诊断.log"}));
    EXPECT_NE(everything.find("GAME ARGS --username Steve --accessToken ***"), std::string::npos) << everything;
    for (const std::string& secret : {kToken, kClientToken, kMail}) EXPECT_EQ(everything.find(secret), std::string::npos) << secret;
    EXPECT_NE(ReadFile(home.program() / "log" / "MC启动诊断.log").find(kToken), std::string::npos) << "the game did get it";
    // The log folder opens where the crash report is.
    launcher->Send(R"({"type":"crash:open"})");
    EXPECT_EQ(NextEvent(*launcher, "host:open")["url"], "file://" + (core / "crash-reports").string());

    // A main class for Java 26: warned before the start; the older crash report is not read again.
    fs::last_write_time(report, fs::file_time_type::clock::now() - std::chrono::hours(1));
    std::string newer = gameClass;
    newer[6] = 0;
    newer[7] = 70;
    WriteFile(core / "1.20.1.jar", CoreJarBytes(build / "core.jar", newer));
    launcher->Send(R"({"type":"game:launch"})");
    const nlohmann::json warning = NextEvent(*launcher, "game:warning");
    EXPECT_NE(warning.value("msg", "").find("Java 17 比这个版本需要的 Java 26 旧"), std::string::npos) << warning;
    const nlohmann::json refused = NextEvent(*launcher, "game:crash");
    EXPECT_EQ(refused["stage"], "start");
    ASSERT_FALSE(refused["causes"].empty()) << refused;
    EXPECT_EQ(refused["causes"][0]["id"], "java_too_old");
    EXPECT_NE(refused["causes"][0]["advice"].get<std::string>().find("Game 需要 Java 26，而当前是 Java 17"), std::string::npos);
    EXPECT_EQ(refused["files"], nlohmann::json{(home.program() / "log" / "MC启动诊断.log").string()});
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
}

}  // namespace
}  // namespace lumivale::test
