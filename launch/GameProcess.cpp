#include "GameProcess.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include "JsonFields.h"
#include "LaunchFiles.h"
#include "Log.h"
#include "Paths.h"

namespace lumivale {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kGameStartedEvent = R"({"type":"game:started"})";
constexpr const char* kGameStoppedEvent = R"({"type":"game:stopped"})";
constexpr const char* kInstallStartEvent = R"({"type":"install:start"})";

std::int64_t WallClockMs() {
    return std::chrono::duration_cast<milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string LogHeader(const std::string& launchId, const std::string& maskedCommandLine) {
    return "[Lumivale] 本次启动标记 launch-id: " + launchId + "\r\n" +
           "[Lumivale] 启动命令行：\r\n" + maskedCommandLine + "\r\n\r\n" +
           "[Lumivale] Java 输出：\r\n";
}

}  // namespace

std::string LaunchStepEvent(std::string_view text) {
    return R"({"type":"launch:step","text":")" + EscapeJsonText(text) + R"("})";
}

std::string InstallProgressEvent(int percent, std::string_view text) {
    return R"({"type":"install:progress","pct":)" + std::to_string(percent) + R"(,"msg":")" +
           EscapeJsonText(text) + R"("})";
}

std::string GameTickEvent(std::int64_t ms) {
    return R"({"type":"game:tick","ms":)" + std::to_string(ms) + "}";
}

std::string GameErrorEvent(std::string_view reason) {
    return R"({"type":"game:error","reason":")" + EscapeJsonText(reason) + R"("})";
}

ProcessPriority PriorityFromSetting(std::string_view processPriority) {
    if (processPriority == "low") return ProcessPriority::Low;
    if (processPriority == "high") return ProcessPriority::High;
    return ProcessPriority::Normal;
}

// One launch, from Launch until its thread ends or its game has ended.
struct GameProcess::Attempt {
    std::atomic<bool> cancelled{false};
};

// One started game process and the threads that serve it.
struct GameProcess::Game {
    std::shared_ptr<Attempt> attempt;
    ChildProcess child;
    std::string launchId;
    std::int64_t processId = 0;
    std::int64_t startMs = 0;
    SteadyClock::time_point steadyStart;
    std::function<void(const GameSession&)> onEnded;
    std::function<std::string(const GameSession&)> explainCrash;
    std::string gameDirectory;
    std::string outputLog;
    std::uint64_t outputStart = 0;
    std::unique_ptr<std::ofstream> log;  // written by the reader only

    // Guarded by GameProcess::mutex_.
    bool stopRequested = false;
    bool ended = false;

    std::thread reader;
    std::thread watcher;
    std::thread tick;  // joined by the watcher, or by whoever joins a game without a watcher
    bool hasWatcher = false;
    std::atomic<bool> readerDone{false};
    std::atomic<bool> watcherDone{false};
};

struct GameProcess::LaunchThread {
    std::thread thread;
    std::atomic<bool> done{false};
};

GameProcess::GameProcess(UiEvents events) : events_(std::move(events)) {}

GameProcess::~GameProcess() { Shutdown(); }

bool GameProcess::Launch(LaunchRequest request, LaunchSteps steps) {
    JoinFinished();
    std::lock_guard lock(mutex_);
    if (shuttingDown_ || running_) return false;
    auto attempt = std::make_shared<Attempt>();
    auto entry = std::make_shared<LaunchThread>();
    running_ = true;
    current_ = attempt;
    try {
        entry->thread = std::thread([this, attempt, entry, request = std::move(request),
                                     steps = std::move(steps)]() mutable {
            RunLaunch(attempt, std::move(request), steps);
            entry->done = true;
        });
    } catch (const std::system_error& error) {
        running_ = false;
        current_.reset();
        ConsoleLog(std::string("无法创建启动线程：") + error.what());
        events_.Post(GameErrorEvent(kStartFailedUnknownMessage));
        return false;
    }
    launchThreads_.push_back(std::move(entry));
    return true;
}

