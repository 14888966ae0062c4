// Windows processes through the java.exe stand-in (FakeJava.cpp): arguments, output, priority, trees, hand-over.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "Hex.h"
#include "JavaDiscovery.h"
#include "JavaLocations.h"
#include "Paths.h"
#include "Portable.h"
#include "Process.h"
#include "TempHome.h"

namespace lumivale {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kJava = LUMIVALE_FAKE_JAVA;

// The value of the first "<key> <value>" line of the stand-in's report.
std::string Fact(const std::string& report, const std::string& key) {
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(key + " ")) return line.substr(key.size() + 1);
    }
    return {};
}

std::vector<std::string> Arguments(const std::string& report) {
    std::vector<std::string> hex;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("arg ")) hex.push_back(line.substr(4));
    }
    return hex;
}

bool Alive(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) return false;
    const bool running = WaitForSingleObject(process, 2000) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

class Win32Process : public ::testing::Test {
protected:
    void TearDown() override {
        test::UnsetEnv("FAKE_JAVA_MODE");
        test::UnsetEnv("FAKE_JAVA_EXIT");
    }
    test::TempHome home_;
};

TEST_F(Win32Process, ArgumentsArriveExactlyAndTheExitCodeAndOutputComeBack) {
    const std::vector<std::string> argv = {kJava,         "plain",         "two words",    "",
                                           "say \"hi\"",  "C:\\dir\\",     "a\\\\\"b",     "-Dname=玩家 名",
                                           "tab\tend",    "trailing\\\\",  "%PATH%",       "^&|<>"};
    test::SetEnv("FAKE_JAVA_EXIT", "3");
    const CapturedRun run = RunCaptured(argv, {10s, 5s});
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_GT(run.processId, 0);
    std::vector<std::string> expected;
    for (std::size_t i = 1; i < argv.size(); ++i) expected.push_back(Hex(argv[i]));
    std::vector<std::string> got = Arguments(run.output);
    ASSERT_FALSE(got.empty()) << run.output;
    got.erase(got.begin());  // argv[0] is the program as the command line names it
    EXPECT_EQ(got, expected) << Fact(run.output, "cmdline");

    const CapturedRun missing = RunCaptured({PathUtf8(home_.root() / "no-java.exe")}, {});
    EXPECT_FALSE(missing.started);
}

TEST_F(Win32Process, AProgramThatKeepsItsOutputOpenIsStoppedWithItsChildren) {
    test::SetEnv("FAKE_JAVA_MODE", "spawn");
    const CapturedRun run = RunCaptured({kJava}, {1500ms, 1s});
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.ended);
    EXPECT_EQ(run.exitCode, -1);
    const std::string child = Fact(run.output, "child");
    ASSERT_FALSE(child.empty()) << run.output;
    EXPECT_FALSE(Alive(static_cast<DWORD>(std::stoul(child))));
}

