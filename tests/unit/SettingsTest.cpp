// The settings record on real files: config.ini beside the program, orlu.json per user.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "CredentialStore.h"
#include "Settings.h"
#include "TempHome.h"

namespace lumivale {
namespace {

using test::ReadFile;
using test::TempHome;
using test::WriteFile;

Settings Loaded() {
    Settings settings;
    settings.Load();
    return settings;
}

// The stored fields, for comparing and setting them all at once.
template <class S>
auto Stored(S& s) {
    return std::tie(s.selectedJava, s.selectedCore, s.memoryMb, s.processPriority, s.gcPreset,
                    s.customJvmArgs, s.serverAddress, s.serverPort, s.gameDir, s.serverUrl,
                    s.accessToken, s.clientToken, s.currentRole, s.currentRoleId,
                    s.availableProfiles, s.accountId, s.accountName, s.privateKey);
}

TEST(Settings, EveryFieldSurvivesSaveAndLoadWhateverItsTextAndAccountValuesStayOutOfConfig) {
    TempHome home;
    // A hand-written file: what the record does not own survives its saves.
    WriteFile(home.config(), "; kept\n[launcher]\nlegacy_flag=on\n[plugins]\nshader=光\n");
    Settings saved = Loaded();
    saved.javaList = {{"Java 17 中文", "/opt/中文/bin/java", true}, {"Java 8", "/j8/bin/java", false}};
    // In the order of Stored(); an empty text stays empty rather than turning into the default.
    Stored(saved) = std::tuple("/opt/中文/bin/java", "<<<X", -1, "", "zgc",
                               "-Xss2m\n<<<END_OF_TEXT\nEND_OF_TEXT\n-Dname=\"中文\" C:\\dir\r\n-Dcr=\r\\r", "  leading and trailing blanks  ",
                               70000, "plain=with equals;and semicolon", "http://127.0.0.1:9/", "token-a", "token-c", "角色",
                               "role-id", R"([{"id":"1","name":"角色"}])", "account-7", "玩家", "-----BEGIN KEY-----\nAAA\n-----END KEY-----");
    saved.Save();

    const std::string ini = ReadFile(home.config());
    EXPECT_EQ(ini.find("token-a"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("BEGIN KEY"), std::string::npos) << ini;
    EXPECT_EQ(ini.rfind("; kept\n[launcher]\nlegacy_flag=on\n", 0), 0u) << ini;
    EXPECT_NE(ini.find("[plugins]\nshader=光\n"), std::string::npos) << ini;
    EXPECT_FALSE(std::filesystem::exists(home.program() / "config.ini.tmp"));

    const Settings loaded = Loaded();
    EXPECT_EQ(Stored(loaded), Stored(saved));
    ASSERT_EQ(loaded.javaList.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const auto &a = loaded.javaList[i], &b = saved.javaList[i];
        EXPECT_EQ(std::tie(a.name, a.exe, a.manual), std::tie(b.name, b.exe, b.manual)) << i;
    }
}

// Older config.ini files kept the account: it moves into an empty store, the old keys go once it is there.
TEST(Settings, OldAccountKeysMoveIntoTheStoreOnce) {
    const std::string old =
        "; kept comment\n[launcher]\nmemory_mb=2048\nselected_role=老角色\nselected_role_id=rid-1\n"
        "[auth]\naccess_token=at\nrefresh_token=rt\nclient_token=ct\navailable_profiles=[{\"id\":\"x\"}]\n"
        "ygg_api=https://old.example/api\nprivate_key=pk\n[custom]\nkeep=me\n";
    const Credentials moved{"at", "ct", "老角色", "rid-1", R"([{"id":"x"}])", "", "", "pk"};
    const struct {
        const char *what, *store;  // store: nullptr for no file
        bool storeUnwritable, moves;
        const char *token, *role;
    } cases[] = {
        {"no store", nullptr, false, true, "at", "老角色"},
        {"empty store", "", false, true, "at", "老角色"},
        {"store with a sign-in", R"({"cloud":{},"littleskin":{"access_token":"store"}})", false, false, "store", ""},
        {"damaged store", R"({"littleskin": {"access_token": "half)", false, false, "", "老角色"},
        {"store cannot be written", nullptr, true, false, "", "老角色"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempHome home;
        WriteFile(home.config(), old);
        if (c.store) WriteFile(home.store(), c.store);
        // A non-empty folder where the temporary store file goes: the write fails, even for root.
        if (c.storeUnwritable) WriteFile(home.data() / "LumivaleLauncher" / "orlu.json.tmp" / "x", "x");
        const Settings settings = Loaded();
        EXPECT_EQ(settings.accessToken, c.token);
        EXPECT_EQ(settings.currentRole, c.role);
        if (c.moves) {
            Credentials stored;
            ASSERT_TRUE(LoadCredentials(stored));
            EXPECT_EQ(SerializeCredentials(stored), SerializeCredentials(moved));
            EXPECT_EQ(ReadFile(home.config()), "; kept comment\n[launcher]\nmemory_mb=2048\n\n[custom]\nkeep=me\n");
        } else {
            EXPECT_EQ(ReadFile(home.config()), old);
            EXPECT_EQ(std::filesystem::exists(home.store()) ? ReadFile(home.store()) : "none", c.store ? c.store : "none");
        }
    }
}

}  // namespace
}  // namespace lumivale
