// The game process runner against a real JVM: a small "game" compiled with javac when the tests
// start prints its arguments and a few lines on both streams, can start children, waits for a
// file when asked and exits with the code it was given. Events go through a real UI loop to a
// recording page host.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "GameProcess.h"
#include "JsonFields.h"
#include "LaunchCommand.h"
#include "Log.h"
#include "Paths.h"
#include "Process.h"
#include "RecordingPage.h"
#include "TempHome.h"
#include "UiEvents.h"
#include "UiLoop.h"
#include "VersionManifest.h"
#include "WebViewHost.h"

namespace lumivale {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using test::RecordingHost;
using test::UiThread;

const fs::path kJdkBin = "/usr/lib/jvm/java-17-openjdk-amd64/bin";
const std::string kJava = (kJdkBin / "java").string();
const std::string kToken = "tok-5ecret-7d1f";
// Only a guard against a hang, never a speed check.
constexpr auto kGuard = 2min;

const char* const kGameSource = R"JAVA(
import java.nio.file.*;

public class FakeGame {
    public static void main(String[] args) throws Exception {
        int exit = 0;
        String until = null;
        String touch = null;
        boolean spawn = false;
        for (int i = 0; i < args.length; i++) {
            if (args[i].equals("--exit")) exit = Integer.parseInt(args[++i]);
            else if (args[i].equals("--until")) until = args[++i];
            else if (args[i].equals("--touch")) touch = args[++i];
            else if (args[i].equals("--spawn")) spawn = true;
        }
        boolean hide = false;
        for (String arg : args) {
            System.out.println("arg:" + (hide ? "(hidden)" : arg));
            hide = arg.equals("--accessToken");
        }
        System.out.println("out-1");
        System.err.println("err-1");
        System.out.println("out-2");
        byte[] raw = {(byte) 0xE4, (byte) 0xB8, (byte) 0xAD, (byte) 0xFF, 0, '\r', '\n'};
        System.out.write(raw, 0, raw.length);
        System.out.flush();
        System.err.println("err-2");
        if (spawn) {
            Process same = new ProcessBuilder("sleep", "600").start();
            Process away = new ProcessBuilder("setsid", "sleep", "600").start();
            System.out.println("child:" + same.pid());
            System.out.println("child:" + away.pid());
        }
        if (touch != null) {
            Path part = Paths.get(touch + ".part");
            Files.write(part, Long.toString(ProcessHandle.current().pid()).getBytes());
            Files.move(part, Paths.get(touch), StandardCopyOption.ATOMIC_MOVE);
        }
        if (until != null) {
            Path file = Paths.get(until);
            while (!Files.exists(file)) Thread.sleep(20);
        }
        System.out.println("bye");
        System.exit(exit);
    }
}
)JAVA";

// What the game writes on both streams before it waits, given its arguments.
std::string ExpectedOutput(const Strings& gameArgs) {
    std::string out;
    bool hide = false;
    for (const auto& arg : gameArgs) {
        out += "arg:" + (hide ? std::string("(hidden)") : arg) + "\n";
        hide = arg == "--accessToken";
    }
    out += "out-1\nerr-1\nout-2\n";
    out += std::string("\xE4\xB8\xAD\xFF\0\r\n", 7);
    out += "err-2\n";
    return out;
}

