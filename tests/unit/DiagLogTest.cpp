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
using test::TempHome;
using test::WriteFile;

const std::string kBom = "\xEF\xBB\xBF";
constexpr std::int64_t kNow = 1'700'000'000;  // 22:13:20 UTC

// Entries carry the local time of day; the tests pin the time zone.
class DiagLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) {
            hadTz_ = true;
            previousTz_ = tz;
        }
        UseZone("UTC0");
    }
    void TearDown() override {
        if (hadTz_) setenv("TZ", previousTz_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    static void UseZone(const char* zone) {
        setenv("TZ", zone, 1);
        tzset();
    }
    static void SetModified(const std::filesystem::path& file, std::int64_t unixSeconds) {
        const timeval times[2] = {{static_cast<time_t>(unixSeconds), 0},
                                  {static_cast<time_t>(unixSeconds), 0}};
        ASSERT_EQ(::utimes(file.c_str(), times), 0);
    }

    TempHome home_;
    std::filesystem::path file_ = home_.root() / "diag.log";

private:
    bool hadTz_ = false;
    std::string previousTz_;
};

TEST_F(DiagLogTest, FirstEntryStartsTheFileWithAByteOrderMark) {
    AppendDiagEntry(file_, "KEY", "created key", kNow);
    EXPECT_EQ(ReadFile(file_), kBom + "[22:13:20][KEY] created key\r\n");
    AppendDiagEntry(file_, "HTTP", "GET /x -> 200", kNow + 61);
    EXPECT_EQ(ReadFile(file_),
              kBom + "[22:13:20][KEY] created key\r\n[22:14:21][HTTP] GET /x -> 200\r\n");

    // The time of day is local time, with two digits each.
    UseZone("CST-8");
    std::filesystem::remove(file_);
    AppendDiagEntry(file_, "REG", "", kNow - 22 * 3600 + 5);
    EXPECT_EQ(ReadFile(file_), kBom + "[08:13:25][REG] \r\n");
}

TEST_F(DiagLogTest, TextIsWrittenAsItsUtf8Bytes) {
    const std::string tag = "\xE5\xAF\x86\xE9\x92\xA5";                 // 密钥
    const std::string message = "\xE6\xB3\xA8\xE5\x86\x8C 1\n2 \"q\" \\";  // 注册 with a line break
    AppendDiagEntry(file_, tag, message, kNow);
    EXPECT_EQ(ReadFile(file_), kBom + "[22:13:20][" + tag + "] " + message + "\r\n");
}

TEST_F(DiagLogTest, SizeLimitIsTwoMebibytes) {
    const std::string line = "[22:13:20][KEY] m\r\n";
    for (const std::size_t size : {std::size_t{2'097'152}, std::size_t{2'097'153}}) {
        WriteFile(file_, std::string(size, 'x'));
        SetModified(file_, kNow - 10);
        AppendDiagEntry(file_, "KEY", "m", kNow);
        const std::string content = ReadFile(file_);
        if (size == 2'097'152) {
            ASSERT_EQ(content.size(), size + line.size());
            EXPECT_EQ(content.substr(0, 3), "xxx");
            EXPECT_EQ(content.substr(size), line);
        } else {
            EXPECT_EQ(content, kBom + line);
        }
    }
}

TEST_F(DiagLogTest, AgeLimitIsSevenDays) {
    const std::string old = "old entry\r\n";
    const std::string line = "[22:13:20][KEY] m\r\n";
    const struct {
        std::int64_t modified;
        bool emptied;
    } cases[] = {
        {kNow - 604'800, false},
        {kNow - 604'801, true},
        {kNow - 10 * 604'800, true},
        {kNow + 3600, false},  // clock behind the file: appended
        {0, false},            // no usable time: appended
    };
    for (const auto& c : cases) {
        WriteFile(file_, old);
        SetModified(file_, c.modified);
        AppendDiagEntry(file_, "KEY", "m", kNow);
        EXPECT_EQ(ReadFile(file_), c.emptied ? kBom + line : old + line) << c.modified;
    }
}

TEST_F(DiagLogTest, EmptyFileGetsAByteOrderMark) {
    WriteFile(file_, "");
    SetModified(file_, kNow - 60);
    AppendDiagEntry(file_, "KEY", "m", kNow);
    EXPECT_EQ(ReadFile(file_), kBom + "[22:13:20][KEY] m\r\n");
}

TEST_F(DiagLogTest, FailuresAreSwallowed) {
    // The path is a folder: nothing can be written, nothing is thrown.
    std::filesystem::create_directories(file_);
    EXPECT_NO_THROW(AppendDiagEntry(file_, "KEY", "m", kNow));
    EXPECT_TRUE(std::filesystem::is_directory(file_));
    // The log folder is a file: DiagLog drops the entry.
    WriteFile(home_.program() / "log", "not a folder");
    EXPECT_NO_THROW(DiagLog("KEY", "m"));
    EXPECT_EQ(ReadFile(home_.program() / "log"), "not a folder");
}

TEST_F(DiagLogTest, DiagLogWritesBesideTheProgram) {
    EXPECT_EQ(GetLogDir(), home_.program() / "log");
    std::filesystem::remove_all(home_.program() / "log");
    DiagLog("REG", "first");
    DiagLog("REG", "second");
    const auto file = home_.program() / "log" / "diag.log";
    ASSERT_TRUE(std::filesystem::exists(file));
    const std::string content = ReadFile(file);
    ASSERT_EQ(content.substr(0, 3), kBom);
    const std::regex entries(R"(\[\d\d:\d\d:\d\d\]\[REG\] first\r\n)"
                             R"(\[\d\d:\d\d:\d\d\]\[REG\] second\r\n)");
    EXPECT_TRUE(std::regex_match(content.substr(3), entries)) << content;
}

}  // namespace
}  // namespace lumivale
