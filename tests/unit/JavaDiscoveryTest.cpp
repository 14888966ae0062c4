// Java discovery on a tree of fake runtimes (small shell scripts named java that print a version
// banner the way a JVM does, on standard error), plus the machine's own JDK when there is one;
// and the captured child process run underneath the probes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "JavaDiscovery.h"
#include "JavaLocations.h"
#include "Paths.h"
#include "Process.h"
#include "TempHome.h"

namespace lumivale {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ReadFile;
using test::TempHome;
using test::WriteFile;

const std::string kBanner17 = R"(openjdk version "17.0.9" 2023-10-17)";
const std::string kBanner21 = R"(openjdk version "21.0.1" 2023-10-17)";
const std::string kBanner11 = R"(openjdk version "11.0.21" 2023-10-17)";
const std::string kBanner8 = R"(java version "1.8.0_392")";

// Short limits for trees that hold a runtime that never ends; real JVMs get the defaults.
constexpr CaptureLimits kQuickLimits{3s, 1s};
// Only a guard against a scan that never ends, not a speed check.
constexpr auto kGuard = 30s;

std::string Text(const fs::path& path) { return PathUtf8(path); }

// A shell script at `file`, executable.
void WriteScript(const fs::path& file, const std::string& body) {
    WriteFile(file, "#!/bin/sh\n" + body + "\n");
    fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

// <home>/bin/java printing `banner` (and a second line) on standard error, as a JVM does.
fs::path FakeJava(const fs::path& home, const std::string& banner) {
    const fs::path exe = home / "bin" / "java";
    WriteScript(exe, "echo '" + banner + "' >&2\necho 'Fake Runtime Environment (build 1)' >&2");
    return exe;
}

// A process is gone once /proc no longer lists it, or lists it only as a zombie.
bool IsRunning(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!stat || !std::getline(stat, text)) return false;
    const auto close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size()) return false;
    const char state = text[close + 2];
    return state != 'Z' && state != 'X';
}

// Waits (bounded) for a killed process to go; the kill itself is delivered asynchronously.
bool GoneWithin(long pid, std::chrono::seconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (IsRunning(pid)) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

long ReadPid(const fs::path& file) { return std::stol(ReadFile(file)); }

std::vector<std::string> Exes(const std::vector<JavaInstall>& list) {
    std::vector<std::string> exes;
    for (const JavaInstall& entry : list) exes.push_back(entry.exe);
    return exes;
}

class JavaDiscoveryTest : public ::testing::Test {
private:
    TempHome home_;

protected:
    // A space and non-ASCII letters in every path: nothing may split or re-encode them.
    fs::path tree_ = home_.root() / "java tree 测试";
};

// ---------------------------------------------------------------------------------------------
// The captured run under the probes.

using JavaDiscoveryRunTest = JavaDiscoveryTest;

TEST_F(JavaDiscoveryRunTest, CapturesBothStreamsPassesArgumentsUntouchedAndReapsTheChild) {
    const fs::path script = tree_ / "talk";
    WriteScript(script, "echo one\necho two >&2\necho three\nexit 3");
    const CapturedRun run = RunCaptured({Text(script)}, {});
    EXPECT_TRUE(run.started);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.output, "one\ntwo\nthree\n");
    ASSERT_GT(run.processId, 0);
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(run.processId)));  // reaped, no zombie

    // `cat` ends at once only when standard input is empty; a shell would expand $HOME and *.
    const fs::path args = tree_ / "args";
    WriteScript(args, "cat\nprintf '%s|%s|%s' \"$1\" \"$2\" \"$#\"");
    const CapturedRun echoed = RunCaptured({Text(args), "a b  $HOME", "*;\"'"}, {10s, 5s});
    EXPECT_TRUE(echoed.ended);
    EXPECT_EQ(echoed.exitCode, 0);
    EXPECT_EQ(echoed.output, "a b  $HOME|*;\"'|2");
}