// A door a launch step waits at until the test opens it.
class Gate {
public:
    void Open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }
    void Wait() {
        std::unique_lock lock(mutex_);
        opened_.wait(lock, [&] { return open_; });
    }
    // False only when it stays shut.
    bool WaitOpen() {
        std::unique_lock lock(mutex_);
        return opened_.wait_for(lock, kGuard, [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

Strings Types(const Strings& events) {
    Strings types;
    for (const auto& event : events) types.push_back(ReadTextField(event, "type"));
    return types;
}

std::size_t CountType(const Strings& events, const std::string& type) {
    const Strings types = Types(events);
    return static_cast<std::size_t>(std::count(types.begin(), types.end(), type));
}

// --- processes, seen through /proc -----------------------------------------------------------

struct Stat {
    char state = '?';
    long ppid = 0;
    long pgrp = 0;
    long nice = 0;
};

std::optional<Stat> ReadStat(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    if (!in || !std::getline(in, text)) return std::nullopt;
    const auto close = text.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(text.substr(close + 2));
    std::vector<std::string> values;
    for (std::string value; fields >> value;) values.push_back(value);
    if (values.size() < 17) return std::nullopt;
    return Stat{values[0][0], std::stol(values[1]), std::stol(values[2]), std::stol(values[16])};
}

std::optional<Stat> ReadStat(long pid) { return ReadStat(fs::path("/proc") / std::to_string(pid) / "stat"); }

// Alive: listed and not a zombie.
bool IsAlive(long pid) {
    const auto stat = ReadStat(pid);
    return stat && stat->state != 'Z';
}

// Every live process of a process group.
std::vector<long> LiveMembersOf(long group) {
    std::vector<long> members;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
        const auto stat = ReadStat(entry.path() / "stat");
        if (stat && stat->pgrp == group && stat->state != 'Z') members.push_back(std::stol(name));
    }
    return members;
}

// The nice value of every thread of a process.
std::vector<long> ThreadNiceValues(long pid) {
    std::vector<long> values;
    std::error_code error;
    for (const auto& task : fs::directory_iterator(fs::path("/proc") / std::to_string(pid) / "task", error)) {
        if (const auto stat = ReadStat(task.path() / "stat")) values.push_back(stat->nice);
    }
    return values;
}

bool RunningAsRoot() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Uid:", 0) == 0) {
            std::istringstream values(line.substr(4));
            long real = -1;
            long effective = -1;
            values >> real >> effective;
            return effective == 0;
        }
    }
    return false;
}

