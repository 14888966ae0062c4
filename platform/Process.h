#pragma once
// Child processes and the current process.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumivale {

std::int64_t CurrentProcessId();

// How long RunCaptured waits for a program.
struct CaptureLimits {
    // How long the program may keep its output open, counted from its start; zero waits for as
    // long as it takes. When the time is up the program is stopped with what it wrote so far.
    std::chrono::milliseconds outputLimit{0};
    // How long to wait for the program to end once its output has closed.
    std::chrono::milliseconds exitWait{5000};
};

struct CapturedRun {
    bool started = false;       // the program could be started
    bool ended = false;         // it ended by itself; false when it had to be stopped
    int exitCode = -1;          // its exit status; -1 when it did not exit normally
    std::int64_t processId = 0; // its process id (already reaped when RunCaptured returns)
    std::string output;         // standard output and standard error, in the order written
};

// Runs argv[0] (a path; no search of PATH, no shell) with the arguments argv[1..], standard
// input empty, standard output and standard error merged into one captured text. Reads until
// the output closes (or limits.outputLimit passes), then waits at most limits.exitWait for the
// program to end; a program that does not end is killed together with everything it started
// (its own process group). The child is always reaped before this returns.
CapturedRun RunCaptured(const std::vector<std::string>& argv, const CaptureLimits& limits);

// How much of the processor a started program gets next to others. On Linux the program starts
// with the nice value below (all its threads inherit it); raising the priority may be refused to
// an unprivileged user, and the program then runs at the launcher's own priority.
enum class ProcessPriority { Normal, Low, High };
inline constexpr int kLowPriorityNice = 5;
inline constexpr int kHighPriorityNice = -5;

struct ProcessLaunch {
    std::vector<std::string> argv;  // argv[0] is a path: no search of PATH, no shell
    std::string workingDirectory;   // empty = the launcher's own; a missing folder fails the start
    ProcessPriority priority = ProcessPriority::Normal;
    // Standard output and standard error through one pipe, in the order written. Without it (or
    // when no pipe can be made) both go nowhere. Standard input is always empty.
    bool captureOutput = true;
};

// A long-running program started by the launcher (the game): in a process group of its own,
// with the launcher's environment. Safe to use from several threads at once: one reads the
// output, one waits for the end, others may stop it or interrupt the waits.
//
// Destroying the object closes what the launcher holds and nothing else: the program is neither
// stopped nor waited for, so a game outlives the launcher that started it.
class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the program; once per object. False when it could not be started (the program file
    // missing or not executable, the working folder missing, ...): ErrorCode() says why.
    bool Start(const ProcessLaunch& launch);
    // The system's error number of a failed start; 0 after a successful one.
    int ErrorCode() const;
    // The system's error number when the requested priority could not be applied (the program
    // then runs at the launcher's priority); 0 when applied or not asked for.
    int PriorityErrorCode() const;

    std::int64_t Id() const;
    // File name of the started program's executable as the system sees it once it runs
    // ("java"; the shell for a script); empty when it cannot be read.
    std::string ExecutableName() const;
    bool CapturesOutput() const;

    // Blocks until output arrives and returns how many bytes were stored (at most `size`).
    // 0 = the output has ended (every writer closed it), a read failed, or Interrupt was called.
    // One reading thread at a time.
    std::size_t ReadOutput(char* buffer, std::size_t size);
    // Closes the launcher's end of the output pipe (called by the reading thread when it is
    // done); a later write by the program fails.
    void CloseOutput();

    // Blocks until the program being watched has ended: the started one, or after HandOver the
    // one it handed over to. True when it ended, false when Interrupt was called first.
    bool WaitForEnd();

    // After the started program ended and before Reap: another program of its process group
    // whose executable name, lower-cased, contains `nameFragment` (the first one the system
    // lists) is taken over. WaitForEnd then waits for that one and Stop reaches it and what it
    // started. Its exit code cannot be read: it is not the launcher's child. Returns its process
    // id; 0 when there is none.
    std::int64_t HandOver(std::string_view nameFragment);

    // Collects the started program once it has ended: its exit status, or 128 + the signal
    // number when a signal ended it. Blocks until it ends. The same value on later calls.
    int Reap();

    // Stops the program and everything it started with SIGKILL: the whole process group while
    // the started program has not been collected, plus every descendant found in /proc (also
    // those that left the group), plus the handed-over program and its descendants. A process
    // is only signalled after it has been pinned and checked to be the one listed, so a reused
    // process id is never hit. Safe to call at any time, also after the end.
    void Stop();

    // Wakes ReadOutput and WaitForEnd for good (they return 0 / false from now on); the program
    // keeps running. Used when the launcher closes while a game runs.
    void Interrupt();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace lumivale