TEST_F(JavaDiscoveryRunTest, ProgramsThatCannotStartReportIt) {
    const fs::path plain = tree_ / "not-executable";
    WriteFile(plain, "#!/bin/sh\necho hi\n");
    fs::permissions(plain, fs::perms::owner_read | fs::perms::owner_write);

    for (const std::string& path : {Text(tree_ / "missing"), Text(plain), Text(tree_), std::string()}) {
        SCOPED_TRACE(path);
        const CapturedRun run = RunCaptured({path}, {});
        EXPECT_FALSE(run.started);
        EXPECT_FALSE(run.ended);
        EXPECT_EQ(run.exitCode, -1);
        EXPECT_TRUE(run.output.empty());
    }
    EXPECT_FALSE(RunCaptured({}, {}).started);
}

TEST_F(JavaDiscoveryRunTest, ProgramsThatOutstayTheirLimitsAreKilledWithWhatTheyStarted) {
    // Holding its output open: killed, with its own child.
    const fs::path hang = tree_ / "hang";
    const fs::path sleeperPid = tree_ / "sleeper.pid";
    WriteScript(hang, "echo started\nsleep 300 &\necho $! > '" + Text(sleeperPid) + "'\nwait");
    const auto begin = std::chrono::steady_clock::now();
    CapturedRun run = RunCaptured({Text(hang)}, {1s, 1s});
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.ended);
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_EQ(run.output, "started\n");
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(run.processId)));
    EXPECT_TRUE(GoneWithin(ReadPid(sleeperPid), 10s)) << "the program's own child survived";

    // Closing its output but not ending: the exit wait, then killed (no output limit at all).
    const fs::path linger = tree_ / "linger";
    WriteScript(linger, "echo bye\nexec >/dev/null 2>&1\nexec sleep 300");
    run = RunCaptured({Text(linger)}, {0ms, 1s});
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.ended);
    EXPECT_EQ(run.output, "bye\n");
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(run.processId)));

    // Ending but leaving a child on its output: it has ended, and the child goes.
    const fs::path daemon = tree_ / "daemon";
    const fs::path daemonPid = tree_ / "daemon.pid";
    WriteScript(daemon, "sleep 300 &\necho $! > '" + Text(daemonPid) + "'\necho done\nexit 4");
    run = RunCaptured({Text(daemon)}, {1s, 1s});
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_EQ(run.output, "done\n");
    EXPECT_TRUE(GoneWithin(ReadPid(daemonPid), 10s)) << "the child left on the output survived";
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 3 * kGuard);
}

// ---------------------------------------------------------------------------------------------
// Where runtimes are looked for.

using JavaDiscoveryLocationsTest = JavaDiscoveryTest;

TEST_F(JavaDiscoveryLocationsTest, JavaHomeGivesItsBinJavaAndPathEntriesTheirJava) {
    EXPECT_EQ(JavaHomeCandidates("/opt/jdk-17"), std::vector<std::string>{"/opt/jdk-17/bin/java"});
    EXPECT_EQ(JavaHomeCandidates("/opt/jdk-17/"), std::vector<std::string>{"/opt/jdk-17/bin/java"});
    EXPECT_EQ(JavaHomeCandidates("/"), std::vector<std::string>{"/bin/java"});
    EXPECT_TRUE(JavaHomeCandidates("").empty());
    EXPECT_TRUE(JavaHomeCandidates("/" + std::string(32767, 'j')).empty());
    EXPECT_EQ(JavaHomeCandidates(std::string(32767, 'j')).size(), 1u);

    // PATH entries with and without a trailing slash give the same candidate.
    EXPECT_EQ(JavaPathCandidates("/a/bin:/a/bin/::relative/bin:.:/c:/d d/"),
              (std::vector<std::string>{"/a/bin/java", "/a/bin/java", "/c/java", "/d d/java"}));
    EXPECT_TRUE(JavaPathCandidates("").empty());
    EXPECT_TRUE(JavaPathCandidates(":::").empty());
}

