// config.ini gives back exactly what was stored, whatever the text.
#include <gtest/gtest.h>

#include "IniFile.h"
#include "TempHome.h"

namespace lumivale {
namespace {

TEST(IniFile, AwkwardValuesSurviveASaveWithoutSwallowingTheRestOfTheFile) {
    test::TempHome home;
    const auto file = home.root() / "config.ini";
    const std::vector<std::string> awkward = {
        "<<<X",
        "-Xss2m\n<<<END_OF_TEXT\nEND_OF_TEXT\n-Dtail",
        "  leading and trailing blanks  ",
        "第一行\n第二行",
        "plain=with equals;and semicolon",
        "",
    };
    {
        IniFile ini;
        for (std::size_t i = 0; i < awkward.size(); ++i) {
            ini.Set("launcher", "value" + std::to_string(i), awkward[i]);
        }
        ini.Set("launcher", "after", "still here");
        ini.Set("java", "count", "1");
        ASSERT_TRUE(ini.Save(file));
    }
    IniFile back;
    ASSERT_TRUE(back.Load(file));
    for (std::size_t i = 0; i < awkward.size(); ++i) {
        EXPECT_EQ(back.Get("launcher", "value" + std::to_string(i)), awkward[i]) << i;
    }
    EXPECT_EQ(back.Get("launcher", "after"), "still here");
    EXPECT_EQ(back.GetInt("java", "count", 0), 1);
}

TEST(IniFile, CommentsAndOrderOfAHandWrittenFileAreKept) {
    test::TempHome home;
    const auto file = home.root() / "config.ini";
    test::WriteFile(file, "; written by hand\n[launcher]\n; my memory\nmemory_mb=4096\ngc_preset=zgc\n\n[other]\nx=1\n");
    IniFile ini;
    ASSERT_TRUE(ini.Load(file));
    ini.Set("launcher", "memory_mb", "2048");
    ini.Set("launcher", "server_port", "25565");
    ASSERT_TRUE(ini.Save(file));
    EXPECT_EQ(test::ReadFile(file),
              "; written by hand\n[launcher]\n; my memory\nmemory_mb=2048\ngc_preset=zgc\n"
              "server_port=25565\n\n[other]\nx=1\n");
}

}  // namespace
}  // namespace lumivale
