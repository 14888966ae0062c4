#include "Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

extern char** environ;

namespace lumivale {

std::int64_t CurrentProcessId() { return static_cast<std::int64_t>(::getpid()); }

namespace {

using Clock = std::chrono::steady_clock;

// Owns one descriptor; closes it on every path.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Moves a descriptor to 3 or above (keeping close-on-exec), so that the child's dup2 onto
// 0, 1 and 2 never meets the pipe itself, even when the launcher runs with a standard stream
// closed.
bool LiftAboveStandardStreams(Fd& fd) {
    if (fd.get() > 2) return true;
    const int lifted = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 3);
    if (lifted < 0) return false;
    fd.reset(lifted);
    return true;
}

// Has the child ended? Leaves it unreaped, so that its process group id stays reserved and a
// later kill of the group cannot reach an unrelated process.
bool HasEnded(pid_t pid) {
    siginfo_t info{};
    for (;;) {
        const int result = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (result == 0) return info.si_pid == pid;
        if (errno == EINTR) continue;
        return errno == ECHILD;  // reaped by someone else (SIGCHLD ignored): it has ended
    }
}

bool WaitUntilEnded(pid_t pid, Clock::time_point deadline) {
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (HasEnded(pid)) return true;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        if (pause < std::chrono::milliseconds(20)) pause *= 2;
    }
}

// Reaps the child; returns its exit status, or -1 when it did not exit normally.
int Reap(pid_t pid) {
    int status = 0;
    for (;;) {
        const pid_t result = ::waitpid(pid, &status, 0);
        if (result == pid) break;
        if (result < 0 && errno == EINTR) continue;
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SpawnSetup {
public:
    SpawnSetup() {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawnattr_init(&attributes_);
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    bool Prepare(int outputFd) {
        bool ok = ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0 &&
                  ::posix_spawn_file_actions_adddup2(&actions_, outputFd, 1) == 0 &&
                  ::posix_spawn_file_actions_adddup2(&actions_, outputFd, 2) == 0;
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
        // Descriptors that other parts of the launcher opened without close-on-exec stay out
        // of the child too.
        ok = ok && ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
#endif
        // Its own process group, so that a stop reaches what it started; no signal blocked,
        // and the signals the launcher may ignore (SIGPIPE above all) back to their defaults.
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGCHLD, SIGUSR1, SIGUSR2}) {
            sigaddset(&defaults, signal);
        }
        ok = ok && ::posix_spawnattr_setpgroup(&attributes_, 0) == 0 &&
             ::posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
             ::posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0 &&
             ::posix_spawnattr_setflags(&attributes_, static_cast<short>(POSIX_SPAWN_SETPGROUP |
                                                                        POSIX_SPAWN_SETSIGMASK |
                                                                        POSIX_SPAWN_SETSIGDEF)) == 0;
        return ok;
    }

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

}  // namespace

CapturedRun RunCaptured(const std::vector<std::string>& argv, const CaptureLimits& limits) {
    CapturedRun run;
    if (argv.empty() || argv.front().empty()) return run;

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return run;
    Fd readEnd(ends[0]);
    Fd writeEnd(ends[1]);
    if (!LiftAboveStandardStreams(readEnd) || !LiftAboveStandardStreams(writeEnd)) return run;

    SpawnSetup setup;
    if (!setup.Prepare(writeEnd.get())) return run;

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    const auto startedAt = Clock::now();
    pid_t pid = 0;
    if (::posix_spawn(&pid, args[0], setup.actions(), setup.attributes(), args.data(), environ) != 0) {
        return run;
    }
    run.started = true;
    run.processId = static_cast<std::int64_t>(pid);
    writeEnd.reset();  // only the child writes now: the read below ends when it closes its output

    bool outputClosed = false;
    char buffer[4096];
    for (;;) {
        int timeout = -1;
        if (limits.outputLimit.count() > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                startedAt + limits.outputLimit - Clock::now());
            if (left.count() <= 0) break;
            timeout = static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count() + 1, 60'000));
        }
        pollfd watch{readEnd.get(), POLLIN, 0};
        const int ready = ::poll(&watch, 1, timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (ready == 0) continue;  // the limit is checked at the top
        const ssize_t count = ::read(readEnd.get(), buffer, sizeof buffer);
        if (count > 0) {
            run.output.append(buffer, static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        outputClosed = true;  // end of output (or a read error, which ends reading the same way)
        break;
    }
    readEnd.reset();

    run.ended = outputClosed ? WaitUntilEnded(pid, Clock::now() + limits.exitWait) : HasEnded(pid);
    if (!run.ended || !outputClosed) {
        // Stop the whole group: the program itself when it hangs, and whatever it left behind
        // holding the output open.
        ::kill(-pid, SIGKILL);
        if (!run.ended) ::kill(pid, SIGKILL);  // in case it moved itself to another group
    }
    const int exitCode = Reap(pid);
    if (run.ended) run.exitCode = exitCode;
    return run;
}

}  // namespace lumivale