void GameProcess::RunLaunch(const std::shared_ptr<Attempt>& attempt, LaunchRequest request,
                            const LaunchSteps& steps) {
    try {
        PostForAttempt(*attempt, LaunchStepEvent(kCheckingFilesStep));
        PostForAttempt(*attempt, kInstallStartEvent);
        if (steps.completeFiles) {
            const LaunchProgress progress = [this, attempt](int percent, const std::string& text) {
                PostForAttempt(*attempt, InstallProgressEvent(percent, text));
            };
            const LaunchCancelled cancelled = [attempt] { return attempt->cancelled.load(); };
            std::string error;
            const bool complete = steps.completeFiles(request, progress, error, cancelled);
            if (attempt->cancelled) {
                ConsoleLog("启动已取消，游戏不会启动");
                return;
            }
            if (!complete) {
                FailAttempt(attempt, error.empty() ? std::string(kFilesIncompleteMessage) : error);
                return;
            }
        }
        if (attempt->cancelled) return;
        PostForAttempt(*attempt, LaunchStepEvent(kStartingClientStep));
        if (!StartGame(attempt, std::move(request), steps)) {
            if (attempt->cancelled) return;
            std::string reason;
            {
                std::lock_guard lock(mutex_);
                reason = lastError_;
            }
            FailAttempt(attempt, reason.empty() ? std::string(kStartFailedUnknownMessage) : reason);
        }
    } catch (const std::exception& error) {
        ConsoleLog(std::string("启动过程出错：") + error.what());
        FailAttempt(attempt, kStartFailedUnknownMessage);
    } catch (...) {
        ConsoleLog("启动过程出错");
        FailAttempt(attempt, kStartFailedUnknownMessage);
    }
}

bool GameProcess::StartGame(const std::shared_ptr<Attempt>& attempt, LaunchRequest request,
                            const LaunchSteps& steps) {
    {
        std::lock_guard lock(mutex_);
        if (game_) return false;  // a game is running: the error text stays as it is
    }

    const std::string launchId = makeLaunchId();
    request.launchId = launchId;
    {
        std::lock_guard lock(mutex_);
        launchId_ = launchId;
    }

    const LaunchPlan plan = steps.buildCommand ? steps.buildCommand(request) : buildLaunchCommand(request);
    if (!plan.success) {
        {
            std::lock_guard lock(mutex_);
            lastError_ = plan.error;
        }
        ConsoleLog("构建启动命令失败：" + plan.error);
        return false;
    }
    if (attempt->cancelled) return false;

    // The per-launch log, emptied at every start. Without it the game starts all the same.
    const std::filesystem::path logPath = GetLogDir() / Utf8Path(kGameLogFileName);
    auto log = std::make_unique<std::ofstream>(logPath, std::ios::binary | std::ios::trunc);
    const std::string header = LogHeader(launchId, maskSecret(plan.commandLine, request.accessToken));
    if (*log) {
        log->write(header.data(), static_cast<std::streamsize>(header.size()));
        log->flush();
    }
    if (!*log) log.reset();

    ConsoleLog("启动命令（节选）：java ... " + request.coreJar);

    if (!plan.workingDirectory.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(Utf8Path(plan.workingDirectory), ignored);
    }
    ProcessLaunch launch;
    launch.argv = plan.arguments;
    launch.workingDirectory = plan.workingDirectory;
    launch.priority = PriorityFromSetting(request.processPriority);
    launch.captureOutput = true;

    auto game = std::make_shared<Game>();
    std::lock_guard lock(mutex_);
    // The last moment a stop can prevent the start: the check and the creation share the lock
    // that Stop takes, so a stop either cancels here or finds the process.
    if (attempt->cancelled || shuttingDown_) {
        ConsoleLog("启动已取消，游戏不会启动");
        return false;
    }
    if (!game->child.Start(launch)) {
        const std::string code = std::to_string(game->child.ErrorCode());
        lastError_ = "启动失败，错误码 " + code + "：请确认 Java 路径正确且版本 JSON 完整";
        ConsoleLog("启动游戏失败，错误码: " + code);
        if (log) {
            const std::string line = "[Lumivale] CreateProcess 失败，错误码 " + code + "\r\n";
            log->write(line.data(), static_cast<std::streamsize>(line.size()));
        }
        return false;
    }
    if (const int refused = game->child.PriorityErrorCode(); refused != 0) {
        ConsoleLog("无法把游戏进程优先级设为 " + request.processPriority + "（错误码 " +
                   std::to_string(refused) + "），按普通优先级运行");
    }

    game->attempt = attempt;
    game->launchId = launchId;
    game->processId = game->child.Id();
    game->onEnded = steps.onGameEnded;
    game->explainCrash = steps.explainCrash;
    game->gameDirectory = plan.workingDirectory;
    if (log) {
        game->outputLog = PathUtf8(logPath);
        game->outputStart = header.size();
    }
    game->steadyStart = SteadyClock::now();
    game->startMs = WallClockMs();
    game_ = game;
    games_.push_back(game);
    startMs_ = game->startMs;
    ConsoleLog("启动客户端 launch-id=" + launchId + " PID=" + std::to_string(game->processId));

    // The threads cannot send anything before this lock is released, so "game:started" comes
    // first.
    try {
        if (game->child.CapturesOutput()) {
            game->log = std::move(log);
            game->reader = std::thread([this, game] { ReadOutput(game); });
        } else {
            game->readerDone = true;
        }
        game->tick = std::thread([this, game] { Tick(game); });
        game->watcher = std::thread([this, game] { Watch(game); });
        game->hasWatcher = true;
    } catch (const std::system_error& error) {
        // A game nobody watches would run unseen: stop it and report a failed start.
        ConsoleLog(std::string("无法创建游戏监视线程：") + error.what());
        game->ended = true;
        game->child.Interrupt();
        game->child.Stop();
        game->child.Reap();
        tickWake_.notify_all();
        game_.reset();
        lastError_ = kStartFailedUnknownMessage;
        if (!game->reader.joinable()) game->readerDone = true;
        game->watcherDone = !game->hasWatcher;
        return false;
    }
    log.reset();  // without capture the log holds the header alone

    events_.Post(kGameStartedEvent);
    ConsoleLog("游戏进程已启动");
    return true;
}