// Checks `done` now and then until it holds; false only if it never does.
bool WaitUntil(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + kGuard;
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// --- the suite -----------------------------------------------------------------------------

class GameProcessTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::random_device seed;
        buildFolder_ = new fs::path(fs::temp_directory_path() /
                                    ("lumivale-fakegame-" + std::to_string(seed()) + std::to_string(seed())));
        fs::create_directories(*buildFolder_ / "classes");
        test::WriteFile(*buildFolder_ / "FakeGame.java", kGameSource);
        const CapturedRun javac = RunCaptured({(kJdkBin / "javac").string(), "-d", (*buildFolder_ / "classes").string(),
                                               (*buildFolder_ / "FakeGame.java").string()},
                                              {5min, 30s});
        ASSERT_EQ(javac.exitCode, 0) << javac.output;
        const CapturedRun jar = RunCaptured({(kJdkBin / "jar").string(), "cf", (*buildFolder_ / "fake.jar").string(),
                                             "-C", (*buildFolder_ / "classes").string(), "."},
                                            {5min, 30s});
        ASSERT_EQ(jar.exitCode, 0) << jar.output;
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        if (buildFolder_) fs::remove_all(*buildFolder_, ignored);
        delete buildFolder_;
        buildFolder_ = nullptr;
    }

    GameProcessTest() : loop_(std::make_shared<UiLoop>()), host_(std::make_shared<RecordingHost>()), ui_(loop_) {
        SetConsoleLogToStderr(true);
        events_ = UiEvents(loop_, host_);
    }

    ~GameProcessTest() override {
        // Whatever a failed test left behind ends here.
        for (const auto& gate : gates_) gate->Open();
        for (const fs::path& file : releaseOnExit_) test::WriteFile(file, "");
        for (long pid : killOnExit_) {
            if (IsAlive(pid)) ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
        if (runner_) {
            runner_->Stop();
            WaitUntil([&] { return !runner_->HasProcess(); });
            runner_->Shutdown();
        }
    }

    GameProcess& Runner() {
        if (!runner_) runner_ = std::make_unique<GameProcess>(events_);
        return *runner_;
    }

    fs::path Root() const { return home_.program() / ".minecraft"; }
    fs::path File(const std::string& name) const { return home_.root() / name; }
    fs::path LogFile() const { return home_.program() / "log" / Utf8Path(kGameLogFileName); }

    // Installs core "fake" whose game arguments end with `extra`; returns its request.
    LaunchRequest Core(const std::string& extra, const std::string& id = "fake") {
        const fs::path folder = Root() / "versions" / id;
        const std::string arguments =
            "--username ${auth_player_name} --accessToken ${auth_access_token} --version ${version_name} " + extra;
        test::WriteFile(folder / (id + ".json"),
                        R"({"id":")" + id + R"(","mainClass":"FakeGame","minecraftArguments":")" + arguments + R"("})");
        LaunchRequest request;
        request.javaPath = kJava;
        request.gameRoot = PathUtf8(Root());
        request.coreId = id;
        request.coreFolder = PathUtf8(folder);
        request.gameDirectory = PathUtf8(folder);
        request.coreJar = PathUtf8(*buildFolder_ / "fake.jar");
        request.memoryMb = 64;
        request.processPriority = "medium";
        request.playerName = "Steve";
        request.playerUuid = "0123456789abcdef0123456789abcdef";
        request.accessToken = kToken;
        return request;
    }

    // The game's arguments as they reach main(), for the arguments `extra` of Core.
    static Strings GameArgs(const std::string& extra, const std::string& id = "fake") {
        Strings args = {"--username", "Steve", "--accessToken", kToken, "--version", id};
        for (const auto& arg : splitCustomJvmArgs(extra)) args.push_back(arg);
        return args;
    }

    // A completion that reports one step and succeeds.
    LaunchSteps QuickSteps() {
        LaunchSteps steps;
        steps.completeFiles = [](const LaunchRequest&, const LaunchProgress& progress, std::string&,
                                 const LaunchCancelled& cancelled) {
            progress(50, "库文件 \"1/2\"");
            return !cancelled();
        };
        steps.onGameEnded = [this](const GameSession& session) {
            std::lock_guard lock(sessionsMutex_);
            sessions_.push_back(session);
        };
        return steps;
    }

    // Every event sent so far has arrived: the events of threads that have finished posting.
    Strings Sync() {
        events_.Post(R"({"type":"test:sync"})");
        EXPECT_TRUE(host_->WaitForType("test:sync", ++syncs_));
        Strings all = host_->Events();
        std::erase_if(all, [](const std::string& e) { return ReadTextField(e, "type") == "test:sync"; });
        return all;
    }

    std::shared_ptr<Gate> NewGate() {
        gates_.push_back(std::make_shared<Gate>());
        return gates_.back();
    }

    std::vector<GameSession> Sessions() {
        std::lock_guard lock(sessionsMutex_);
        return sessions_;
    }

    long PidIn(const fs::path& touchFile) {
        EXPECT_TRUE(WaitUntil([&] { return fs::exists(touchFile); }));
        return std::stol(test::ReadFile(touchFile));
    }

    static fs::path* buildFolder_;
    test::TempHome home_;
    std::shared_ptr<UiLoop> loop_;
    std::shared_ptr<RecordingHost> host_;
    UiThread ui_;
    UiEvents events_;
    std::unique_ptr<GameProcess> runner_;
    std::vector<fs::path> releaseOnExit_;
    std::vector<std::shared_ptr<Gate>> gates_;  // all opened at the end, so no launch waits forever
    std::vector<long> killOnExit_;  // children of a game that a failing stop may leave behind
    std::mutex sessionsMutex_;
    std::vector<GameSession> sessions_;
    std::size_t syncs_ = 0;
};

fs::path* GameProcessTest::buildFolder_ = nullptr;

const std::string kCheckingEvent = R"({"type":"launch:step","text":"正在校验游戏文件…"})";
const std::string kStartingEvent = R"({"type":"launch:step","text":"正在启动 Minecraft 客户端…"})";
const std::string kProgressEvent = R"({"type":"install:progress","pct":50,"msg":"库文件 \"1/2\""})";
const std::string kAbnormalEvent =
    R"({"type":"game:error","reason":"游戏进程异常退出（可能是 Java 版本不符或游戏文件缺失）"})";

