// log/diag.log: the entry format and the size and age rules, with the clock given by the test.
#include <gtest/gtest.h>
#include <sys/time.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>

#include "Log.h"
#include "TempHome.h"

namespace lumivale {
namespace {

using test::ReadFile;
using test::WriteFile;

const std::string kBom = "\xEF\xBB\xBF";
constexpr std::int64_t kNow = 1'700'000'000;  // 22:13:20 UTC

// Entries carry the local time of day; the tests pin the time zone and put the old one back.
class DiagLogTest : public ::testing::Test {
protected:
    DiagLogTest() { UseZone("UTC0"); }
    ~DiagLogTest() override { UseZone(previousTz_.empty() ? nullptr : previousTz_.c_str()); }
    static void UseZone(const char* zone) {
        zone ? setenv("TZ", zone, 1) : unsetenv("TZ");
        tzset();
    }
    std::string previousTz_ = std::getenv("TZ") ? std::getenv("TZ") : "";
    test::TempHome home_;
    std::filesystem::path file_ = home_.root() / "diag.log";
};

TEST_F(DiagLogTest, EntriesAreLocalTimeTagAndUtf8TextAfterAByteOrderMark) {
    AppendDiagEntry(file_, "KEY", "created key", kNow);
    AppendDiagEntry(file_, "密钥", "注册 1\n2 \"q\" \\", kNow + 61);
    EXPECT_EQ(ReadFile(file_), kBom + "[22:13:20][KEY] created key\r\n[22:14:21][密钥] 注册 1\n2 \"q\" \\\r\n");
    UseZone("CST-8");
    std::filesystem::remove(file_);
    AppendDiagEntry(file_, "REG", "", kNow - 22 * 3600 + 5);
    EXPECT_EQ(ReadFile(file_), kBom + "[08:13:25][REG] \r\n");
}

TEST_F(DiagLogTest, FilesAbove2MiBOrOlderThanSevenDaysStartAgain) {
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
        WriteFile(file_, old);
        const timeval times[2] = {{static_cast<time_t>(c.modified), 0}, {static_cast<time_t>(c.modified), 0}};
        ASSERT_EQ(::utimes(file_.c_str(), times), 0);
        AppendDiagEntry(file_, "KEY", "m", kNow);
        const std::string line = "[22:13:20][KEY] m\r\n";
        EXPECT_TRUE(ReadFile(file_) == (c.startsAgain ? kBom + line : old + line)) << c.size << " " << c.modified;
    }
}

TEST_F(DiagLogTest, DiagLogWritesBesideTheProgramAndSwallowsFailures) {
    DiagLog("REG", "first");
    DiagLog("REG", "second");
    const std::regex entries(kBom + R"(\[\d\d:\d\d:\d\d\]\[REG\] first\r\n\[\d\d:\d\d:\d\d\]\[REG\] second\r\n)");
    EXPECT_TRUE(std::regex_match(ReadFile(home_.program() / "log" / "diag.log"), entries));

    // The path is a folder, or the log folder is a file: nothing is written, nothing is thrown.
    std::filesystem::create_directories(file_);
    EXPECT_NO_THROW(AppendDiagEntry(file_, "KEY", "m", kNow));
    std::filesystem::remove_all(home_.program() / "log");
    WriteFile(home_.program() / "log", "not a folder");
    EXPECT_NO_THROW(DiagLog("KEY", "m"));
    EXPECT_EQ(ReadFile(home_.program() / "log"), "not a folder");
}

}  // namespace
}  // namespace lumivale
