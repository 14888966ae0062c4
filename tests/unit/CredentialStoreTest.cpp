// orlu.json: exact layout, permissions, what loads, and the write through a temporary file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "CredentialStore.h"
#include "Portable.h"
#include "TempHome.h"

namespace lumivale {
namespace {

using test::ReadFile;
using test::TempHome;
using test::WriteFile;

const Credentials kSample{"access", "client", "角色", "role-id", R"([{"id":"1","name":"a\b"}])", "", "玩家", "key"};

unsigned Mode(const std::filesystem::path& path) { return test::AccessMode(path); }

std::filesystem::path Beside(std::filesystem::path path, const char* suffix) { return path += suffix; }

Credentials Record(std::string accessToken, std::string accountName = "") {
    return {std::move(accessToken), "", "", "", "", "", std::move(accountName), ""};
}

TEST(CredentialStore, FileLayoutIsExactAndLoadsBack) {
    TempHome home;
    ASSERT_TRUE(SaveCredentials(kSample));
    const std::string layout = R"({
  "cloud": {
    "private_key": "key"
  },
  "littleskin": {
    "access_token": "access",
    "account_id": "",
    "account_name": "玩家",
    "available_profiles": "[{\"id\":\"1\",\"name\":\"a\\b\"}]",
    "client_token": "client",
    "current_role": "角色",
    "current_role_id": "role-id"
  }
})";
    EXPECT_EQ(ReadFile(home.store()), layout);
    EXPECT_FALSE(std::filesystem::exists(Beside(home.store(), ".tmp")));
    Credentials loaded;
    ASSERT_TRUE(LoadCredentials(loaded));
    EXPECT_EQ(SerializeCredentials(loaded), layout);

    // Bytes that are not UTF-8 are saved as replacement characters rather than failing the save.
    ASSERT_TRUE(SaveCredentials(Record("ab\xFF" "cd", "\xE4\xB8")));
    ASSERT_TRUE(LoadCredentials(loaded));
    EXPECT_EQ(SerializeCredentials(loaded), SerializeCredentials(Record("ab\xEF\xBF\xBD" "cd", "\xEF\xBF\xBD")));

    // Members that are missing read as empty; unknown ones are ignored.
    WriteFile(home.store(), R"({"littleskin":{"access_token":"a","extra":7},"cloud":{}})");
    EXPECT_TRUE(LoadCredentials(loaded) && SerializeCredentials(loaded) == SerializeCredentials(Record("a")));
}

TEST(CredentialStore, OnlyTheUserCanReadIt) {
    if (test::RunningUnderWine()) GTEST_SKIP() << "this system keeps no file DACLs (Wine)";
    TempHome home;
    // An open folder, and a leftover temporary file with a loose mode that must not pass it on.
    WriteFile(Beside(home.store(), ".tmp"), "leftover");
    std::filesystem::permissions(home.store().parent_path(), std::filesystem::perms::all);
    std::filesystem::permissions(Beside(home.store(), ".tmp"), static_cast<std::filesystem::perms>(0644));
    ASSERT_TRUE(SaveCredentials(kSample));
    EXPECT_EQ(Mode(home.store().parent_path()), 0700u);
    EXPECT_EQ(Mode(home.store()), 0600u);
}

TEST(CredentialStore, UnreadableStoresDoNotLoadAndAreKeptAside) {
    TempHome home;
    const struct {
        const char *what, *text;
    } cases[] = {
        {"not JSON", R"({"littleskin": {"access_token": "half)"},
        {"root not an object", "[]"},
        {"cloud missing", R"({"littleskin":{"access_token":"a"}})"},
        {"cloud not an object", R"({"cloud":"k","littleskin":{}})"},
        {"member not a string", R"({"cloud":{"private_key":"k"},"littleskin":{"access_token":5}})"},
        {"last member not a string", R"({"cloud":{"private_key":null},"littleskin":{}})"},
    };
    const auto damaged = Beside(home.store(), ".damaged");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(home.store(), c.text);
        Credentials out = kSample;
        EXPECT_FALSE(LoadCredentials(out));
        EXPECT_EQ(SerializeCredentials(out), SerializeCredentials(kSample));  // nothing half-read
        if (!test::RunningUnderWine()) {
            EXPECT_EQ(Mode(damaged), 0600u);
        }
        // The next save replaces the store; the copy aside stays.
        ASSERT_TRUE(SaveCredentials(Record("", "n")) && LoadCredentials(out));
        EXPECT_EQ(out.accountName, "n");
        EXPECT_EQ(ReadFile(damaged), c.text);
    }

    // Missing and empty files do not load either, and there is nothing to keep aside.
    std::filesystem::remove_all(home.data());
    Credentials out;
    EXPECT_FALSE(LoadCredentials(out));
    WriteFile(home.store(), "");
    EXPECT_FALSE(LoadCredentials(out));
    EXPECT_FALSE(std::filesystem::exists(damaged));
}

TEST(CredentialStore, FailedSaveLeavesTheOldFile) {
    TempHome home;
    ASSERT_TRUE(SaveCredentials(kSample));
    const std::string before = ReadFile(home.store());
    const Credentials other = Record("new");
    // The temporary file cannot be written: a non-empty folder stands in its place.
    const auto temp = Beside(home.store(), ".tmp");
    WriteFile(temp / "blocker", "x");
    EXPECT_FALSE(SaveCredentials(other));
    EXPECT_EQ(ReadFile(home.store()), before);
    // The store path is a non-empty folder: the move fails, nothing is written, no temporary file stays.
    std::filesystem::remove_all(temp);
    std::filesystem::remove(home.store());
    WriteFile(home.store() / "blocker", "x");
    EXPECT_FALSE(SaveCredentials(other));
    EXPECT_EQ(ReadFile(home.store() / "blocker"), "x");
    EXPECT_FALSE(std::filesystem::exists(temp));
}

}  // namespace
}  // namespace lumivale