TEST_F(GameProcessTest, AGameThatRunsTicksLogsEveryByteInOrderAndEndsQuietly) {
    const fs::path until = File("until");
    releaseOnExit_.push_back(until);
    const std::string extra = "--until " + PathUtf8(until);
    const LaunchRequest request = Core(extra);
    ASSERT_TRUE(Runner().Launch(request, QuickSteps()));
    EXPECT_TRUE(Runner().Busy());
    EXPECT_FALSE(Runner().Launch(request, QuickSteps())) << "a second launch while one runs";

    ASSERT_TRUE(host_->WaitForType("game:tick", 2));
    EXPECT_TRUE(Runner().HasProcess());
    const std::int64_t pid = Runner().ProcessId();
    EXPECT_TRUE(IsAlive(pid));
    test::WriteFile(until, "");
    ASSERT_TRUE(host_->WaitForType("game:stopped"));
    EXPECT_FALSE(Runner().Busy());
    EXPECT_FALSE(Runner().HasProcess());
    EXPECT_EQ(Runner().ProcessId(), 0);
    EXPECT_FALSE(IsAlive(pid));
    Runner().Shutdown();  // every thread of the game has ended: nothing more can come

    const Strings events = Sync();
    ASSERT_GE(events.size(), 8u);
    EXPECT_EQ(events[0], kCheckingEvent);
    EXPECT_EQ(events[1], R"({"type":"install:start"})");
    EXPECT_EQ(events[2], kProgressEvent);
    EXPECT_EQ(events[3], kStartingEvent);
    EXPECT_EQ(events[4], R"({"type":"game:started"})");
    std::int64_t last = 0;
    for (std::size_t i = 5; i + 1 < events.size(); ++i) {
        ASSERT_EQ(ReadTextField(events[i], "type"), "game:tick") << events[i];
        const std::int64_t ms = ReadIntField(events[i], "ms");
        EXPECT_GT(ms, last);
        EXPECT_GE(ms, static_cast<std::int64_t>(i - 4) * 1000) << "at most one tick a second from the start";
        EXPECT_EQ(events[i], R"({"type":"game:tick","ms":)" + std::to_string(ms) + "}");
        last = ms;
    }
    EXPECT_EQ(events.back(), R"({"type":"game:stopped"})");
    EXPECT_EQ(CountType(events, "game:error"), 0u);

    const auto sessions = Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_FALSE(sessions[0].abnormal);
    EXPECT_EQ(sessions[0].processId, pid);
    EXPECT_EQ(sessions[0].launchId, Runner().LaunchId());
    EXPECT_EQ(sessions[0].startMs, Runner().StartMs());
    EXPECT_GE(sessions[0].endMs, sessions[0].startMs);

    // The log: header with the launch id, the command line with the token masked, then the
    // game's two streams byte for byte in the order written.
    LaunchRequest same = request;
    same.launchId = Runner().LaunchId();
    const LaunchPlan plan = buildLaunchCommand(same);
    ASSERT_TRUE(plan.success);
    const std::string masked = maskSecret(plan.commandLine, kToken);
    EXPECT_NE(masked.find("--accessToken ***"), std::string::npos) << masked;
    EXPECT_NE(masked.find("-Dlumivale.launch.id=" + Runner().LaunchId()), std::string::npos);
    const std::string expected = "[Lumivale] 本次启动标记 launch-id: " + Runner().LaunchId() + "\r\n" +
                                 "[Lumivale] 启动命令行：\r\n" + masked + "\r\n\r\n" +
                                 "[Lumivale] Java 输出：\r\n" + ExpectedOutput(GameArgs(extra)) + "bye\n";
    const std::string log = test::ReadFile(LogFile());
    EXPECT_EQ(log, expected);
    EXPECT_EQ(log.find(kToken), std::string::npos) << "the access token reached the log";
    EXPECT_FALSE(Runner().Launch(request, QuickSteps())) << "launch after shutdown";
}

TEST_F(GameProcessTest, ANonZeroExitIsReportedAfterStoppedAndItsOutputIsLogged) {
    const std::string extra = "--exit 1";
    ASSERT_TRUE(Runner().Launch(Core(extra), QuickSteps()));
    ASSERT_TRUE(host_->WaitForType("game:error"));
    EXPECT_FALSE(Runner().Busy());
    Runner().Shutdown();

    const Strings events = Sync();
    Strings types = Types(events);
    std::erase(types, "game:tick");  // a slow start may tick
    EXPECT_EQ(types, (Strings{"launch:step", "install:start", "install:progress", "launch:step", "game:started",
                              "game:stopped", "game:error"}));
    EXPECT_EQ(events.back(), kAbnormalEvent);
    const auto sessions = Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_TRUE(sessions[0].abnormal);

    const std::string log = test::ReadFile(LogFile());
    const std::string header = "[Lumivale] Java 输出：\r\n";
    const auto output = log.find(header);
    ASSERT_NE(output, std::string::npos) << log;
    EXPECT_EQ(log.substr(output + header.size()), ExpectedOutput(GameArgs(extra)) + "bye\n");
}

