// log/diag.log: the entry format and the size and age rules, with the clock given by the test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "Log.h"
#include "Portable.h"
#include "TempHome.h"

namespace lumivale {
namespace {

TEST(DiagLog, EntriesFollowAByteOrderMarkAndFilesAbove2MiBOrOlderThanSevenDaysStartAgain) {
    // Entries carry the local time of day: the test runs in UTC+8 and puts the old zone back.
    const std::string previousTz = std::getenv("TZ") ? std::getenv("TZ") : "";
    test::SetEnv("TZ", "CST-8");
    tzset();
    test::TempHome home;
    const auto file = home.root() / "diag.log";
    constexpr std::int64_t kNow = 1'700'000'000;  // 06:13:20 in UTC+8
    const std::string bom = "\xEF\xBB\xBF", entry = "[06:13:20][密钥] 注册 1\n2 \"q\" \\\r\n";
    const struct {
        std::size_t size;
        std::int64_t modified;
        bool startsAgain;
    } cases[] = {
        {2'097'152, kNow - 10, false}, {2'097'153, kNow - 10, true}, {10, kNow - 604'800, false},
        {10, kNow - 604'801, true},    {10, kNow + 3600, false},     {10, 0, false},  // no usable time
        {0, kNow - 60, true},  // an empty file gets the byte order mark
    };
    for (const auto& c : cases) {
        const std::string old(c.size, 'x');
        test::WriteFile(file, old);
        test::SetModifiedTime(file, c.modified);
        AppendDiagEntry(file, "密钥", "注册 1\n2 \"q\" \\", kNow);
        EXPECT_TRUE(test::ReadFile(file) == (c.startsAgain ? bom + entry : old + entry)) << c.size << " " << c.modified;
    }
    std::filesystem::remove(file);
    AppendDiagEntry(file, "REG", "", kNow + 61);
    AppendDiagEntry(file, "KEY", "m", kNow + 62);
    EXPECT_EQ(test::ReadFile(file), bom + "[06:14:21][REG] \r\n[06:14:22][KEY] m\r\n");
    // A log that cannot be written is no reason to fail: nothing is written, nothing is thrown.
    std::filesystem::create_directories(home.program() / "log" / "diag.log");
    EXPECT_NO_THROW(DiagLog("KEY", "m"));
    previousTz.empty() ? test::UnsetEnv("TZ") : test::SetEnv("TZ", previousTz);
    tzset();
}

}  // namespace
}  // namespace lumivale