TEST_F(JavaDiscoveryLocationsTest, FolderRootsAreListedInAFixedOrder) {
    const fs::path first = tree_ / "first";
    const fs::path second = tree_ / "second";
    for (const char* name : {"zulu-21", "jdk-8", "Alpha", "jdk-17"}) fs::create_directories(first / name);
    WriteFile(first / "notes.txt", "not a runtime");
    fs::create_directory_symlink(first / "zulu-21", first / "current");
    fs::create_symlink(first / "notes.txt", first / "a-file-link");
    fs::create_directories(second / "b");

    const std::string a = Text(first);
    const std::string b = Text(second);
    const std::vector<std::string> expected = {
        a + "/Alpha/bin/java", a + "/jdk-17/bin/java", a + "/jdk-8/bin/java",
        a + "/zulu-21/bin/java",
        a + "/current/bin/java",  // linked folders after the real ones
        b + "/b/bin/java"};
    EXPECT_EQ(JavaFolderCandidates({a, Text(tree_ / "missing"), b + "/"}), expected);
    EXPECT_EQ(JavaFolderCandidates({b, a}).front(), b + "/b/bin/java");
    EXPECT_TRUE(JavaFolderCandidates({}).empty());
}

TEST_F(JavaDiscoveryLocationsTest, DefaultsComeFromTheEnvironmentAndTheUsualFolders) {
    struct Saved {
        const char* name;
        std::optional<std::string> value;
    };
    std::vector<Saved> saved;
    for (const char* name : {"JAVA_HOME", "PATH", "HOME"}) saved.push_back({name, EnvironmentValue(name)});
    setenv("JAVA_HOME", "/opt/some jdk", 1);
    setenv("PATH", "/x/bin:/y/bin", 1);
    setenv("HOME", "/home/player", 1);

    const JavaSearch search = DefaultJavaSearch();

    for (const Saved& entry : saved) {
        if (entry.value) setenv(entry.name, entry.value->c_str(), 1);
        else unsetenv(entry.name);
    }
    EXPECT_EQ(search.javaHome, "/opt/some jdk");
    EXPECT_EQ(search.pathVariable, "/x/bin:/y/bin");
    EXPECT_EQ(search.folderRoots, (std::vector<std::string>{"/usr/lib/jvm", "/usr/java", "/opt/java",
                                                            "/home/player/.jdks"}));
}

// ---------------------------------------------------------------------------------------------
// One probe.

using JavaDiscoveryProbeTest = JavaDiscoveryTest;

TEST_F(JavaDiscoveryProbeTest, VersionTextIsTheFirstLineTrimmedElseTheFolderName) {
    EXPECT_EQ(javaVersionLine(kBanner17 + "\nOpenJDK Runtime Environment\n"), kBanner17);
    EXPECT_EQ(javaVersionLine(" \t" + kBanner8 + " \r\nJava(TM) SE Runtime Environment\r\n"), kBanner8);
    EXPECT_EQ(javaVersionLine(kBanner21), kBanner21);  // no line end at all
    EXPECT_EQ(javaVersionLine("Picked up JAVA_TOOL_OPTIONS: -Dfile.encoding=UTF-8\n"
                              "NOTE: Picked up JDK_JAVA_OPTIONS: -Xshare:off\n" +
                              kBanner11 + "\n"),
              kBanner11);
    EXPECT_EQ(javaVersionLine("版本 \xff\"17\"\n"), "版本 \xEF\xBF\xBD\"17\"");
    EXPECT_EQ(javaVersionLine(""), "");
    EXPECT_EQ(javaVersionLine("\r\n"), "");

    // Without one, the name is the executable's folder.
    EXPECT_EQ(javaFallbackName("/usr/lib/jvm/jdk/bin/java"), "Java (bin)");
    EXPECT_EQ(javaFallbackName("/opt/测试/java"), "Java (测试)");
    EXPECT_EQ(javaFallbackName("/java"), "java");
}