TEST_F(GameProcessTest, StopDuringPlayEndsTheWholeTreeWithoutAnError) {
    const fs::path touch = File("touch");
    const std::string extra = "--spawn --touch " + PathUtf8(touch) + " --until " + PathUtf8(File("never"));
    releaseOnExit_.push_back(File("never"));
    ASSERT_TRUE(Runner().Launch(Core(extra), QuickSteps()));
    const long javaPid = PidIn(touch);  // written after both children exist
    EXPECT_EQ(Runner().ProcessId(), javaPid);

    std::vector<long> children;
    const auto readChildren = [&] {
        children.clear();
        std::istringstream lines(test::ReadFile(LogFile()));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("child:", 0) == 0) children.push_back(std::stol(line.substr(6)));
        }
        return children.size() == 2;
    };
    ASSERT_TRUE(WaitUntil(readChildren)) << "the game's output did not reach the log";
    killOnExit_ = children;
    for (long child : children) ASSERT_TRUE(IsAlive(child)) << child;
    EXPECT_EQ(ReadStat(children[0])->pgrp, javaPid) << "the plain child stays in the game's group";
    EXPECT_NE(ReadStat(children[1])->pgrp, javaPid) << "setsid took the other one out of it";

    Runner().Stop();
    ASSERT_TRUE(host_->WaitForType("game:stopped"));
    EXPECT_FALSE(Runner().Busy());
    EXPECT_FALSE(IsAlive(javaPid));
    EXPECT_TRUE(WaitUntil([&] { return !IsAlive(children[0]) && !IsAlive(children[1]); }))
        << "a child of the game survived the stop";
    EXPECT_TRUE(LiveMembersOf(javaPid).empty());

    // With no game, a stop only answers.
    Runner().Stop();
    ASSERT_TRUE(host_->WaitForType("game:stopped", 2));
    Runner().Shutdown();

    const Strings events = Sync();
    EXPECT_EQ(CountType(events, "game:error"), 0u);
    EXPECT_EQ(CountType(events, "game:stopped"), 2u);
    const auto sessions = Sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_FALSE(sessions[0].abnormal);
}

