// The real launcher, driven through its headless host as the page and the window would drive it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Subprocess.h"
#include "TempHome.h"

namespace lumivale::test {
namespace {

class Launcher {
public:
    explicit Launcher(const TempHome& home, std::vector<std::string> extraEnv = {})
        : process_(LUMIVALE_EXE, {"--headless", "--home", home.program().string()},
                   WithData(home, std::move(extraEnv))) {}

    void Send(const std::string& line) { process_.Send(line); }
    std::string Next() { return process_.ReadLine().value_or("<no line>"); }
    // Every command before this one has been handled once its answer arrives.
    void Sync() {
        Send(R"({"type":"game:stop"})");
        EXPECT_EQ(Next(), R"({"type":"game:stopped"})");
    }
    int Close() {
        process_.CloseInput();
        return process_.Wait();
    }
    Subprocess& process() { return process_; }

private:
    static std::vector<std::string> WithData(const TempHome& home, std::vector<std::string> env) {
        env.push_back("XDG_DATA_HOME=" + home.data().string());
        return env;
    }
    Subprocess process_;
};

constexpr const char* kDefaultConfigEvent =
    R"({"type":"sys:config","process_priority":"medium","gc_preset":"g1_optimized",)"
    R"("custom_jvm_args":"","server_address":"","server_port":25565})";

std::string TypeOf(const std::string& line) {
    const auto start = line.find(R"("type":")");
    if (start == std::string::npos) return line;
    const auto from = start + 8;
    return line.substr(from, line.find('"', from) - from);
}

TEST(Headless, FreshHomeAnswersPageLoadStoresSettingsAndExitsAtEndOfInput) {
    TempHome home;
    Launcher launcher(home);
    launcher.Send(R"({"type":"host:loaded"})");
    // The Java list is whatever this machine has installed.
    const std::string java = launcher.Next();
    EXPECT_TRUE(java.starts_with(R"({"type":"sys:java","list":[)")) << java;
    EXPECT_EQ(launcher.Next(), R"({"type":"sys:cores","list":[]})");
    const std::string memory = launcher.Next();
    EXPECT_TRUE(memory.starts_with(R"({"type":"sys:memory","totalGB":)")) << memory;
    EXPECT_EQ(launcher.Next(), kDefaultConfigEvent);

    // A number sent in quotes is no number: 0 is stored, as given, and nothing is reported.
    launcher.Send(R"({"type":"config:set","key":"memory_mb","value":"4096"})");
    launcher.Send(R"({"type":"game:stop"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"game:stopped"})");
    EXPECT_NE(ReadFile(home.config()).find("memory_mb=0\n"), std::string::npos);

    EXPECT_EQ(launcher.Close(), 0);
    EXPECT_EQ(ReadFile(home.store()),
              "{\n"
              "  \"cloud\": {\n"
              "    \"private_key\": \"\"\n"
              "  },\n"
              "  \"littleskin\": {\n"
              "    \"access_token\": \"\",\n"
              "    \"account_id\": \"\",\n"
              "    \"account_name\": \"\",\n"
              "    \"available_profiles\": \"\",\n"
              "    \"client_token\": \"\",\n"
              "    \"current_role\": \"\",\n"
              "    \"current_role_id\": \"\"\n"
              "  }\n"
              "}");
}

TEST(Headless, SysInitSendsThreeReportsWithoutConfig) {
    TempHome home;
    Launcher launcher(home);
    launcher.Send(R"({"type":"sys:init"})");
    EXPECT_EQ(TypeOf(launcher.Next()), "sys:java");
    EXPECT_EQ(TypeOf(launcher.Next()), "sys:cores");
    EXPECT_EQ(TypeOf(launcher.Next()), "sys:memory");
    launcher.Sync();  // no sys:config came in between
    EXPECT_EQ(launcher.Close(), 0);
}

TEST(Headless, LaunchOptionsAreReportedAndSurviveARestart) {
    TempHome home;
    {
        Launcher launcher(home);
        launcher.Send(R"({"type":"config:set","key":"process_priority","value":"high"})");
        EXPECT_EQ(TypeOf(launcher.Next()), "sys:config");
        launcher.Send(R"({"type":"config:set","key":"custom_jvm_args","value":"-Dname=\"天空\"\n-Xss2m"})");
        EXPECT_EQ(launcher.Next(),
                  R"({"type":"sys:config","process_priority":"high","gc_preset":"g1_optimized",)"
                  R"("custom_jvm_args":"-Dname=\"天空\"\n-Xss2m","server_address":"","server_port":25565})");
        launcher.Send(R"({"type":"config:set","key":"server_port","value":70000})");
        EXPECT_EQ(TypeOf(launcher.Next()), "sys:config");
        launcher.Send(R"({"type":"config:set","key":"selected_java","value":"C:\\Java\\bin\\java.exe"})");
        launcher.Send(R"({"type":"config:set","key":"no_such_key","value":"x"})");
        launcher.Sync();  // neither of the last two is reported
        EXPECT_EQ(launcher.Close(), 0);
    }
    Launcher again(home);
    again.Send(R"({"type":"host:loaded"})");
    for (int i = 0; i < 3; ++i) again.Next();
    EXPECT_EQ(again.Next(),
              R"({"type":"sys:config","process_priority":"high","gc_preset":"g1_optimized",)"
              R"("custom_jvm_args":"-Dname=\"天空\"\n-Xss2m","server_address":"","server_port":70000})");
    EXPECT_EQ(again.Close(), 0);
    const std::string config = ReadFile(home.config());
    EXPECT_NE(config.find("selected_java=C:\\Java\\bin\\java.exe\n"), std::string::npos) << config;
    EXPECT_EQ(config.find("no_such_key"), std::string::npos);
}

