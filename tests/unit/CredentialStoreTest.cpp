// orlu.json: its exact layout, its permissions, what loads and what does not, and the write
// through a temporary file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "CredentialStore.h"
#include "IniFile.h"
#include "Settings.h"
#include "TempHome.h"

namespace lumivale {
namespace {

using test::ReadFile;
using test::TempHome;
using test::WriteFile;

Credentials Sample() {
    Credentials c;
    c.accessToken = "access";
    c.clientToken = "client";
    c.currentRole = "\xE8\xA7\x92\xE8\x89\xB2";  // 角色
    c.currentRoleId = "role-id";
    c.availableProfiles = R"([{"id":"1","name":"a\b"}])";
    c.accountId = "";
    c.accountName = "\xE7\x8E\xA9\xE5\xAE\xB6";  // 玩家
    c.privateKey = "key";
    return c;
}

unsigned Mode(const std::filesystem::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::filesystem::path WithSuffix(std::filesystem::path path, const char* suffix) {
    path += suffix;
    return path;
}

void ExpectSameRecord(const Credentials& a, const Credentials& b) {
    EXPECT_EQ(a.accessToken, b.accessToken);
    EXPECT_EQ(a.clientToken, b.clientToken);
    EXPECT_EQ(a.currentRole, b.currentRole);
    EXPECT_EQ(a.currentRoleId, b.currentRoleId);
    EXPECT_EQ(a.availableProfiles, b.availableProfiles);
    EXPECT_EQ(a.accountId, b.accountId);
    EXPECT_EQ(a.accountName, b.accountName);
    EXPECT_EQ(a.privateKey, b.privateKey);
}

TEST(CredentialStore, FileLayoutIsExact) {
    TempHome home;
    ASSERT_TRUE(SaveCredentials(Sample()));
    EXPECT_EQ(ReadFile(home.store()),
              "{\n"
              "  \"cloud\": {\n"
              "    \"private_key\": \"key\"\n"
              "  },\n"
              "  \"littleskin\": {\n"
              "    \"access_token\": \"access\",\n"
              "    \"account_id\": \"\",\n"
              "    \"account_name\": \"\xE7\x8E\xA9\xE5\xAE\xB6\",\n"
              "    \"available_profiles\": \"[{\\\"id\\\":\\\"1\\\",\\\"name\\\":\\\"a\\\\b\\\"}]\",\n"
              "    \"client_token\": \"client\",\n"
              "    \"current_role\": \"\xE8\xA7\x92\xE8\x89\xB2\",\n"
              "    \"current_role_id\": \"role-id\"\n"
              "  }\n"
              "}");
    EXPECT_EQ(SerializeCredentials(Sample()), ReadFile(home.store()));
    EXPECT_FALSE(std::filesystem::exists(WithSuffix(home.store(), ".tmp")));

    Credentials loaded;
    ASSERT_TRUE(LoadCredentials(loaded));
    ExpectSameRecord(loaded, Sample());
}

TEST(CredentialStore, InvalidUtf8IsWrittenWithReplacementCharacters) {
    TempHome home;
    Credentials c;
    c.accessToken = "ab\xFF" "cd";
    c.privateKey = "\xE4\xB8";  // a cut-off character
    ASSERT_TRUE(SaveCredentials(c));
    Credentials loaded;
    ASSERT_TRUE(LoadCredentials(loaded));
    EXPECT_EQ(loaded.accessToken, "ab\xEF\xBF\xBD" "cd");
    EXPECT_EQ(loaded.privateKey, "\xEF\xBF\xBD");
}

TEST(CredentialStore, OnlyTheUserCanReadIt) {
    TempHome home;
    const auto folder = home.store().parent_path();
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::all);
    // A leftover temporary file with a loose mode must not pass it on to the store.
    WriteFile(WithSuffix(home.store(), ".tmp"), "leftover");
    std::filesystem::permissions(WithSuffix(home.store(), ".tmp"),
                                 static_cast<std::filesystem::perms>(0644));
    ASSERT_TRUE(SaveCredentials(Sample()));
    EXPECT_EQ(Mode(folder), 0700u);
    EXPECT_EQ(Mode(home.store()), 0600u);
    EXPECT_EQ(StorePath(), home.store());
}

TEST(CredentialStore, UnreadableStoresDoNotLoad) {
    TempHome home;
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"not JSON", "{\"cloud\": {"},
        {"root not an object", "[]"},
        {"cloud missing", R"({"littleskin":{"access_token":"a"}})"},
        {"littleskin missing", R"({"cloud":{"private_key":"k"}})"},
        {"cloud not an object", R"({"cloud":"k","littleskin":{}})"},
        {"member not a string", R"({"cloud":{"private_key":"k"},"littleskin":{"access_token":5}})"},
        {"last member not a string", R"({"cloud":{"private_key":null},"littleskin":{}})"},
    };
    for (const auto& c : cases) {
        WriteFile(home.store(), c.text);
        Credentials out = Sample();
        EXPECT_FALSE(LoadCredentials(out)) << c.what;
        ExpectSameRecord(out, Sample());  // nothing half-read reaches the caller
        // The unreadable file is kept aside before anything replaces it.
        EXPECT_EQ(ReadFile(WithSuffix(home.store(), ".damaged")), c.text) << c.what;
        EXPECT_EQ(Mode(WithSuffix(home.store(), ".damaged")), 0600u) << c.what;
    }