TEST_F(JavaDiscoveryProbeTest, ProbesFakeRuntimes) {
    const fs::path banner = FakeJava(tree_ / "jdk-17", kBanner17);
    const fs::path silent = tree_ / "silent" / "bin" / "java";
    WriteScript(silent, "exit 0");
    const fs::path blank = tree_ / "blank" / "bin" / "java";
    WriteScript(blank, "echo; echo '  ' >&2");
    const fs::path broken = tree_ / "broken" / "lib" / "java";
    WriteFile(broken, "not a program");
    const fs::path closes = tree_ / "closes" / "bin" / "java";
    WriteScript(closes, "echo '" + kBanner8 + "' >&2\nexec >/dev/null 2>&1\nexec sleep 300");
    const fs::path hangs = tree_ / "hangs" / "bin" / "java";
    WriteScript(hangs, "sleep 300");

    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(probeJavaVersion(Text(banner), kQuickLimits), kBanner17);
    EXPECT_EQ(probeJavaVersion(Text(silent), kQuickLimits), "Java (bin)");
    EXPECT_EQ(probeJavaVersion(Text(blank), kQuickLimits), "Java (bin)");
    EXPECT_EQ(probeJavaVersion(Text(broken), kQuickLimits), "Java (lib)");
    EXPECT_EQ(probeJavaVersion(Text(closes), kQuickLimits), kBanner8);
    EXPECT_EQ(probeJavaVersion(Text(hangs), kQuickLimits), "Java (bin)");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, kGuard);
}

// ---------------------------------------------------------------------------------------------
// Candidates and the list.

using JavaDiscoveryCandidateTest = JavaDiscoveryTest;

TEST_F(JavaDiscoveryCandidateTest, OnlyExistingJavaFilesAreTaken) {
    const fs::path exe = FakeJava(tree_ / "jdk", kBanner17);
    WriteScript(tree_ / "jdk" / "bin" / "javac", "exit 0");
    fs::create_directories(tree_ / "folder" / "bin" / "java");

    EXPECT_TRUE(isJavaCandidate(Text(exe)));
    EXPECT_FALSE(isJavaCandidate(Text(tree_ / "jdk" / "bin" / "javac")));         // other name
    EXPECT_FALSE(isJavaCandidate(Text(tree_ / "missing" / "bin" / "java")));      // no file
    EXPECT_FALSE(isJavaCandidate(Text(tree_ / "folder" / "bin" / "java")));       // a folder
    EXPECT_FALSE(isJavaCandidate(Text(tree_ / "jdk" / "bin" / "java" / "")));     // not the last part
    EXPECT_FALSE(isJavaCandidate("bin/java"));                                    // too short to be a path

    std::vector<JavaInstall> list;
    EXPECT_EQ(addJavaCandidate(list, Text(tree_ / "missing" / "bin" / "java"), false, kQuickLimits), -1);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(addJavaCandidate(list, Text(exe), true, kQuickLimits), 0);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, kBanner17);
    EXPECT_EQ(list[0].exe, Text(exe));
    EXPECT_TRUE(list[0].manual);
}

