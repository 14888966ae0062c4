// Settings through the line protocol in a Chinese-named folder; input bytes taken as they are (0x1A ends nothing).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "Paths.h"
#include "Subprocess.h"
#include "TempHome.h"

namespace lumivale::test {
namespace {

TEST(HeadlessSettings, ConfigSetIsStoredReportedAndReadAtTheNextStart) {
    TempHome home;
    const std::string folder = PathUtf8(home.root() / Utf8Path("程序 文件夹"));
    const std::vector<std::string> env = {"XDG_DATA_HOME=" + home.data().string()};
    // Each setting is answered by its save confirmation and then by the settings as they now stand.
    auto config = [&](Subprocess& launcher, const std::string& key) {
        const std::string saved = launcher.ReadLine().value_or("");
        EXPECT_EQ(nlohmann::json::parse(saved), (nlohmann::json{{"type", "config:saved"}, {"key", key}, {"ok", true}}));
        const std::string reply = launcher.ReadLine().value_or("");
        EXPECT_EQ(reply.find('\r'), std::string::npos);
        const auto event = nlohmann::json::parse(reply);
        EXPECT_EQ(event.at("type"), "sys:config") << reply;
        return event;
    };
    {
        Subprocess launcher(LUMIVALE_EXE, {"--headless", "--home", folder}, env);
        launcher.Send("\x1A junk that is no command");
        launcher.Send(R"({"type":"config:set","key":"process_priority","value":"low"})");
        EXPECT_EQ(config(launcher, "process_priority").at("process_priority"), "low");
        launcher.Send(R"({"type":"config:set","key":"custom_jvm_args","value":"-Dname=\"玩家\" -Xss2m"})");
        EXPECT_EQ(config(launcher, "custom_jvm_args").at("custom_jvm_args"), "-Dname=\"玩家\" -Xss2m");
        launcher.Send(R"({"type":"config:set","key":"server_port","value":25566})");
        EXPECT_EQ(config(launcher, "server_port").at("server_port"), 25566);
        launcher.CloseInput();
        EXPECT_EQ(launcher.Wait(), 0);
    }
    const std::string ini = ReadFile(Utf8Path(folder) / "config.ini");
    for (const char* stored : {"process_priority=low", "custom_jvm_args=-Dname=\"玩家\" -Xss2m", "server_port=25566"}) {
        EXPECT_NE(ini.find(stored), std::string::npos) << stored << "\n" << ini;
    }
    Subprocess again(LUMIVALE_EXE, {"--headless", "--home", folder}, env);
    again.Send(R"({"type":"config:set","key":"gc_preset","value":"g1"})");
    const auto event = config(again, "gc_preset");
    EXPECT_EQ(event.at("process_priority"), "low");
    EXPECT_EQ(event.at("server_port"), 25566);
    again.CloseInput();
    EXPECT_EQ(again.Wait(), 0);
}

}  // namespace
}  // namespace lumivale::test