TEST(Headless, WindowAndBrowserCommandsBecomeHostActions) {
    TempHome home;
    Launcher launcher(home);
    launcher.Send(R"({"type":"window","action":"max"})");
    launcher.Send(R"({"type":"WINDOW","action":"min"})");
    launcher.Send(R"({"type":"browser:open","url":"file:///etc/passwd"})");
    launcher.Send(R"x({"type":"browser:open","url":"javascript:alert(1)"})x");
    launcher.Send("not json at all");
    launcher.Sync();  // none of the above answered

    launcher.Send(R"({"type":"window","action":"min"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:window","action":"min"})");
    launcher.Send(R"({"type":"drag"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:window","action":"drag"})");
    launcher.Send(R"({"type":"browser:open","url":"HTTPS://littleskin.cn/user"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:open","url":"HTTPS://littleskin.cn/user"})");

    // Closing the window ends the run even while input stays open.
    launcher.Send(R"({"type":"window","action":"close"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:window","action":"close"})");
    EXPECT_EQ(launcher.process().Wait(), 0);
}

TEST(Headless, SecondStartOnTheSameHomeLeavesAtOnceAndOtherHomesRunSideBySide) {
    TempHome home;
    Launcher first(home);
    first.Sync();  // the first instance is up

    Launcher second(home);
    EXPECT_EQ(second.process().Wait(), 0);
    EXPECT_NE(second.process().Stderr().find("启动器已在运行中，请查看任务栏。"), std::string::npos);

    TempHome other;
    Launcher neighbour(other);
    neighbour.Sync();
    EXPECT_EQ(neighbour.Close(), 0);

    first.Sync();  // the first one is unharmed
    EXPECT_EQ(first.Close(), 0);
}

TEST(Headless, OlderAccountKeysMoveFromConfigIntoTheStoreAtStart) {
    TempHome home;
    // A real key: the stored sign-in makes it ready at start, and a key that does not load would
    // be replaced by a new one.
    std::string key = ReadFile(std::filesystem::path(LUMIVALE_TEST_DATA) / "rsa-test-key.blob.b64");
    while (!key.empty() && key.back() == '\n') key.pop_back();
    WriteFile(home.config(),
              "[launcher]\nselected_role=史蒂夫\nselected_role_id=abc123\nmemory_mb=2048\n"
              "[auth]\naccess_token=tok\nrefresh_token=old\nclient_token=cli\n"
              "available_profiles=[{\"id\":\"abc123\",\"name\":\"史蒂夫\"}]\nygg_api=x\nprivate_key=" + key + "\n");
    Launcher launcher(home);
    launcher.Sync();
    EXPECT_EQ(launcher.Close(), 0);

    const std::string store = ReadFile(home.store());
    EXPECT_NE(store.find(R"("access_token": "tok")"), std::string::npos) << store;
    EXPECT_NE(store.find(R"("client_token": "cli")"), std::string::npos);
    EXPECT_NE(store.find(R"("current_role": "史蒂夫")"), std::string::npos);
    EXPECT_NE(store.find(R"("current_role_id": "abc123")"), std::string::npos);
    EXPECT_NE(store.find(R"("available_profiles": "[{\"id\":\"abc123\",\"name\":\"史蒂夫\"}]")"),
              std::string::npos);
    EXPECT_NE(store.find(R"("private_key": ")" + key + "\""), std::string::npos);

    const std::string config = ReadFile(home.config());
    for (const char* gone : {"selected_role", "access_token", "refresh_token", "client_token",
                             "available_profiles", "ygg_api", "private_key"}) {
        EXPECT_EQ(config.find(gone), std::string::npos) << gone << " left in\n" << config;
    }
    EXPECT_NE(config.find("memory_mb=2048\n"), std::string::npos);
}

}  // namespace
}  // namespace lumivale::test
