// The game process runner against a real JVM game compiled here; events go through a real UI loop.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <random>
#include <sstream>

#include "GameProcess.h"
#include "LaunchTestKit.h"
#include "RecordingPage.h"
#include "Subprocess.h"
#include "TestJava.h"

namespace lumivale::test {
namespace {

using namespace std::chrono_literals;
const std::string kToken = "tok-5ecret-7d1f";

const char* const kGameSource = R"JAVA(
import java.nio.file.*;
public class FakeGame {
    public static void main(String[] args) throws Exception {
        String until = null;
        for (int i = 0; i < args.length; i++) {
            if (args[i].equals("--until")) until = args[i + 1];
            if (args[i].equals("--spawn")) for (String[] c : new String[][] {{"sleep", "600"}, {"setsid", "sleep", "600"}})
                System.out.println("child:" + new ProcessBuilder(c).start().pid());
            if (args[i].equals("--touch")) {
                Files.write(Paths.get(args[i + 1] + ".part"), Long.toString(ProcessHandle.current().pid()).getBytes());
                Files.move(Paths.get(args[i + 1] + ".part"), Paths.get(args[i + 1]), StandardCopyOption.ATOMIC_MOVE);
            }
        }
        while (until != null && !Files.exists(Paths.get(until))) Thread.sleep(20);
    }
}
)JAVA";

// A door a launch step waits at until the test opens it.
struct Gate {
    std::promise<void> promise;
    std::shared_future<void> opened = promise.get_future().share();
    std::once_flag once;
    void Open() { std::call_once(once, [&] { promise.set_value(); }); }
    bool WaitOpen() const { return opened.wait_for(2min) == std::future_status::ready; }
};

std::size_t CountType(const Strings& events, const std::string& type) {
    return std::count_if(events.begin(), events.end(), [&](const std::string& e) { return ReadTextField(e, "type") == type; });
}

// Checks `done` now and then until it holds; false only if it never does.
bool WaitUntil(const std::function<bool()>& done) { return Eventually(done, 2min); }

class GameProcessTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        classes_ = fs::temp_directory_path() / ("lumivale-fakegame-" + std::to_string(std::random_device{}()));
        fs::create_directories(classes_);
        compiled_ = HasTestJdk() && CompileJava(classes_, {{"FakeGame", kGameSource}});
    }
    static void TearDownTestSuite() { fs::remove_all(classes_); }
    void SetUp() override {
        if (!compiled_) GTEST_SKIP() << "no JDK 17 to build the game with";
    }
    ~GameProcessTest() override {  // whatever a failed test left behind ends here
        for (const auto& gate : gates_) gate->Open();
        for (const auto& id : cores_) Release(id);
        for (long pid : killOnExit_) ::kill(static_cast<pid_t>(pid), SIGKILL);
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
    std::string In(const std::string& file) const { return PathUtf8(home_.root() / file); }
    fs::path LogFile() const { return home_.program() / "log" / Utf8Path(kGameLogFileName); }
    // Installs core `id`: its game writes its pid to <id>.pid, then waits for <id>.go when `waits`.
    LaunchRequest Core(const std::string& id, bool waits, const std::string& extra = "") {
        cores_.push_back(id);
        const fs::path folder = home_.program() / ".minecraft" / "versions" / id;
        WriteFile(folder / (id + ".json"), R"({"mainClass":"FakeGame","minecraftArguments":"--username ${auth_player_name} )"
                                           R"(--accessToken ${auth_access_token} )" + extra + " --touch " + In(id + ".pid") +
                                               (waits ? " --until " + In(id + ".go") : "") + "\"}");
        LaunchRequest request;
        request.javaPath = std::string(kTestJdk) + "/bin/java";
        request.gameRoot = PathUtf8(home_.program() / ".minecraft");
        request.coreId = id;
        request.coreFolder = request.gameDirectory = PathUtf8(folder);
        request.coreJar = PathUtf8(classes_);
        request.memoryMb = 64;
        request.playerName = "Steve";
        request.accessToken = kToken;
        return request;
    }
    void Release(const std::string& id) const { WriteFile(home_.root() / (id + ".go"), ""); }
    bool Started(const std::string& id) const { return fs::exists(home_.root() / (id + ".pid")); }
    long PidOf(const std::string& id) const {
        EXPECT_TRUE(WaitUntil([&] { return Started(id); }));
        return std::stol(ReadFile(home_.root() / (id + ".pid")));
    }
    // A completion that reports one step and succeeds; ended games are recorded.
    LaunchSteps QuickSteps() {
        LaunchSteps steps;
        steps.completeFiles = [](const auto&, const auto& progress, auto&, const auto& cancelled) {
            progress(50, "库文件 \"1/2\"");
            return !cancelled();
        };
        steps.onGameEnded = [this](const GameSession& session) {
            std::lock_guard lock(sessionsMutex_);
            sessions_.push_back(session);
        };
        return steps;
    }
    std::vector<GameSession> Sessions() {
        std::lock_guard lock(sessionsMutex_);
        return sessions_;
    }
    // Every event sent so far, once it has arrived.
    Strings Sync() {
        events_.Post(R"({"type":"test:sync"})");
        EXPECT_TRUE(host_->WaitFor(++syncs_, "test:sync"));
        Strings all = host_->Events();
        std::erase_if(all, [](const std::string& e) { return ReadTextField(e, "type") == "test:sync"; });
        return all;
    }
    std::shared_ptr<Gate> NewGate() { return gates_.emplace_back(std::make_shared<Gate>()); }

    static inline fs::path classes_;
    static inline bool compiled_ = false;
    TempHome home_;
    std::shared_ptr<UiLoop> loop_ = std::make_shared<UiLoop>();
    std::shared_ptr<RecordingHost> host_ = std::make_shared<RecordingHost>();
    UiThread ui_{loop_};
    UiEvents events_{loop_, host_};
    std::unique_ptr<GameProcess> runner_;
    Strings cores_;
    std::vector<std::shared_ptr<Gate>> gates_;
    std::vector<long> killOnExit_;
    std::mutex sessionsMutex_;
    std::vector<GameSession> sessions_;
    std::size_t syncs_ = 0;
};

