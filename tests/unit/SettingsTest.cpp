// The settings record on real files: config.ini beside the program, orlu.json per user.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "CredentialStore.h"
#include "Endpoints.h"
#include "IniFile.h"
#include "Settings.h"
#include "TempHome.h"

namespace lumivale {
namespace {

using test::ReadFile;
using test::TempHome;
using test::WriteFile;

const std::string kChinese = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文

std::unique_ptr<IniFile> ReadIni(const std::filesystem::path& file) {
    auto ini = std::make_unique<IniFile>();
    EXPECT_TRUE(ini->Load(file)) << file;
    return ini;
}

TEST(Settings, DefaultsWhenNoFileExists) {
    TempHome home;
    Settings settings;
    settings.Load();

    EXPECT_EQ(settings.oauth.clientId.size(), 4u);
    EXPECT_EQ(settings.oauth.clientSecret.size(), 40u);
    EXPECT_EQ(settings.oauth.redirectUri.size(), 25u);
    EXPECT_TRUE(settings.javaList.empty());
    EXPECT_TRUE(settings.cores.empty());
    EXPECT_EQ(settings.selectedJava, "");
    EXPECT_EQ(settings.selectedCore, "");
    EXPECT_EQ(settings.memoryMb, 8192);
    EXPECT_EQ(settings.processPriority, "medium");
    EXPECT_EQ(settings.gcPreset, "g1_optimized");
    EXPECT_EQ(settings.customJvmArgs, "");
    EXPECT_EQ(settings.serverAddress, "");
    EXPECT_EQ(settings.serverPort, 25565);
    EXPECT_EQ(std::filesystem::path(settings.gameDir), home.program() / ".minecraft");
    EXPECT_EQ(std::filesystem::path(settings.ConfigPath()), home.config());
    EXPECT_EQ(settings.accessToken, "");
    EXPECT_EQ(settings.currentRole, "");
    EXPECT_EQ(settings.privateKey, "");
    EXPECT_EQ(settings.serverUrl, "");
    EXPECT_EQ(settings.yggdrasilRoot, GetEndpoints().YggdrasilRoot());
    EXPECT_FALSE(settings.yggdrasilRoot.empty());

    // Loading creates the (empty) credential store but no config.ini; the first save does.
    EXPECT_FALSE(std::filesystem::exists(home.config()));
    ASSERT_TRUE(std::filesystem::exists(home.store()));
    Credentials stored;
    EXPECT_TRUE(LoadCredentials(stored));
    EXPECT_EQ(stored.accessToken, "");
    settings.Save();
    EXPECT_TRUE(std::filesystem::exists(home.config()));
}

TEST(Settings, EveryStoredFieldSurvivesSaveAndLoad) {
    TempHome home;
    Settings saved;
    saved.Load();
    saved.javaList = {{"Java 17 " + kChinese, "/opt/" + kChinese + "/bin/java", true},
                      {"Java 8", "/usr/lib/jvm/8/bin/java", false}};
    saved.selectedJava = "/opt/" + kChinese + "/bin/java";
    saved.selectedCore = (home.program() / ".minecraft/versions/1.20.4").string();
    saved.memoryMb = -1;
    saved.processPriority = "high";
    saved.gcPreset = "zgc";
    saved.customJvmArgs = "-Xss2M\n-Dname=\"" + kChinese + "\" C:\\dir";
    saved.serverAddress = "mc." + kChinese + ".example";
    saved.serverPort = 70000;
    saved.gameDir = "/games/" + kChinese;
    saved.accessToken = "token-a";
    saved.clientToken = "token-c";
    saved.currentRole = "角色";
    saved.currentRoleId = "role-id";
    saved.availableProfiles = R"([{"id":"1","name":"角色"}])";
    saved.accountId = "account-7";
    saved.accountName = "玩家";
    saved.privateKey = "-----BEGIN KEY-----\nAAA\n-----END KEY-----";
    saved.serverUrl = "http://127.0.0.1:9/";
    saved.Save();

    const std::string ini = ReadFile(home.config());
    EXPECT_NE(ini.find("memory_mb=-1\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("server_port=70000\n"), std::string::npos) << ini;
    // Account values live in the credential store only.
    EXPECT_EQ(ini.find("token-a"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("BEGIN KEY"), std::string::npos) << ini;

    Settings loaded;
    loaded.Load();
    ASSERT_EQ(loaded.javaList.size(), 2u);
    EXPECT_EQ(loaded.javaList[0].name, saved.javaList[0].name);
    EXPECT_EQ(loaded.javaList[0].exe, saved.javaList[0].exe);
    EXPECT_TRUE(loaded.javaList[0].manual);
    EXPECT_EQ(loaded.javaList[1].name, "Java 8");
    EXPECT_EQ(loaded.javaList[1].exe, "/usr/lib/jvm/8/bin/java");
    EXPECT_FALSE(loaded.javaList[1].manual);
    EXPECT_EQ(loaded.selectedJava, saved.selectedJava);
    EXPECT_EQ(loaded.selectedCore, saved.selectedCore);
    EXPECT_EQ(loaded.memoryMb, -1);
    EXPECT_EQ(loaded.processPriority, "high");
    EXPECT_EQ(loaded.gcPreset, "zgc");
    EXPECT_EQ(loaded.customJvmArgs, saved.customJvmArgs);
    EXPECT_EQ(loaded.serverAddress, saved.serverAddress);
    EXPECT_EQ(loaded.serverPort, 70000);
    EXPECT_EQ(loaded.gameDir, saved.gameDir);
    EXPECT_EQ(loaded.accessToken, "token-a");
    EXPECT_EQ(loaded.clientToken, "token-c");
    EXPECT_EQ(loaded.currentRole, "角色");
    EXPECT_EQ(loaded.currentRoleId, "role-id");
    EXPECT_EQ(loaded.availableProfiles, saved.availableProfiles);
    EXPECT_EQ(loaded.accountId, "account-7");
    EXPECT_EQ(loaded.accountName, "玩家");
    EXPECT_EQ(loaded.privateKey, saved.privateKey);
    EXPECT_EQ(loaded.serverUrl, saved.serverUrl);

    // Empty texts are written as empty values and read back empty, not as the defaults.
    loaded.processPriority.clear();
    loaded.customJvmArgs.clear();
    loaded.Save();
    EXPECT_NE(ReadFile(home.config()).find("process_priority=\n"), std::string::npos);
    Settings again;
    again.Load();
    EXPECT_EQ(again.processPriority, "");
    EXPECT_EQ(again.customJvmArgs, "");
}

TEST(Settings, JavaListCountDecidesAndEntriesWithoutExeAreDropped) {
    TempHome home;
    WriteFile(home.config(),
              "[java]\n"
              "count=3\n"
              "java0_name=First\njava0_exe=/a/bin/java\njava0_manual=1\n"
              "java1_name=NoExe\njava1_exe=\njava1_manual=1\n"
              "java2_name=Third\njava2_exe=/c/bin/java\njava2_manual=0\n"
              "java3_name=BeyondCount\njava3_exe=/d/bin/java\njava3_manual=0\n");
    Settings settings;
    settings.Load();
    ASSERT_EQ(settings.javaList.size(), 2u);
    EXPECT_EQ(settings.javaList[0].name, "First");
    EXPECT_EQ(settings.javaList[0].exe, "/a/bin/java");
    EXPECT_TRUE(settings.javaList[0].manual);
    EXPECT_EQ(settings.javaList[1].name, "Third");
    EXPECT_EQ(settings.javaList[1].exe, "/c/bin/java");
    EXPECT_FALSE(settings.javaList[1].manual);

    settings.Save();
    const auto ini = ReadIni(home.config());
    EXPECT_EQ(ini->Get("java", "count"), "2");
    EXPECT_EQ(ini->Get("java", "java0_exe"), "/a/bin/java");
    EXPECT_EQ(ini->Get("java", "java0_manual"), "1");
    EXPECT_EQ(ini->Get("java", "java1_name"), "Third");
    EXPECT_EQ(ini->Get("java", "java1_exe"), "/c/bin/java");
    EXPECT_EQ(ini->Get("java", "java1_manual"), "0");
    // Keys beyond the new count stay in the file; the count alone decides what is read.
    EXPECT_EQ(ini->Get("java", "java2_name"), "Third");
    EXPECT_EQ(ini->Get("java", "java2_exe"), "/c/bin/java");
    EXPECT_EQ(ini->Get("java", "java3_exe"), "/d/bin/java");
    Settings reloaded;
    reloaded.Load();
    EXPECT_EQ(reloaded.javaList.size(), 2u);

    // A count of zero or below reads nothing.
    for (const char* count : {"0", "-1", "none"}) {
        WriteFile(home.config(), std::string("[java]\ncount=") + count + "\njava0_exe=/a/bin/java\n");
        Settings none;
        none.Load();
        EXPECT_TRUE(none.javaList.empty()) << count;
    }
}

TEST(Settings, NumberKeysHoldingTextReadTheirLeadingDigits) {
    TempHome home;
    WriteFile(home.config(),
              "[launcher]\nmemory_mb=4096MB\nserver_port=port\n"
              "[java]\ncount=1x\njava0_exe=/j\njava0_manual=yes\n");
    Settings settings;
    settings.Load();
    EXPECT_EQ(settings.memoryMb, 4096);
    EXPECT_EQ(settings.serverPort, 0);  // present but without digits: 0, not the default
    ASSERT_EQ(settings.javaList.size(), 1u);
    EXPECT_FALSE(settings.javaList[0].manual);
}

TEST(Settings, OldAccountKeysMoveIntoTheStore) {
    TempHome home;
    WriteFile(home.config(),
              "; kept comment\n"
              "[launcher]\n"
              "memory_mb=2048\n"
              "selected_role=\xE8\x80\x81\xE8\xA7\x92\xE8\x89\xB2\n"  // 老角色
              "selected_role_id=rid-1\n"
              "[auth]\n"
              "access_token=at\n"
              "refresh_token=rt\n"
              "client_token=ct\n"
              "available_profiles=[{\"id\":\"x\",\"name\":\"y\"}]\n"
              "ygg_api=https://old.example/api\n"
              "private_key=pk\n"
              "[custom]\n"
              "keep=me\n");
    Settings settings;
    settings.Load();
    EXPECT_EQ(settings.accessToken, "at");
    EXPECT_EQ(settings.clientToken, "ct");
    EXPECT_EQ(settings.currentRole, "\xE8\x80\x81\xE8\xA7\x92\xE8\x89\xB2");
    EXPECT_EQ(settings.currentRoleId, "rid-1");
    EXPECT_EQ(settings.availableProfiles, R"([{"id":"x","name":"y"}])");
    EXPECT_EQ(settings.privateKey, "pk");
    EXPECT_EQ(settings.accountId, "");
    EXPECT_EQ(settings.accountName, "");
    EXPECT_EQ(settings.memoryMb, 2048);

    Credentials stored;
    ASSERT_TRUE(LoadCredentials(stored));
    EXPECT_EQ(stored.accessToken, "at");
    EXPECT_EQ(stored.clientToken, "ct");
    EXPECT_EQ(stored.currentRole, settings.currentRole);
    EXPECT_EQ(stored.currentRoleId, "rid-1");
    EXPECT_EQ(stored.availableProfiles, settings.availableProfiles);
    EXPECT_EQ(stored.privateKey, "pk");

    const auto ini = ReadIni(home.config());
    for (const char* key : {"access_token", "refresh_token", "client_token", "available_profiles",
                            "ygg_api", "private_key"}) {
        EXPECT_FALSE(ini->Get("auth", key)) << key;
    }
    EXPECT_FALSE(ini->Get("launcher", "selected_role"));
    EXPECT_FALSE(ini->Get("launcher", "selected_role_id"));
    EXPECT_EQ(ini->Get("launcher", "memory_mb"), "2048");
    EXPECT_EQ(ini->Get("custom", "keep"), "me");
}

TEST(Settings, SelectedRoleCountsOnlyWhileNoStoreExists) {
    TempHome home;
    // A store with an empty role: its value replaces the one in config.ini, and the migration
    // does not run again, so the old key is left alone.
    Credentials stored;
    stored.accessToken = "store-token";
    ASSERT_TRUE(SaveCredentials(stored));
    WriteFile(home.config(),
              "[launcher]\nselected_role=IniRole\nselected_role_id=ini-id\n[auth]\naccess_token=old\n");
    Settings settings;
    settings.Load();
    EXPECT_EQ(settings.currentRole, "");
    EXPECT_EQ(settings.currentRoleId, "");
    EXPECT_EQ(settings.accessToken, "store-token");
    const auto ini = ReadIni(home.config());
    EXPECT_EQ(ini->Get("launcher", "selected_role"), "IniRole");
    EXPECT_EQ(ini->Get("auth", "access_token"), "old");
}

TEST(Settings, MigrationKeepsOldKeysWhenTheStoreCannotBeWritten) {
    TempHome home;
    WriteFile(home.config(), "[launcher]\nselected_role=Steve\n[auth]\naccess_token=at\n");
    // A non-empty directory where the temporary store file goes: the write fails, even for root.
    WriteFile(home.data() / "LumivaleLauncher" / "orlu.json.tmp" / "blocker", "x");
    Settings settings;
    settings.Load();
    EXPECT_FALSE(std::filesystem::exists(home.store()));
    EXPECT_EQ(settings.currentRole, "Steve");  // from config.ini, as no store loaded
    EXPECT_EQ(settings.accessToken, "");
    const auto ini = ReadIni(home.config());
    EXPECT_EQ(ini->Get("auth", "access_token"), "at");
    EXPECT_EQ(ini->Get("launcher", "selected_role"), "Steve");
}

TEST(Settings, UnknownSectionsAndKeysSurviveASave) {
    TempHome home;
    WriteFile(home.config(),
              "[launcher]\nmemory_mb=1024\nlegacy_flag=on\n"
              "[plugins]\nshader=\xE5\x85\x89\xE5\xBD\xB1\n"
              "[java]\ncount=0\nnote=hand written\n");
    Settings settings;
    settings.Load();
    settings.memoryMb = 3072;
    settings.Save();
    const auto ini = ReadIni(home.config());
    EXPECT_EQ(ini->Get("launcher", "memory_mb"), "3072");
    EXPECT_EQ(ini->Get("launcher", "legacy_flag"), "on");
    EXPECT_EQ(ini->Get("plugins", "shader"), "\xE5\x85\x89\xE5\xBD\xB1");
    EXPECT_EQ(ini->Get("java", "note"), "hand written");
    // Written whole through a temporary file that does not stay behind.
    std::filesystem::path temp = home.config();
    temp += ".tmp";
    EXPECT_FALSE(std::filesystem::exists(temp));
}

}  // namespace
}  // namespace lumivale
