#pragma once
// Child processes and the current process.
#include <chrono>
#include <cstdint>
#include <string>
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

}  // namespace lumivale