TEST_F(JavaDiscoveryCandidateTest, TheSameRuntimeUnderAnotherPathIsListedOnce) {
    const fs::path exe = FakeJava(tree_ / "jdk", kBanner17);
    fs::create_directory_symlink(tree_ / "jdk", tree_ / "jdk-link");
    fs::create_directories(tree_ / "usr" / "bin");
    fs::create_symlink(exe, tree_ / "usr" / "bin" / "java");
    const fs::path other = FakeJava(tree_ / "other", kBanner21);

    std::vector<JavaInstall> list;
    ASSERT_EQ(addJavaCandidate(list, Text(exe), false, kQuickLimits), 0);
    EXPECT_EQ(addJavaCandidate(list, Text(tree_ / "jdk-link" / "bin" / "java"), true, kQuickLimits), 0);
    EXPECT_EQ(addJavaCandidate(list, Text(tree_ / "usr" / "bin" / "java"), true, kQuickLimits), 0);
    EXPECT_EQ(addJavaCandidate(list, Text(tree_ / "usr" / "bin" / ".." / "bin" / "java"), true, kQuickLimits), 0);
    EXPECT_EQ(addJavaCandidate(list, Text(other), false, kQuickLimits), 1);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].exe, Text(exe));  // the first path found stays, unmarked
    EXPECT_FALSE(list[0].manual);
    EXPECT_EQ(list[1].name, kBanner21);

    EXPECT_TRUE(sameJavaPath(Text(exe), Text(tree_ / "usr" / "bin" / "java")));
    EXPECT_FALSE(sameJavaPath(Text(exe), Text(other)));
    EXPECT_TRUE(sameJavaPath("/gone/bin/java", "/gone/bin/java"));
    EXPECT_FALSE(sameJavaPath("/gone/bin/java", "/Gone/bin/java"));
}

using JavaDiscoveryScanTest = JavaDiscoveryTest;

TEST_F(JavaDiscoveryScanTest, ListFollowsTheSourcesWithoutDuplicates) {
    // JAVA_HOME
    const fs::path javaHome = tree_ / "home jdk";
    const fs::path homeJava = FakeJava(javaHome, kBanner21);
    // First root, in name order: hang, jdk-17, jre-8, silent; "empty" and "dir-java" hold no java
    // file, "link-17" is jdk-17 again.
    const fs::path rootA = tree_ / "jvm";
    WriteScript(rootA / "hang" / "bin" / "java", "sleep 300");
    const fs::path jdk17 = FakeJava(rootA / "jdk-17", kBanner17);
    const fs::path jre8 = FakeJava(rootA / "jre-8", kBanner8);
    WriteScript(rootA / "silent" / "bin" / "java", "exit 1");
    fs::create_directories(rootA / "empty");
    fs::create_directories(rootA / "dir-java" / "bin" / "java");
    fs::create_directory_symlink(rootA / "jdk-17", rootA / "link-17");
    // Second root.
    const fs::path rootB = tree_ / "jdks";
    const fs::path zulu = FakeJava(rootB / "zulu", R"(openjdk version "22" 2024-03-19)");
    // PATH: JAVA_HOME's bin again (with and without the trailing slash), a runtime found only
    // there, and a link to jdk-17 the way /usr/bin/java leads to a JDK.
    const fs::path pathOnly = FakeJava(tree_ / "path only", kBanner11);
    fs::create_directories(tree_ / "usr" / "bin");
    fs::create_symlink(jdk17, tree_ / "usr" / "bin" / "java");
    // The player's own choices.
    const fs::path kept = FakeJava(tree_ / "mine", "this text is not read again");
    const fs::path deleted = FakeJava(tree_ / "deleted", kBanner17);

    JavaSearch search;
    search.javaHome = Text(javaHome) + "/";
    search.folderRoots = {Text(rootA), Text(tree_ / "no such root"), Text(rootB)};
    search.pathVariable = Text(javaHome / "bin") + "/:" + Text(tree_ / "nothing here") + ":" +
                          Text(javaHome / "bin") + ":relative:" + Text(pathOnly.parent_path()) +
                          ":" + Text(tree_ / "usr" / "bin");

    const std::vector<JavaInstall> current = {
        {"old entry that is gone", Text(tree_ / "gone" / "bin" / "java"), false},
        {"saved version of mine", Text(kept), true},
        {"saved version of the deleted one", Text(deleted), true},
        {"manual twin of jdk-17", Text(jdk17), true},
        {"saved version of mine, twice", Text(kept), true},
    };
    fs::remove(deleted);

    const auto begin = std::chrono::steady_clock::now();
    const std::vector<JavaInstall> list = scanJava(current, search, kQuickLimits);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, kGuard);

    const std::string homeExe = Text(javaHome) + "/bin/java";
    ASSERT_EQ(homeExe, Text(homeJava));
    EXPECT_EQ(Exes(list), (std::vector<std::string>{
                              homeExe,
                              Text(rootA / "hang" / "bin" / "java"),
                              Text(jdk17),
                              Text(jre8),
                              Text(rootA / "silent" / "bin" / "java"),
                              Text(zulu),
                              Text(pathOnly),
                              Text(kept),
                          }));
    ASSERT_EQ(list.size(), 8u);
    EXPECT_EQ(list[0].name, kBanner21);
    EXPECT_EQ(list[1].name, "Java (bin)");  // never answered
    EXPECT_EQ(list[2].name, kBanner17);
    EXPECT_EQ(list[3].name, kBanner8);
    EXPECT_EQ(list[4].name, "Java (bin)");  // printed nothing
    EXPECT_EQ(list[5].name, R"(openjdk version "22" 2024-03-19)");
    EXPECT_EQ(list[6].name, kBanner11);
    EXPECT_EQ(list[7].name, "saved version of mine");  // kept as saved, not probed
    for (std::size_t i = 0; i < 7; ++i) EXPECT_FALSE(list[i].manual) << i;
    EXPECT_TRUE(list[7].manual);
    EXPECT_TRUE(javaListNeedsRescan(list));  // two fallback names

    // A rescan of the new list gives the same list; once the player's runtime is deleted it goes.
    EXPECT_EQ(Exes(scanJava(list, search, kQuickLimits)), Exes(list));
    fs::remove(kept);
    const std::vector<JavaInstall> after = scanJava(list, search, kQuickLimits);
    ASSERT_EQ(after.size(), 7u);
    EXPECT_EQ(after.back().exe, Text(pathOnly));
}