const std::string kChecking = R"({"type":"launch:step","text":"正在校验游戏文件…"})";
const std::string kStarting = R"({"type":"launch:step","text":"正在启动 Minecraft 客户端…"})";
const std::string kProgress = R"({"type":"install:progress","pct":50,"msg":"库文件 \"1/2\""})";
const std::string kInstallStart = R"({"type":"install:start"})";
const std::string kStopped = R"({"type":"game:stopped"})";

TEST_F(GameProcessTest, StopDuringPlayEndsTheWholeTreeWithoutAnError) {
    const LaunchRequest request = Core("fake", true, "--spawn");
    ASSERT_TRUE(Runner().Launch(request, QuickSteps()));
    EXPECT_FALSE(Runner().Launch(request, QuickSteps())) << "a second launch while one runs";
    const long javaPid = PidOf("fake");  // written after both children exist
    std::vector<long> children;  // the second left the game's process group (setsid)
    ASSERT_TRUE(WaitUntil([&] {
        children.clear();
        std::istringstream lines(ReadFile(LogFile()));
        for (std::string line; std::getline(lines, line);) {
            if (line.starts_with("child:")) children.push_back(std::stol(line.substr(6)));
        }
        return children.size() == 2;
    }));
    killOnExit_ = children;
    Runner().Stop();
    ASSERT_TRUE(host_->WaitFor(1, "game:stopped"));
    EXPECT_FALSE(Runner().Busy() || ProcessAlive(javaPid));
    EXPECT_TRUE(WaitUntil([&] { return !ProcessAlive(children[0]) && !ProcessAlive(children[1]); })) << "a child survived the stop";
    Runner().Stop();  // with no game, a stop only answers
    ASSERT_TRUE(host_->WaitFor(2, "game:stopped"));
    Runner().Shutdown();
    EXPECT_EQ(CountType(Sync(), "game:error"), 0u);
    ASSERT_EQ(Sessions().size(), 1u);
    EXPECT_FALSE(Sessions()[0].abnormal);
}