    // Missing and empty files do not load either; there is nothing to keep aside.
    std::filesystem::remove(WithSuffix(home.store(), ".damaged"));
    std::filesystem::remove(home.store());
    Credentials out;
    EXPECT_FALSE(LoadCredentials(out));
    WriteFile(home.store(), "");
    EXPECT_FALSE(LoadCredentials(out));
    EXPECT_FALSE(std::filesystem::exists(WithSuffix(home.store(), ".damaged")));
}

TEST(CredentialStore, MissingMembersReadAsEmpty) {
    TempHome home;
    WriteFile(home.store(),
              R"({"littleskin":{"access_token":"a","current_role":"r","extra":7},"cloud":{}})");
    Credentials out = Sample();
    ASSERT_TRUE(LoadCredentials(out));
    EXPECT_EQ(out.accessToken, "a");
    EXPECT_EQ(out.currentRole, "r");
    EXPECT_EQ(out.clientToken, "");
    EXPECT_EQ(out.currentRoleId, "");
    EXPECT_EQ(out.availableProfiles, "");
    EXPECT_EQ(out.accountId, "");
    EXPECT_EQ(out.accountName, "");
    EXPECT_EQ(out.privateKey, "");
}

TEST(CredentialStore, DamagedStoreIsKeptAsideAndReplacedByTheNextSave) {
    TempHome home;
    const std::string damaged = "{\"littleskin\": {\"access_token\": \"half";
    WriteFile(home.store(), damaged);
    WriteFile(home.config(), "[launcher]\nselected_role=FromIni\n[auth]\naccess_token=old\n");
    Settings settings;
    settings.Load();
    // The store is not empty, so no migration: the config.ini values stay in charge.
    EXPECT_EQ(settings.currentRole, "FromIni");
    EXPECT_EQ(settings.accessToken, "");
    EXPECT_EQ(ReadFile(home.store()), damaged);
    EXPECT_EQ(ReadFile(WithSuffix(home.store(), ".damaged")), damaged);

    settings.accountName = "n";
    settings.Save();
    Credentials out;
    ASSERT_TRUE(LoadCredentials(out));
    EXPECT_EQ(out.accountName, "n");
    EXPECT_EQ(out.currentRole, "FromIni");
    EXPECT_EQ(ReadFile(WithSuffix(home.store(), ".damaged")), damaged);
}

TEST(CredentialStore, EmptyStoreCountsAsAbsent) {
    TempHome home;
    WriteFile(home.store(), "");
    WriteFile(home.config(), "[auth]\naccess_token=migrated\nygg_api=x\n");
    Settings settings;
    settings.Load();
    EXPECT_EQ(settings.accessToken, "migrated");
    Credentials out;
    ASSERT_TRUE(LoadCredentials(out));
    EXPECT_EQ(out.accessToken, "migrated");
    IniFile ini;
    ASSERT_TRUE(ini.Load(home.config()));
    EXPECT_FALSE(ini.Get("auth", "access_token"));
    EXPECT_FALSE(ini.Get("auth", "ygg_api"));

    // From now on the store exists: the migration leaves a config.ini alone.
    WriteFile(home.config(), "[auth]\naccess_token=second\n");
    MigrateCredentials(home.config());
    ASSERT_TRUE(ini.Load(home.config()));
    EXPECT_EQ(ini.Get("auth", "access_token"), "second");
    ASSERT_TRUE(LoadCredentials(out));
    EXPECT_EQ(out.accessToken, "migrated");
}

TEST(CredentialStore, FailedSaveLeavesTheOldFile) {
    TempHome home;
    ASSERT_TRUE(SaveCredentials(Sample()));
    const std::string before = ReadFile(home.store());
    Credentials other;
    other.accessToken = "new";

    // The temporary file cannot be written: a non-empty directory stands in its place.
    const auto temp = WithSuffix(home.store(), ".tmp");
    WriteFile(temp / "blocker", "x");
    EXPECT_FALSE(SaveCredentials(other));
    EXPECT_EQ(ReadFile(home.store()), before);
    std::filesystem::remove_all(temp);

    // The store path itself is a non-empty directory: the move fails, the .tmp stays behind.
    std::filesystem::remove(home.store());
    WriteFile(home.store() / "blocker", "x");
    EXPECT_FALSE(SaveCredentials(other));
    EXPECT_TRUE(std::filesystem::is_directory(home.store()));
    EXPECT_EQ(ReadFile(temp), SerializeCredentials(other));
    Credentials out;
    EXPECT_FALSE(LoadCredentials(out));
}

}  // namespace
}  // namespace lumivale