TEST_F(JavaDiscoveryScanTest, NoJavaAnywhereGivesAnEmptyListAndKeepsTheSelection) {
    JavaSearch search;
    search.javaHome = Text(tree_ / "no jdk");
    search.folderRoots = {Text(tree_)};
    search.pathVariable = Text(tree_ / "bin");
    const std::vector<JavaInstall> list = scanJava({}, search, kQuickLimits);
    EXPECT_TRUE(list.empty());

    std::string selected;
    EXPECT_FALSE(fillSelectedJava(selected, list));
    EXPECT_EQ(selected, "");
}

TEST_F(JavaDiscoveryScanTest, FindsTheMachinesJdkOnce) {
    const fs::path jdkHome = "/usr/lib/jvm/java-17-openjdk-amd64";
    if (!fs::exists(jdkHome / "bin" / "java")) GTEST_SKIP() << "no OpenJDK 17 in /usr/lib/jvm";

    JavaSearch search;
    search.javaHome = Text(jdkHome);
    search.folderRoots = {"/usr/lib/jvm"};
    search.pathVariable = "/usr/bin:/usr/lib/jvm/java-17-openjdk-amd64/bin/";
    const std::vector<JavaInstall> list = scanJava({}, search);

    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[0].exe, Text(jdkHome / "bin" / "java"));
    EXPECT_TRUE(list[0].name.starts_with(R"(openjdk version "17.)")) << list[0].name;
    EXPECT_FALSE(list[0].manual);
    for (std::size_t i = 0; i < list.size(); ++i) {
        for (std::size_t k = i + 1; k < list.size(); ++k) {
            EXPECT_FALSE(sameJavaPath(list[i].exe, list[k].exe)) << list[i].exe << " " << list[k].exe;
        }
    }
    const auto viaOtherNames = std::count_if(list.begin(), list.end(), [](const JavaInstall& entry) {
        return entry.exe.find("java-1.17.0-openjdk-amd64") != std::string::npos ||
               entry.exe == "/usr/bin/java";
    });
    EXPECT_EQ(viaOtherNames, 0);

    std::string selected;
    EXPECT_TRUE(fillSelectedJava(selected, list));
    EXPECT_EQ(selected, list[0].exe);
    EXPECT_FALSE(javaListNeedsRescan({list[0]}));
}