TEST_F(GameProcessTest, AStopWhileFilesArePreparedCancelsTheLaunchForGood) {
    const auto entered = NewGate(), release = NewGate(), built = NewGate(), releaseBuilt = NewGate();
    auto sawCancel = std::make_shared<std::atomic<bool>>(false);
    LaunchSteps steps = QuickSteps();
    steps.completeFiles = [=](const auto&, const auto& progress, auto&, const auto& cancelled) {
        entered->Open();
        release->opened.wait();
        *sawCancel = cancelled();
        progress(99, "too late");  // a cancelled launch reports nothing more
        return true;               // and even complete files do not start it
    };
    ASSERT_TRUE(Runner().Launch(Core("a", false), steps));
    ASSERT_TRUE(entered->WaitOpen());
    Runner().Stop();
    ASSERT_TRUE(host_->WaitFor(1, "game:stopped"));
    EXPECT_FALSE(Runner().Busy());
    // A new launch may start at once, while the cancelled one still waits for its files.
    ASSERT_TRUE(Runner().Launch(Core("other", false), QuickSteps()));
    ASSERT_TRUE(host_->WaitFor(2, "game:stopped"));
    release->Open();

    // Between the files and the process: the command is built, then the stop comes.
    LaunchSteps late = QuickSteps();
    late.buildCommand = [=](const LaunchRequest& request) {
        LaunchPlan plan = buildLaunchCommand(request);
        built->Open();
        releaseBuilt->opened.wait();
        return plan;
    };
    ASSERT_TRUE(Runner().Launch(Core("late", false), late));
    ASSERT_TRUE(built->WaitOpen());
    Runner().Stop();
    ASSERT_TRUE(host_->WaitFor(3, "game:stopped"));
    releaseBuilt->Open();
    Runner().Shutdown();  // joins both cancelled launch threads

    EXPECT_TRUE(*sawCancel);
    EXPECT_FALSE(Started("a") || Started("late")) << "a cancelled game was started";
    const Strings events = Sync();
    EXPECT_EQ(CountType(events, "game:started"), 1u);
    EXPECT_EQ(CountType(events, "game:error"), 0u);
    ASSERT_GE(events.size(), 8u);
    EXPECT_EQ(Strings(events.begin(), events.begin() + 3), (Strings{kChecking, kInstallStart, kStopped}));
    EXPECT_EQ(Strings(events.end() - 5, events.end()), (Strings{kChecking, kInstallStart, kProgress, kStarting, kStopped}));
}

TEST_F(GameProcessTest, FailuresBeforeTheProcessSendOneErrorAndNoStopped) {
    const auto failFiles = [](std::string reason) {
        return [reason](LaunchRequest&, LaunchSteps& steps) {
            steps.completeFiles = [reason](const auto&, const auto&, std::string& error, const auto&) {
                error = reason;
                return false;
            };
        };
    };
    const std::vector<std::tuple<std::function<void(LaunchRequest&, LaunchSteps&)>, std::string, std::string>> cases = {
        {failFiles("库文件下载失败：C:\\x\n第二行"), "库文件下载失败：C:\\\\x\\n第二行", ""},
        {failFiles(""), "游戏文件缺失且无法自动补齐", ""},
        {[](LaunchRequest& request, LaunchSteps&) { request.coreId = "gone"; },
         "未找到版本 JSON：" + PathUtf8(home_.program() / ".minecraft/versions/fake/gone.json"), ""},
        {[](LaunchRequest& request, LaunchSteps&) { request.javaPath = "/no/java"; },
         "启动失败，错误码 2：请确认 Java 路径正确且版本 JSON 完整", "[Lumivale] Java 输出：\r\n[Lumivale] CreateProcess 失败，错误码 2\r\n"},
    };
    for (const auto& [arrange, reason, logTail] : cases) {
        SCOPED_TRACE(reason);
        host_->Clear();
        syncs_ = 0;
        LaunchRequest request = Core("fake", false);
        LaunchSteps steps = QuickSteps();
        arrange(request, steps);
        ASSERT_TRUE(Runner().Launch(request, steps));
        ASSERT_TRUE(host_->WaitFor(1, "game:error"));
        EXPECT_TRUE(WaitUntil([&] { return !Runner().Busy(); }));
        const Strings events = Sync();
        EXPECT_EQ(events.back(), R"({"type":"game:error","reason":")" + reason + R"("})");
        EXPECT_EQ(CountType(events, "game:error") + CountType(events, "game:stopped") + CountType(events, "game:started"), 1u);
        if (!logTail.empty()) {
            EXPECT_TRUE(ReadFile(LogFile()).ends_with(logTail)) << ReadFile(LogFile());
            EXPECT_EQ(ReadFile(LogFile()).find(kToken), std::string::npos);
        }
    }
    Runner().Shutdown();
    EXPECT_TRUE(Sessions().empty());
}

TEST_F(GameProcessTest, ShutdownLeavesARunningGameRunningAndALogFolderIsNotNeeded) {
    WriteFile(home_.program() / "log", "a file where the folder should be");
    ASSERT_TRUE(Runner().Launch(Core("fake", true), QuickSteps()));
    const long pid = PidOf("fake");
    ASSERT_TRUE(host_->WaitFor(1, "game:started"));
    Runner().Shutdown();
    EXPECT_TRUE(ProcessAlive(pid)) << "closing the launcher ended the game";
    EXPECT_FALSE(Runner().Launch(Core("other", false), QuickSteps()));
    const std::size_t before = Sync().size();
    Release("fake");  // the game ends on its own later; nobody reports it
    int status = 0;
    ASSERT_EQ(::waitpid(static_cast<pid_t>(pid), &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(Sync().size(), before);
    EXPECT_TRUE(Sessions().empty());
    EXPECT_TRUE(fs::is_regular_file(home_.program() / "log"));
}

}  // namespace
}  // namespace lumivale::test
