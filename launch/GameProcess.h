#pragma once
// Runs one game start from beginning to end and watches the game: the launch thread completes
// the game files, builds the command line, writes the per-launch log and starts Java with its
// output captured into that log; a tick thread reports the play time every second; a watcher
// waits for the game's end and reports it. One GameProcess lives in the App for the whole run.
//
// Events (UI events, texts escaped with EscapeJsonText):
//   {"type":"launch:step","text":"正在校验游戏文件…"}, {"type":"install:start"},
//   {"type":"install:progress","pct":N,"msg":"…"}, {"type":"launch:step","text":"正在启动 Minecraft 客户端…"},
//   {"type":"game:started"}, {"type":"game:tick","ms":N}, {"type":"game:stopped"},
//   {"type":"game:error","reason":"…"}, then the explanation of an abnormal end ("game:crash").
// A launch that fails before the game exists sends one "game:error" and no "game:stopped"; a game
// that ends sends "game:stopped", then "game:error" when it ended abnormally (not stopped, exit
// code not 0), then what LaunchSteps::explainCrash made of it.
//
// Threads: one launch thread per launch, and per game an output reader, a watcher and a tick
// thread. Every one of them is joined by this object (at the latest by Shutdown), so none of them
// outlives the callbacks it was given.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "LaunchCommand.h"
#include "Process.h"
#include "UiEvents.h"

namespace lumivale {

inline constexpr const char* kGameLogFileName = "MC启动诊断.log";

inline constexpr const char* kCheckingFilesStep = "正在校验游戏文件…";
inline constexpr const char* kStartingClientStep = "正在启动 Minecraft 客户端…";
inline constexpr const char* kFilesIncompleteMessage = "游戏文件缺失且无法自动补齐";
inline constexpr const char* kStartFailedUnknownMessage = "启动失败，原因未知";
inline constexpr const char* kAbnormalExitMessage =
    "游戏进程异常退出（可能是 Java 版本不符或游戏文件缺失）";

// (percentage 0..100, text) of the file completion, sent on as "install:progress".
using LaunchProgress = std::function<void(int percent, const std::string& text)>;
// True once the launch was stopped: the step should give up soon.
using LaunchCancelled = std::function<bool()>;

// One started game, as the end-of-game callback sees it.
struct GameSession {
    std::string launchId;
    std::int64_t processId = 0;
    std::int64_t startMs = 0;  // wall clock, milliseconds since 1970, when the process started
    std::int64_t endMs = 0;    // the same clock when its end was seen
    bool abnormal = false;     // not stopped by the launcher, and the exit code was not 0
    int exitCode = 0;
    std::string gameDirectory;      // where the game ran: its logs and crash reports are there
    std::string outputLog;          // the per-launch log holding the captured output; empty: none
    std::uint64_t outputStart = 0;  // bytes of the launcher's own header at its start
};

// How long an ended game's output may take to reach the log before the crash is explained.
inline constexpr std::chrono::seconds kOutputDrainWait{5};

// What a launch needs from outside this runner. Every callback runs on the launch thread, except
// onGameEnded (watcher thread). None of them may wait for the UI thread.
struct LaunchSteps {
    // Completes the core's files. False with `error` set (empty: a default text is used) when
    // they cannot be made complete. Empty: nothing to complete.
    std::function<bool(const LaunchRequest& request, const LaunchProgress& progress,
                       std::string& error, const LaunchCancelled& cancelled)>
        completeFiles;
    // Builds the command from the request (its launchId filled in). Empty: buildLaunchCommand.
    std::function<LaunchPlan(const LaunchRequest& request)> buildCommand;
    // Called once the game has ended, after "game:stopped" and before the abnormal-end
    // "game:error": the place for the play-time upload. Not called when the launcher shuts down
    // while the game still runs.
    std::function<void(const GameSession& session)> onGameEnded;
    // Called after the abnormal-end "game:error" (watcher thread), once the game's output is in
    // the log: returns the event that explains the end, sent unless the launcher is closing.
    std::function<std::string(const GameSession& session)> explainCrash;
};

// Texts of the events above, exactly as sent.
std::string LaunchStepEvent(std::string_view text);
std::string InstallProgressEvent(int percent, std::string_view text);
std::string GameTickEvent(std::int64_t ms);
std::string GameErrorEvent(std::string_view reason);

// "low" and "high" (exactly); anything else, "medium" included, is normal.
ProcessPriority PriorityFromSetting(std::string_view processPriority);

class GameProcess {
public:
    explicit GameProcess(UiEvents events);
    // Shutdown().
    ~GameProcess();
    GameProcess(const GameProcess&) = delete;
    GameProcess& operator=(const GameProcess&) = delete;