void GameProcess::ReadOutput(const std::shared_ptr<Game>& game) {
    char buffer[4096];
    for (;;) {
        const std::size_t count = game->child.ReadOutput(buffer, sizeof buffer);
        if (count == 0) break;
        if (game->log) {
            game->log->seekp(0, std::ios::end);
            game->log->write(buffer, static_cast<std::streamsize>(count));
            game->log->flush();
        }
    }
    game->log.reset();
    game->child.CloseOutput();
    {
        std::lock_guard lock(mutex_);
        game->readerDone = true;
    }
    tickWake_.notify_all();  // the watcher may wait for the output before explaining a crash
}

void GameProcess::Watch(const std::shared_ptr<Game>& game) {
    ChildProcess& child = game->child;
    const auto finish = [&] {
        tickWake_.notify_all();
        if (game->tick.joinable()) game->tick.join();
        game->watcherDone = true;
    };
    if (!child.WaitForEnd()) {  // the launcher closes; the game goes on
        finish();
        return;
    }
    const auto stopWasRequested = [&] {
        std::lock_guard lock(mutex_);
        return game->stopRequested;
    };

    // A started program that is not Java itself (a wrapper script) may leave the game to a Java
    // it started: the game then lasts as long as that Java.
    std::int64_t handedTo = 0;
    if (!stopWasRequested() && Lower(child.ExecutableName()).find("java") == std::string::npos) {
        handedTo = child.HandOver("java");
    }
    const int exitCode = child.Reap();
    bool abnormal = !stopWasRequested() && exitCode != 0;
    if (handedTo != 0) {
        {
            std::lock_guard lock(mutex_);
            game->processId = handedTo;
        }
        ConsoleLog("启动进程已结束（退出码 " + std::to_string(exitCode) +
                   "），游戏由它启动的 Java 进程继续运行 PID=" + std::to_string(handedTo));
        if (!child.WaitForEnd()) {
            finish();
            return;
        }
        // The exit code of a process that is not the launcher's child cannot be read.
        abnormal = false;
    }

    bool announce = false;
    {
        std::lock_guard lock(mutex_);
        game->ended = true;
        if (game_ == game) game_.reset();
        ConsoleLog(std::string("游戏进程已退出（") + (abnormal ? "异常" : "正常") + "）");
        if (!shuttingDown_ && running_ && current_ == game->attempt) {
            announce = true;
            running_ = false;
            current_.reset();
            events_.Post(kGameStoppedEvent);
        }
    }
    tickWake_.notify_all();
    if (game->tick.joinable()) game->tick.join();

    if (announce) {
        GameSession session;
        session.launchId = game->launchId;
        session.processId = game->processId;
        session.startMs = game->startMs;
        session.endMs = WallClockMs();
        session.abnormal = abnormal;
        session.exitCode = exitCode;
        session.gameDirectory = game->gameDirectory;
        session.outputLog = game->outputLog;
        session.outputStart = game->outputStart;
        const auto guarded = [](const char* what, const auto& call) {
            try {
                call();
            } catch (const std::exception& error) {
                ConsoleLog(std::string(what) + error.what());
            } catch (...) {
                ConsoleLog(what);
            }
        };
        if (game->onEnded) guarded("游戏结束处理出错：", [&] { game->onEnded(session); });
        if (abnormal) {
            {
                std::lock_guard lock(mutex_);
                if (!shuttingDown_) events_.Post(GameErrorEvent(kAbnormalExitMessage));
            }
            if (game->explainCrash) guarded("崩溃分析出错：", [&] { ExplainCrash(game, session); });
        }
    }
    game->watcherDone = true;
}