TEST_F(Win32Process, ChildProcessAppliesPriorityAndFolderAndStopEndsTheTree) {
    const fs::path folder = home_.root() / Utf8Path("游戏 目录");
    fs::create_directories(folder);
    test::SetEnv("FAKE_JAVA_MODE", "spawn");
    ChildProcess game;
    ProcessLaunch launch;
    launch.argv = {kJava, "-Xmx1G"};
    launch.workingDirectory = PathUtf8(folder);
    launch.priority = ProcessPriority::Low;
    ASSERT_TRUE(game.Start(launch)) << game.ErrorCode();
    EXPECT_EQ(game.ErrorCode(), 0);
    EXPECT_EQ(game.PriorityErrorCode(), 0);
    EXPECT_EQ(game.ExecutableName(), "java.exe");
    std::string report;
    char buffer[256];
    while (Fact(report, "child").empty()) {
        const std::size_t got = game.ReadOutput(buffer, sizeof buffer);
        ASSERT_GT(got, 0u) << report;
        report.append(buffer, got);
    }
    EXPECT_EQ(Fact(report, "priority"), std::to_string(BELOW_NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(Utf8Path(Fact(report, "cwd")), folder);
    const auto child = static_cast<DWORD>(std::stoul(Fact(report, "child")));
    EXPECT_TRUE(Alive(child));
    game.Stop();
    EXPECT_TRUE(game.WaitForEnd());
    EXPECT_EQ(game.Reap(), 137);
    EXPECT_FALSE(Alive(child));
    EXPECT_FALSE(game.Start(launch));  // once per object

    ChildProcess missing;
    launch.workingDirectory = PathUtf8(home_.root() / "no such folder");
    EXPECT_FALSE(missing.Start(launch));
    EXPECT_NE(missing.ErrorCode(), 0);
}

TEST_F(Win32Process, ALauncherHandsOverToJavaAndAnInterruptWakesTheWaits) {
    // launcher.exe starts handed\java.exe and leaves: the game is the java.exe in its job.
    const fs::path launcher = home_.root() / "bin" / "launcher.exe";
    fs::create_directories(launcher.parent_path());
    fs::create_directories(home_.root() / "handed");
    fs::copy_file(kJava, launcher);
    fs::copy_file(kJava, home_.root() / "handed" / "java.exe");
    test::SetEnv("FAKE_JAVA_MODE", "handover");
    ChildProcess game;
    ProcessLaunch launch;
    launch.argv = {PathUtf8(launcher)};
    ASSERT_TRUE(game.Start(launch));
    EXPECT_EQ(game.ExecutableName(), "launcher.exe");
    ASSERT_TRUE(game.WaitForEnd());
    EXPECT_EQ(game.Reap(), 0);
    const std::int64_t handed = game.HandOver("JAVA");
    ASSERT_GT(handed, 0);
    std::thread waiter([&] { EXPECT_FALSE(game.WaitForEnd()); });
    std::this_thread::sleep_for(200ms);
    game.Interrupt();
    waiter.join();
    char buffer[64];
    EXPECT_EQ(game.ReadOutput(buffer, sizeof buffer), 0u);
    game.Stop();
    EXPECT_FALSE(Alive(static_cast<DWORD>(handed)));
}

TEST_F(Win32Process, JavaDiscoveryProbesAndListsWindowsRuntimes) {
    EXPECT_EQ(probeJavaVersion(kJava, {10s, 5s}), "openjdk version \"17.0.9\" 2023-10-17");
    const fs::path root = home_.root() / Utf8Path("Java 运行时");
    for (const char* name : {"jdk-21", "jdk-17"}) {
        fs::create_directories(root / name / "bin");
        fs::copy_file(kJava, root / name / "bin" / "java.exe");
    }
    JavaSearch search;
    search.javaHome = "C:\\jdk\\";
    search.registryHomes = {"D:\\Vendor JDK"};
    search.folderRoots = {PathUtf8(root) + "\\"};
    search.pathVariable = "C:\\bin;relative;\\\\server\\share\\;;C:\\Program Files\\Java\\bin\\";
    const std::string rootText = PathUtf8(root);
    EXPECT_EQ(JavaCandidates(search), (std::vector<std::string>{"C:\\jdk\\bin\\java.exe", "D:\\Vendor JDK\\bin\\java.exe",
                                                                rootText + "\\jdk-17\\bin\\java.exe",
                                                                rootText + "\\jdk-21\\bin\\java.exe",
                                                                "C:\\bin\\java.exe", "\\\\server\\share\\java.exe",
                                                                "C:\\Program Files\\Java\\bin\\java.exe"}));

    // What the vendors' installers leave in the registry is read from the 64-bit view.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\JavaSoft\\JDK\\17.0.9", 0, nullptr, 0,
                              KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring home = L"C:\\Java\\jdk-17.0.9";
    RegSetValueExW(key, L"JavaHome", 0, REG_SZ, reinterpret_cast<const BYTE*>(home.c_str()),
                   static_cast<DWORD>((home.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    const JavaSearch found = DefaultJavaSearch();
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\JavaSoft\\JDK\\17.0.9", KEY_WOW64_64KEY, 0);
    EXPECT_NE(std::find(found.registryHomes.begin(), found.registryHomes.end(), "C:\\Java\\jdk-17.0.9"),
              found.registryHomes.end());
    EXPECT_EQ(found.folderRoots.front(), "C:\\Program Files\\Java");
}

}  // namespace
}  // namespace lumivale