    // Marks the game running and starts the launch thread with this request; returns at once.
    // False, with nothing started and nothing sent, when a launch or a game is already under way
    // (Busy) or after Shutdown.
    bool Launch(LaunchRequest request, LaunchSteps steps);

    // The stop operation ("game:stop", or "game:launch" while Busy):
    // - a game process exists: it is killed with everything it started; its watcher then sends
    //   "game:stopped" (never "game:error");
    // - a launch is still preparing: it is cancelled (its completion is told so, and the game
    //   process is never created afterwards), the running flag clears and "game:stopped" is sent;
    // - nothing under way: "game:stopped" is sent.
    void Stop();

    // The launcher closes: a preparing launch is cancelled and its thread joined; a running game
    // is left running, its threads stop watching and are joined. No event and no callback
    // follows. Launch refuses and Stop does nothing from now on.
    void Shutdown();

    // The running flag: set from Launch until the game has ended or the launch failed or was
    // cancelled.
    bool Busy() const;
    // A game process exists (started and its end not yet seen).
    bool HasProcess() const;
    // Wall clock start of the current or last game, milliseconds since 1970; 0 before any.
    std::int64_t StartMs() const;
    // Process id of the current game (after a hand-over: of the Java it handed over to); 0 when
    // none.
    std::int64_t ProcessId() const;
    // Launch id of the current or last start attempt.
    std::string LaunchId() const;
    // Why the last start failed.
    std::string LastError() const;

private:
    struct Attempt;
    struct Game;
    struct LaunchThread;

    void RunLaunch(const std::shared_ptr<Attempt>& attempt, LaunchRequest request,
                   const LaunchSteps& steps);
    bool StartGame(const std::shared_ptr<Attempt>& attempt, LaunchRequest request,
                   const LaunchSteps& steps);
    void ReadOutput(const std::shared_ptr<Game>& game);
    void Watch(const std::shared_ptr<Game>& game);
    void Tick(const std::shared_ptr<Game>& game);
    // Waits (bounded) for the game's output, then sends what explainCrash makes of the end.
    void ExplainCrash(const std::shared_ptr<Game>& game, const GameSession& session);
    // Sends an event of a launch attempt unless it was cancelled meanwhile. Takes the lock.
    void PostForAttempt(const Attempt& attempt, const std::string& json);
    // A launch ended before its game existed: "game:error" and the running flag cleared.
    void FailAttempt(const std::shared_ptr<Attempt>& attempt, const std::string& reason);
    // Joins the threads of launches and games that have finished.
    void JoinFinished();

    UiEvents events_;

    mutable std::mutex mutex_;
    std::condition_variable tickWake_;
    std::atomic<bool> running_{false};
    std::atomic<std::int64_t> startMs_{0};
    bool shuttingDown_ = false;
    std::shared_ptr<Attempt> current_;  // the launch that owns the running flag
    std::shared_ptr<Game> game_;        // the game whose end has not been seen yet
    std::string launchId_;
    std::string lastError_;
    std::vector<std::shared_ptr<LaunchThread>> launchThreads_;
    std::vector<std::shared_ptr<Game>> games_;  // games whose threads are not joined yet
};

}  // namespace lumivale