TEST_F(GameProcessTest, AStopWhileFilesArePreparedCancelsTheLaunchForGood) {
    const fs::path touchA = File("touch-a");
    const auto enteredA = NewGate();
    const auto releaseA = NewGate();
    const auto sawCancel = std::make_shared<std::atomic<bool>>(false);

    LaunchSteps steps = QuickSteps();
    steps.completeFiles = [enteredA, releaseA, sawCancel](const LaunchRequest&, const LaunchProgress& progress,
                                                          std::string&, const LaunchCancelled& cancelled) {
        enteredA->Open();
        releaseA->Wait();
        *sawCancel = cancelled();
        progress(99, "too late");  // a cancelled launch reports nothing more
        return true;               // and even a complete set of files does not start it
    };
    ASSERT_TRUE(Runner().Launch(Core("--touch " + PathUtf8(touchA)), steps));
    ASSERT_TRUE(enteredA->WaitOpen());
    EXPECT_FALSE(Runner().HasProcess());
    Runner().Stop();
    ASSERT_TRUE(host_->WaitForType("game:stopped"));
    EXPECT_FALSE(Runner().Busy());

    // A new launch may start at once, while the cancelled one still waits for its files.
    ASSERT_TRUE(Runner().Launch(Core("--exit 0", "other"), QuickSteps()));
    ASSERT_TRUE(host_->WaitForType("game:stopped", 2));
    releaseA->Open();

    // The window between the files and the process: the command is built, then the stop comes.
    const auto built = NewGate();
    const auto releaseB = NewGate();
    LaunchSteps late = QuickSteps();
    late.buildCommand = [built, releaseB](const LaunchRequest& request) {
        LaunchPlan plan = buildLaunchCommand(request);
        built->Open();
        releaseB->Wait();
        return plan;
    };
    const fs::path touchB = File("touch-b");
    ASSERT_TRUE(Runner().Launch(Core("--touch " + PathUtf8(touchB), "late"), late));
    ASSERT_TRUE(built->WaitOpen());
    Runner().Stop();
    ASSERT_TRUE(host_->WaitForType("game:stopped", 3));
    releaseB->Open();

    Runner().Shutdown();  // joins both cancelled launch threads
    EXPECT_TRUE(*sawCancel);
    EXPECT_FALSE(fs::exists(touchA)) << "the cancelled game was started";
    EXPECT_FALSE(fs::exists(touchB)) << "the cancelled game was started";
    const Strings events = Sync();
    EXPECT_EQ(CountType(events, "game:started"), 1u);
    EXPECT_EQ(CountType(events, "game:error"), 0u);
    for (const auto& event : events) EXPECT_EQ(event.find("too late"), std::string::npos);
    ASSERT_GE(events.size(), 8u);
    // First launch: two steps, then the stop.
    EXPECT_EQ(Strings(events.begin(), events.begin() + 3),
              (Strings{kCheckingEvent, R"({"type":"install:start"})", R"({"type":"game:stopped"})"}));
    // Last launch: up to the second step, then the stop.
    EXPECT_EQ(Strings(events.end() - 5, events.end()),
              (Strings{kCheckingEvent, R"({"type":"install:start"})", kProgressEvent, kStartingEvent,
                       R"({"type":"game:stopped"})"}));
}