// ---------------------------------------------------------------------------------------------
// The player's own choice, and the start-up check.

using JavaDiscoveryManualTest = JavaDiscoveryTest;

TEST_F(JavaDiscoveryManualTest, ABinFolderWithJavaIsAddedOrFoundAndSelected) {
    const fs::path exe = FakeJava(tree_ / "picked", kBanner8);
    const fs::path listed = FakeJava(tree_ / "listed", kBanner17);
    std::vector<JavaInstall> list = {{kBanner17, Text(listed), false}};
    std::string selected = Text(listed);

    const std::string path = addManualJava(list, selected, Text(exe.parent_path()) + "/", kQuickLimits);

    EXPECT_EQ(path, Text(exe));
    EXPECT_EQ(selected, Text(exe));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].name, kBanner8);
    EXPECT_EQ(list[1].exe, Text(exe));
    EXPECT_TRUE(list[1].manual);

    // Picking it again adds nothing and keeps it selected.
    EXPECT_EQ(addManualJava(list, selected, Text(exe.parent_path()), kQuickLimits), Text(exe));
    EXPECT_EQ(list.size(), 2u);

    // The listed runtime under another path (a link) selects the listed entry.
    fs::create_directories(tree_ / "usr" / "bin");
    fs::create_symlink(listed, tree_ / "usr" / "bin" / "java");
    EXPECT_EQ(addManualJava(list, selected, Text(tree_ / "usr" / "bin"), kQuickLimits), Text(listed));
    EXPECT_EQ(selected, Text(listed));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_FALSE(list[0].manual);

    // A folder without java (the jdk home itself, a missing one, a folder named java) changes
    // nothing.
    fs::create_directories(tree_ / "other" / "java");
    selected = "auto";
    for (const fs::path& folder : {tree_ / "listed", tree_ / "missing", tree_ / "other"}) {
        SCOPED_TRACE(Text(folder));
        EXPECT_EQ(addManualJava(list, selected, Text(folder), kQuickLimits), "");
        EXPECT_EQ(selected, "auto");
        EXPECT_EQ(list.size(), 2u);
    }
}

TEST_F(JavaDiscoveryManualTest, StartUpRescanWhenANameIsNotABannerAndAnEmptySelectionIsFilled) {
    EXPECT_TRUE(javaListNeedsRescan({}));
    EXPECT_FALSE(javaListNeedsRescan({{kBanner17, "/a/bin/java", false}, {kBanner8, "/b/bin/java", true}}));
    EXPECT_FALSE(javaListNeedsRescan({{"version", "/a/bin/java", false}}));
    EXPECT_TRUE(javaListNeedsRescan({{kBanner17, "/a/bin/java", false}, {"Java (bin)", "/b/bin/java", true}}));
    EXPECT_TRUE(javaListNeedsRescan({{"Version 17", "/a/bin/java", false}}));  // case matters
    EXPECT_TRUE(javaListNeedsRescan({{"", "/a/bin/java", false}}));

    // The selection is filled only when empty.
    const std::vector<JavaInstall> list = {{kBanner17, "/a/bin/java", false}, {kBanner8, "/b/bin/java", false}};
    std::string selected;
    EXPECT_TRUE(fillSelectedJava(selected, list));
    EXPECT_EQ(selected, "/a/bin/java");
    selected = "auto";
    EXPECT_FALSE(fillSelectedJava(selected, list));
    EXPECT_EQ(selected, "auto");
}

}  // namespace
}  // namespace lumivale