void GameProcess::ExplainCrash(const std::shared_ptr<Game>& game, const GameSession& session) {
    {
        // The last of the output may still be on its way to the log.
        std::unique_lock lock(mutex_);
        tickWake_.wait_for(lock, kOutputDrainWait, [&] { return game->readerDone.load() || shuttingDown_; });
        if (shuttingDown_) return;
    }
    const std::string event = game->explainCrash(session);
    std::lock_guard lock(mutex_);
    if (!event.empty() && !shuttingDown_) events_.Post(event);
}

void GameProcess::Tick(const std::shared_ptr<Game>& game) {
    std::unique_lock lock(mutex_);
    auto next = game->steadyStart + std::chrono::seconds(1);
    for (;;) {
        if (tickWake_.wait_until(lock, next, [&] { return game->ended || shuttingDown_; })) return;
        const auto now = SteadyClock::now();
        events_.Post(GameTickEvent(std::chrono::duration_cast<milliseconds>(now - game->steadyStart).count()));
        while (next <= now) next += std::chrono::seconds(1);
    }
}

void GameProcess::PostForAttempt(const Attempt& attempt, const std::string& json) {
    std::lock_guard lock(mutex_);
    if (!attempt.cancelled && !shuttingDown_) events_.Post(json);
}

void GameProcess::FailAttempt(const std::shared_ptr<Attempt>& attempt, const std::string& reason) {
    std::lock_guard lock(mutex_);
    if (attempt->cancelled || shuttingDown_) return;
    events_.Post(GameErrorEvent(reason));
    if (current_ == attempt) {
        running_ = false;
        current_.reset();
    }
}

void GameProcess::Stop() {
    std::lock_guard lock(mutex_);
    if (shuttingDown_) return;
    if (game_) {
        if (!game_->stopRequested) {
            game_->stopRequested = true;
            ConsoleLog("正在结束游戏进程 PID=" + std::to_string(game_->processId));
            game_->child.Stop();
        }
        return;  // the watcher sends "game:stopped" once the process has ended
    }
    if (running_ && current_) {
        current_->cancelled = true;
        current_.reset();
        running_ = false;
        ConsoleLog("已取消正在准备的启动");
    }
    events_.Post(kGameStoppedEvent);
}

void GameProcess::Shutdown() {
    std::vector<std::shared_ptr<LaunchThread>> launches;
    {
        std::lock_guard lock(mutex_);
        shuttingDown_ = true;
        if (current_) current_->cancelled = true;
        launches.swap(launchThreads_);
    }
    tickWake_.notify_all();
    // A launch thread cannot create a game from now on; let those that are preparing end.
    for (auto& launch : launches) {
        if (launch->thread.joinable()) launch->thread.join();
    }
    std::vector<std::shared_ptr<Game>> games;
    {
        std::lock_guard lock(mutex_);
        games.swap(games_);
        for (auto& game : games) game->child.Interrupt();
        game_.reset();  // a game still running is no longer watched
    }
    tickWake_.notify_all();
    for (auto& game : games) {
        if (game->reader.joinable()) game->reader.join();
        if (game->watcher.joinable()) game->watcher.join();
        if (!game->hasWatcher && game->tick.joinable()) game->tick.join();
    }
}

void GameProcess::JoinFinished() {
    std::vector<std::shared_ptr<LaunchThread>> launches;
    std::vector<std::shared_ptr<Game>> games;
    {
        std::lock_guard lock(mutex_);
        auto launchEnd = std::stable_partition(launchThreads_.begin(), launchThreads_.end(),
                                               [](const auto& launch) { return !launch->done; });
        launches.assign(std::make_move_iterator(launchEnd), std::make_move_iterator(launchThreads_.end()));
        launchThreads_.erase(launchEnd, launchThreads_.end());
        auto gameEnd = std::stable_partition(games_.begin(), games_.end(), [](const auto& game) {
            return !(game->readerDone && game->watcherDone);
        });
        games.assign(std::make_move_iterator(gameEnd), std::make_move_iterator(games_.end()));
        games_.erase(gameEnd, games_.end());
    }
    for (auto& launch : launches) {
        if (launch->thread.joinable()) launch->thread.join();
    }
    for (auto& game : games) {
        if (game->reader.joinable()) game->reader.join();
        if (game->watcher.joinable()) game->watcher.join();
        if (!game->hasWatcher && game->tick.joinable()) game->tick.join();
    }
}

bool GameProcess::Busy() const { return running_; }

bool GameProcess::HasProcess() const {
    std::lock_guard lock(mutex_);
    return game_ != nullptr;
}

std::int64_t GameProcess::StartMs() const { return startMs_; }

std::int64_t GameProcess::ProcessId() const {
    std::lock_guard lock(mutex_);
    return game_ ? game_->processId : 0;
}

std::string GameProcess::LaunchId() const {
    std::lock_guard lock(mutex_);
    return launchId_;
}

std::string GameProcess::LastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
}

}  // namespace lumivale