TEST_F(GameProcessTest, FailuresBeforeTheProcessSendOneErrorAndNoStopped) {
    struct Case {
        const char* name;
        std::function<void(LaunchRequest&, LaunchSteps&)> arrange;
        std::string reason;
        std::string logTail = {};  // the end of the game log, when the start itself failed
    };
    const std::string missingJson = PathUtf8(Root() / "versions" / "gone" / "gone.json");
    const std::vector<Case> cases = {
        {"completion with a reason",
         [](LaunchRequest&, LaunchSteps& steps) {
             steps.completeFiles = [](const LaunchRequest&, const LaunchProgress&, std::string& error,
                                      const LaunchCancelled&) {
                 error = "库文件下载失败：C:\\x\n第二行";
                 return false;
             };
         },
         "库文件下载失败：C:\\\\x\\n第二行"},
        {"completion without a reason",
         [](LaunchRequest&, LaunchSteps& steps) {
             steps.completeFiles = [](const LaunchRequest&, const LaunchProgress&, std::string&,
                                      const LaunchCancelled&) { return false; };
         },
         "游戏文件缺失且无法自动补齐"},
        {"version JSON missing",
         [&](LaunchRequest& request, LaunchSteps&) {
             request.coreId = "gone";
             request.coreFolder = PathUtf8(Root() / "versions" / "gone");
         },
         std::string(kVersionJsonMissingMessage) + missingJson},
        {"Java missing",
         [&](LaunchRequest& request, LaunchSteps&) { request.javaPath = PathUtf8(Root() / "no-java"); },
         "启动失败，错误码 2：请确认 Java 路径正确且版本 JSON 完整",
         "[Lumivale] Java 输出：\r\n[Lumivale] CreateProcess 失败，错误码 2\r\n"},
        {"a plan without arguments",
         [](LaunchRequest&, LaunchSteps& steps) {
             steps.buildCommand = [](const LaunchRequest&) {
                 LaunchPlan plan;
                 plan.success = true;
                 plan.commandLine = "java";
                 return plan;
             };
         },
         "启动失败，错误码 22：请确认 Java 路径正确且版本 JSON 完整"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host_->Clear();
        syncs_ = 0;
        LaunchRequest request = Core("--exit 0");
        LaunchSteps steps = QuickSteps();
        c.arrange(request, steps);
        ASSERT_TRUE(Runner().Launch(request, steps));
        ASSERT_TRUE(host_->WaitForType("game:error"));
        EXPECT_TRUE(WaitUntil([&] { return !Runner().Busy(); }));
        const Strings events = Sync();
        EXPECT_EQ(events.back(), R"({"type":"game:error","reason":")" + c.reason + R"("})");
        EXPECT_EQ(CountType(events, "game:error"), 1u);
        EXPECT_EQ(CountType(events, "game:stopped"), 0u);
        EXPECT_EQ(CountType(events, "game:started"), 0u);
        if (!c.logTail.empty()) {
            const std::string log = test::ReadFile(LogFile());
            EXPECT_TRUE(log.ends_with(c.logTail)) << log;
            EXPECT_EQ(log.find(kToken), std::string::npos);
        }
    }
    Runner().Shutdown();
    EXPECT_TRUE(Sessions().empty());
}

TEST_F(GameProcessTest, LowAndHighPriorityReachEveryThreadOfTheGame) {
    // Raising the priority needs root (or a nice limit); without it the game runs as the
    // launcher does.
    const long own = ReadStat(fs::path("/proc/self/stat"))->nice;
    struct Case {
        std::string setting;
        long nice;
    };
    for (const Case& c : {Case{"low", kLowPriorityNice}, Case{"high", RunningAsRoot() ? kHighPriorityNice : own},
                          Case{"medium", own}}) {
        SCOPED_TRACE(c.setting);
        const fs::path touch = File("touch-" + c.setting);
        const fs::path until = File("until-" + c.setting);
        releaseOnExit_.push_back(until);
        LaunchRequest request = Core("--touch " + PathUtf8(touch) + " --until " + PathUtf8(until));
        request.processPriority = c.setting;
        const std::size_t stopped = CountType(host_->Events(), "game:stopped");
        ASSERT_TRUE(Runner().Launch(request, QuickSteps()));
        const long pid = PidIn(touch);
        const std::vector<long> nice = ThreadNiceValues(pid);
        ASSERT_GT(nice.size(), 3u) << "a JVM runs several threads";
        for (long value : nice) EXPECT_EQ(value, c.nice);
        test::WriteFile(until, "");
        ASSERT_TRUE(host_->WaitForType("game:stopped", stopped + 1));
    }
}

TEST_F(GameProcessTest, AWrapperThatStartsJavaHandsTheGameOver) {
    // A launcher script that leaves the game to the Java it started, and exits with 7.
    const auto wrapper = [&](const std::string& name, const fs::path& touch) {
        const fs::path script = File(name);
        test::WriteFile(script, "#!/bin/sh\necho $$ > \"" + PathUtf8(script) + ".pid\"\n\"" + kJava +
                                    "\" \"$@\" &\nwhile [ ! -f \"" + PathUtf8(touch) +
                                    "\" ]; do sleep 0.05; done\nexit 7\n");
        fs::permissions(script, fs::perms::owner_all);
        return PathUtf8(script);
    };

    // The game runs on after the wrapper ended and its end is the Java's.
    {
        const fs::path touch = File("touch-1");
        const fs::path until = File("until-1");
        releaseOnExit_.push_back(until);
        LaunchRequest request = Core("--touch " + PathUtf8(touch) + " --until " + PathUtf8(until));
        request.javaPath = wrapper("wrapper-1", touch);
        ASSERT_TRUE(Runner().Launch(request, QuickSteps()));
        ASSERT_TRUE(host_->WaitForType("game:started"));
        const long javaPid = PidIn(touch);
        const long wrapperPid = std::stol(test::ReadFile(File("wrapper-1.pid")));
        EXPECT_NE(wrapperPid, javaPid);
        ASSERT_TRUE(WaitUntil([&] { return Runner().ProcessId() == javaPid; }));
        EXPECT_FALSE(fs::exists(fs::path("/proc") / std::to_string(wrapperPid))) << "the wrapper was collected";
        EXPECT_TRUE(Runner().Busy());
        EXPECT_EQ(CountType(Sync(), "game:stopped"), 0u);
        test::WriteFile(until, "");
        ASSERT_TRUE(host_->WaitForType("game:stopped"));
        EXPECT_FALSE(IsAlive(javaPid));
        ASSERT_TRUE(WaitUntil([&] { return !Sessions().empty(); }));  // called after "game:stopped"
        const auto sessions = Sessions();
        ASSERT_EQ(sessions.size(), 1u);
        EXPECT_EQ(sessions[0].processId, javaPid);
        EXPECT_FALSE(sessions[0].abnormal) << "the wrapper's own exit code does not count";
    }
    // A stop reaches the Java handed over to.
    {
        const fs::path touch = File("touch-2");
        releaseOnExit_.push_back(File("never"));
        LaunchRequest request = Core("--touch " + PathUtf8(touch) + " --until " + PathUtf8(File("never")));
        request.javaPath = wrapper("wrapper-2", touch);
        ASSERT_TRUE(Runner().Launch(request, QuickSteps()));
        const long javaPid = PidIn(touch);
        ASSERT_TRUE(WaitUntil([&] { return Runner().ProcessId() == javaPid; }));
        Runner().Stop();
        ASSERT_TRUE(host_->WaitForType("game:stopped", 2));
        EXPECT_TRUE(WaitUntil([&] { return !IsAlive(javaPid); }));
    }
    Runner().Shutdown();
    EXPECT_EQ(CountType(Sync(), "game:error"), 0u);
}

TEST_F(GameProcessTest, WithoutALogFolderTheGameStillRuns) {
    test::WriteFile(home_.program() / "log", "a file where the folder should be");
    ASSERT_TRUE(Runner().Launch(Core("--exit 0"), QuickSteps()));
    ASSERT_TRUE(host_->WaitForType("game:stopped"));
    Runner().Shutdown();
    const Strings types = Types(Sync());
    EXPECT_EQ(std::count(types.begin(), types.end(), "game:started"), 1);
    EXPECT_EQ(std::count(types.begin(), types.end(), "game:error"), 0);
    EXPECT_TRUE(fs::is_regular_file(home_.program() / "log"));
}

TEST_F(GameProcessTest, ShutdownLeavesARunningGameRunningAndSendsNothingMore) {
    const fs::path touch = File("touch");
    const fs::path until = File("until");
    releaseOnExit_.push_back(until);
    ASSERT_TRUE(Runner().Launch(Core("--touch " + PathUtf8(touch) + " --until " + PathUtf8(until)), QuickSteps()));
    const long pid = PidIn(touch);
    Runner().Shutdown();
    EXPECT_TRUE(IsAlive(pid)) << "closing the launcher ended the game";
    EXPECT_FALSE(Runner().Launch(Core("--exit 0"), QuickSteps()));
    const std::size_t before = Sync().size();

    // The game ends on its own later; nobody reports it.
    test::WriteFile(until, "");
    int status = 0;
    ASSERT_EQ(::waitpid(static_cast<pid_t>(pid), &status, 0), pid);  // the test collects it
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const Strings events = Sync();
    EXPECT_EQ(events.size(), before);
    EXPECT_EQ(CountType(events, "game:stopped"), 0u);
    EXPECT_TRUE(Sessions().empty());
}

TEST(GameProcessEvents, TextsAndPriorityNames) {
    EXPECT_EQ(LaunchStepEvent("a\"b\\c\n"), R"({"type":"launch:step","text":"a\"b\\c\n"})");
    EXPECT_EQ(InstallProgressEvent(7, "x\ty"), R"({"type":"install:progress","pct":7,"msg":"x\ty"})");
    EXPECT_EQ(GameTickEvent(123456789012), R"({"type":"game:tick","ms":123456789012})");
    EXPECT_EQ(GameErrorEvent("坏了\r"), R"({"type":"game:error","reason":"坏了\r"})");
    EXPECT_EQ(PriorityFromSetting("low"), ProcessPriority::Low);
    EXPECT_EQ(PriorityFromSetting("high"), ProcessPriority::High);
    EXPECT_EQ(PriorityFromSetting("medium"), ProcessPriority::Normal);
    EXPECT_EQ(PriorityFromSetting("High"), ProcessPriority::Normal);
    EXPECT_EQ(PriorityFromSetting(""), ProcessPriority::Normal);
}

}  // namespace
}  // namespace lumivale
