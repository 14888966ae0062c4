// The diagnostic zip: read back, secrets masked everywhere (cuts too), big logs cut at line ends, gone logs skipped.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "DiagnosticZip.h"
#include "TempHome.h"
#include "TestJava.h"
#include "ZipArchive.h"
#include "ZipBuilder.h"

namespace lumivale {
namespace {

namespace fs = std::filesystem;
using test::TempHome;
using test::WriteFile;

std::map<std::string, std::string> ReadZip(const fs::path& file) {
    std::map<std::string, std::string> entries;
    const auto zip = ZipArchive::Open(file);
    EXPECT_TRUE(zip.has_value()) << file;
    for (std::uint64_t i = 0; zip && i < zip->Count(); ++i) entries[zip->At(i)->name] = zip->Read(i).value_or("<unreadable>");
    return entries;
}

TEST(ZipBuilder, EntriesAreReadBackAndUnsafeNamesRefused) {
    TempHome home;
    ZipBuilder zip(0);  // before 1980: written as 1980
    const std::string text(100000, 'a'), noise = test::RandomBytes(5000);
    EXPECT_TRUE(zip.Add("logs/latest.log", text));
    EXPECT_TRUE(zip.Add("noise.bin", noise));  // does not shrink: stored
    EXPECT_TRUE(zip.Add("launcher/MC启动诊断.log", ""));
    for (const char* name : {"", "/abs", "../up", "a/../b", "C:/x", "a//b", "a\\..\\b"}) EXPECT_FALSE(zip.Add(name, "x")) << name;
    const std::string bytes = zip.Finish();
    EXPECT_LT(bytes.size(), 10000u) << "the text was deflated";
    WriteFile(home.root() / "out.zip", bytes);
    const std::map<std::string, std::string> expected{{"logs/latest.log", text}, {"noise.bin", noise}, {"launcher/MC启动诊断.log", ""}};
    EXPECT_EQ(ReadZip(home.root() / "out.zip"), expected);
}

TEST(DiagnosticZip, HoldsEveryLogCappedAndNoSecret) {
    TempHome home;
    const std::string token = "secret-token-0123456789", client = "client-token-abcdef", mail = "player@example.com";
    const fs::path report = home.root() / "game/crash-reports/crash-1-client.txt", latest = home.root() / "game/logs/latest.log";
    const fs::path output = home.root() / "log/MC启动诊断.log";
    WriteFile(report, "---- Minecraft Crash Report ----\njava_command: Game --accessToken " + token + "\n");
    WriteFile(output, "--accessToken " + token + " --clientToken " + client + " " + mail + " " + token + "\n");
    {
        // The token on lines across both cuts: cut by bytes alone, half a token would stay.
        fs::create_directories(latest.parent_path());
        std::ofstream out(latest, std::ios::binary);
        const std::string line = "[main/INFO]: --accessToken " + token + "\n";
        out << std::string(kDiagnosticHeadBytes - 31, 'h') << '\n' << line << std::string(2u << 20, 'm') << '\n'
            << line << std::string(kDiagnosticTailBytes - 20, 't');
    }
    const std::vector<CrashLog> logs = {{report.string(), CrashLogKind::CrashReport},
                                        {(home.root() / "game/hs_err_pid9.log").string(), CrashLogKind::HsErr},  // gone
                                        {latest.string(), CrashLogKind::Latest},
                                        {output.string(), CrashLogKind::Output, 14}};
    const fs::path target = home.root() / "saved" / "diag.zip";
    fs::create_directories(target.parent_path());
    std::string error;
    ASSERT_TRUE(WriteDiagnosticZip(target, logs, "依据：--accessToken " + token, {token, client, mail, "", "ab"}, 1700000000, error)) << error;
    const auto entries = ReadZip(target);
    std::vector<std::string> names;
    for (const auto& [name, bytes] : entries) {
        names.push_back(name);
        for (const std::string& secret : {token, client, mail}) {
            EXPECT_EQ(bytes.find(secret.substr(0, 8)), std::string::npos) << name << " shows part of " << secret;
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"crash-analysis.txt", "crash-reports/crash-1-client.txt", "launcher/MC启动诊断.log", "logs/latest.log"}));
    EXPECT_EQ(entries.at("launcher/MC启动诊断.log"), "--accessToken *** --clientToken *** *** ***\n") << "the whole file, header too";
    EXPECT_EQ(entries.at("crash-analysis.txt"), "依据：--accessToken ***");
    const std::string& big = entries.at("logs/latest.log");
    EXPECT_LE(big.size(), kDiagnosticHeadBytes + kDiagnosticTailBytes + 100);
    EXPECT_NE(big.find("这里省略了"), std::string::npos);
    EXPECT_EQ(big.find("mmm"), std::string::npos) << "the middle is left out";
    // A folder that cannot be written to says so.
    EXPECT_FALSE(WriteDiagnosticZip(home.root() / "missing" / "diag.zip", logs, "", {}, 0, error));
    EXPECT_NE(error.find("无法写入"), std::string::npos);
}

}  // namespace
}  // namespace lumivale
