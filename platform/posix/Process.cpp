#include "Process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <set>
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
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
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

// ---------------------------------------------------------------------------------------------
// ChildProcess

namespace {

// One process as /proc/<pid>/stat lists it.
struct ProcEntry {
    pid_t pid = 0;
    std::string name;  // the short command name
    char state = '?';
    pid_t ppid = 0;
    pid_t pgrp = 0;
    unsigned long long startTime = 0;  // clock ticks after boot: with the id, names one process
};

bool ReadSmallFile(const std::string& path, std::string& out) {
    Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return false;
    out.clear();
    char buffer[1024];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count > 0) {
            out.append(buffer, static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        return count == 0;
    }
}

std::optional<ProcEntry> ReadProcEntry(pid_t pid) {
    std::string text;
    if (!ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", text)) return std::nullopt;
    // "pid (name) state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime
    // stime cutime cstime priority nice threads itreal starttime ..."; the name may hold
    // anything, so it ends at the last parenthesis.
    const auto open = text.find('(');
    const auto close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return std::nullopt;
    ProcEntry entry;
    entry.pid = pid;
    entry.name = text.substr(open + 1, close - open - 1);
    std::vector<std::string> fields;
    std::size_t at = close + 1;
    while (at < text.size() && fields.size() < 20) {
        while (at < text.size() && text[at] == ' ') ++at;
        const auto end = text.find(' ', at);
        const auto stop = end == std::string::npos ? text.size() : end;
        if (stop > at) fields.push_back(text.substr(at, stop - at));
        at = stop;
    }
    if (fields.size() < 20 || fields[0].empty()) return std::nullopt;
    entry.state = fields[0][0];
    entry.ppid = static_cast<pid_t>(std::strtol(fields[1].c_str(), nullptr, 10));
    entry.pgrp = static_cast<pid_t>(std::strtol(fields[2].c_str(), nullptr, 10));
    entry.startTime = std::strtoull(fields[19].c_str(), nullptr, 10);
    return entry;
}

// Every process /proc lists now, in its order.
std::vector<ProcEntry> ListProcesses() {
    std::vector<ProcEntry> entries;
    DIR* folder = ::opendir("/proc");
    if (folder == nullptr) return entries;
    while (const dirent* item = ::readdir(folder)) {
        const char* name = item->d_name;
        if (*name == '\0' || !std::all_of(name, name + std::strlen(name),
                                          [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const long pid = std::strtol(name, nullptr, 10);
        if (pid <= 0) continue;
        if (auto entry = ReadProcEntry(static_cast<pid_t>(pid))) entries.push_back(std::move(*entry));
    }
    ::closedir(folder);
    return entries;
}

// File name of the executable of `pid`; the short command name when the link cannot be read.
std::string ExecutableNameOf(pid_t pid, const std::string& fallback) {
    char target[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) return fallback;
    std::string path(target, static_cast<std::size_t>(length));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A descriptor that refers to one process for good, whatever happens to its id; -1 with errno
// set when the system offers none (ENOSYS, or a sandbox refusing the call) or the process is
// gone (ESRCH).
int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

bool SignalPidFd(int pidFd, int signal) {
#ifdef SYS_pidfd_send_signal
    return ::syscall(SYS_pidfd_send_signal, pidFd, signal, nullptr, 0) == 0;
#else
    (void)pidFd;
    (void)signal;
    return false;
#endif
}

// A process held for signalling: by a pid descriptor where the system has them, else by its id
// checked against its start time just before the signal.
struct Pinned {
    pid_t pid = 0;
    unsigned long long startTime = 0;
    int pidFd = -1;
};

// Pins the process a listing showed, and checks that what was pinned is that very process (same
// start time) and still alive. Nothing when it has gone meanwhile.
std::optional<Pinned> Pin(const ProcEntry& listed) {
    Pinned pinned{listed.pid, listed.startTime, OpenPidFd(listed.pid)};
    if (pinned.pidFd < 0 && errno == ESRCH) return std::nullopt;
    const auto now = ReadProcEntry(listed.pid);
    if (!now || now->startTime != listed.startTime || now->state == 'Z') {
        if (pinned.pidFd >= 0) ::close(pinned.pidFd);
        return std::nullopt;
    }
    return pinned;
}

bool IsSameLiveProcess(pid_t pid, unsigned long long startTime) {
    const auto now = ReadProcEntry(pid);
    return now && now->startTime == startTime && now->state != 'Z';
}

void KillPinned(const Pinned& pinned) {
    if (pinned.pidFd >= 0) {
        SignalPidFd(pinned.pidFd, SIGKILL);
    } else if (IsSameLiveProcess(pinned.pid, pinned.startTime)) {
        ::kill(pinned.pid, SIGKILL);
    }
}

// What the child reports through the status pipe before exec.
struct ChildReport {
    int kind;   // kReportPriority (the start goes on) or kReportFailed (the child ends)
    int error;  // errno
};
constexpr int kReportPriority = 1;
constexpr int kReportFailed = 2;

void Report(int statusFd, int kind, int error) {
    const ChildReport report{kind, error};
    while (::write(statusFd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

// Everything the child needs, prepared before fork: after it only async-signal-safe calls.
struct ChildSetup {
    char* const* argv = nullptr;
    const char* workingDirectory = nullptr;  // null = stay
    int outputFd = -1;                       // -1 = standard output and error to /dev/null
    int statusFd = -1;
    bool setNice = false;
    int nice = 0;
    long maxFd = 1024;
};

[[noreturn]] void RunChild(const ChildSetup& setup) {
    ::setpgid(0, 0);

    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigemptyset(&defaults.sa_mask);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal != SIGKILL && signal != SIGSTOP) ::sigaction(signal, &defaults, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    // Before exec, so that every thread the program makes inherits it.
    if (setup.setNice && ::setpriority(PRIO_PROCESS, 0, setup.nice) != 0) {
        Report(setup.statusFd, kReportPriority, errno);
    }
    if (setup.workingDirectory != nullptr && ::chdir(setup.workingDirectory) != 0) {
        Report(setup.statusFd, kReportFailed, errno);
        ::_exit(127);
    }

    int nul = ::open("/dev/null", O_RDWR);
    if (nul < 0) {
        Report(setup.statusFd, kReportFailed, errno);
        ::_exit(127);
    }
    if (nul <= 2) {
        const int lifted = ::fcntl(nul, F_DUPFD, 3);
        if (lifted >= 0) nul = lifted;
    }
    const int output = setup.outputFd >= 0 ? setup.outputFd : nul;
    if (::dup2(nul, 0) < 0 || ::dup2(output, 1) < 0 || ::dup2(output, 2) < 0) {
        Report(setup.statusFd, kReportFailed, errno);
        ::_exit(127);
    }

    // Nothing else the launcher has open reaches the program.
#if defined(SYS_close_range) && defined(CLOSE_RANGE_CLOEXEC)
    const bool marked = ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) == 0;
#else
    const bool marked = false;
#endif
    if (!marked) {
        for (long fd = 3; fd < setup.maxFd; ++fd) ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    }

    ::execve(setup.argv[0], setup.argv, environ);
    Report(setup.statusFd, kReportFailed, errno);
    ::_exit(127);
}

int DecodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

struct ChildProcess::State {
    mutable std::mutex mutex;
    bool attempted = false;
    bool started = false;
    pid_t pid = 0;
    int pidFd = -1;  // the started program until it is collected
    int outputFd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    bool reaped = false;
    int exitCode = -1;
    int error = 0;
    int priorityError = 0;
    std::string executableName;
    // The program handed over to, once the started one has ended.
    pid_t handPid = 0;
    unsigned long long handStartTime = 0;
    int handFd = -1;
    bool handEnded = false;

    ~State() {
        CloseFd(pidFd);
        CloseFd(outputFd);
        CloseFd(wakeRead);
        CloseFd(wakeWrite);
        CloseFd(handFd);
    }
};

ChildProcess::ChildProcess() : state_(std::make_unique<State>()) {}
ChildProcess::~ChildProcess() = default;

bool ChildProcess::Start(const ProcessLaunch& launch) {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.attempted) {
        s.error = EALREADY;
        return false;
    }
    s.attempted = true;
    if (launch.argv.empty() || launch.argv.front().empty()) {
        s.error = EINVAL;
        return false;
    }

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        s.error = errno;
        return false;
    }
    s.wakeRead = ends[0];
    s.wakeWrite = ends[1];

    Fd outputRead;
    Fd outputWrite;
    if (launch.captureOutput && ::pipe2(ends, O_CLOEXEC) == 0) {
        outputRead.reset(ends[0]);
        outputWrite.reset(ends[1]);
        if (!LiftAboveStandardStreams(outputRead) || !LiftAboveStandardStreams(outputWrite)) {
            outputRead.reset();
            outputWrite.reset();  // runs without capture
        }
    }
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        s.error = errno;
        return false;
    }
    Fd statusRead(ends[0]);
    Fd statusWrite(ends[1]);
    if (!LiftAboveStandardStreams(statusWrite)) {
        s.error = errno;
        return false;
    }

    std::vector<char*> args;
    args.reserve(launch.argv.size() + 1);
    for (const std::string& arg : launch.argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    ChildSetup setup;
    setup.argv = args.data();
    setup.workingDirectory =
        launch.workingDirectory.empty() ? nullptr : launch.workingDirectory.c_str();
    setup.outputFd = outputWrite.get();
    setup.statusFd = statusWrite.get();
    setup.setNice = launch.priority != ProcessPriority::Normal;
    setup.nice = launch.priority == ProcessPriority::Low ? kLowPriorityNice : kHighPriorityNice;
    const long maxFd = ::sysconf(_SC_OPEN_MAX);
    setup.maxFd = maxFd > 0 ? std::min<long>(maxFd, 1 << 20) : 1024;

    const pid_t pid = ::fork();
    if (pid < 0) {
        s.error = errno;
        return false;
    }
    if (pid == 0) RunChild(setup);

    statusWrite.reset();
    outputWrite.reset();

    // The status pipe closes when exec succeeds (close-on-exec) or the child ends.
    std::string reports;
    char buffer[64];
    for (;;) {
        const ssize_t count = ::read(statusRead.get(), buffer, sizeof buffer);
        if (count > 0) {
            reports.append(buffer, static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        break;
    }
    int failure = 0;
    for (std::size_t at = 0; at + sizeof(ChildReport) <= reports.size(); at += sizeof(ChildReport)) {
        ChildReport report{};
        std::memcpy(&report, reports.data() + at, sizeof report);
        if (report.kind == kReportPriority) s.priorityError = report.error;
        if (report.kind == kReportFailed) failure = report.error != 0 ? report.error : EINVAL;
    }
    if (failure != 0) {
        lumivale::Reap(pid);
        s.error = failure;
        return false;
    }

    s.started = true;
    s.pid = pid;
    s.pidFd = OpenPidFd(pid);  // the child is not collected yet: its id cannot be reused
    s.outputFd = outputRead.release();
    const auto entry = ReadProcEntry(pid);
    s.executableName = ExecutableNameOf(pid, entry ? entry->name : std::string());
    s.error = 0;
    return true;
}

int ChildProcess::ErrorCode() const {
    std::lock_guard lock(state_->mutex);
    return state_->error;
}

int ChildProcess::PriorityErrorCode() const {
    std::lock_guard lock(state_->mutex);
    return state_->priorityError;
}

std::int64_t ChildProcess::Id() const {
    std::lock_guard lock(state_->mutex);
    return static_cast<std::int64_t>(state_->pid);
}

std::string ChildProcess::ExecutableName() const {
    std::lock_guard lock(state_->mutex);
    return state_->executableName;
}

bool ChildProcess::CapturesOutput() const {
    std::lock_guard lock(state_->mutex);
    return state_->outputFd >= 0;
}

std::size_t ChildProcess::ReadOutput(char* buffer, std::size_t size) {
    int output;
    int wake;
    {
        std::lock_guard lock(state_->mutex);
        output = state_->outputFd;
        wake = state_->wakeRead;
    }
    if (output < 0 || size == 0) return 0;
    for (;;) {
        pollfd watch[2] = {{output, POLLIN, 0}, {wake, POLLIN, 0}};
        const int ready = ::poll(watch, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        if (watch[1].revents != 0) return 0;  // interrupted
        if (watch[0].revents == 0) continue;
        const ssize_t count = ::read(output, buffer, size);
        if (count > 0) return static_cast<std::size_t>(count);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return 0;
    }
}

void ChildProcess::CloseOutput() {
    std::lock_guard lock(state_->mutex);
    CloseFd(state_->outputFd);
}

bool ChildProcess::WaitForEnd() {
    State& s = *state_;
    for (;;) {
        int watched;
        int wake;
        bool handed;
        {
            std::lock_guard lock(s.mutex);
            if (!s.started) return true;
            handed = s.handPid != 0;
            if (handed ? s.handEnded : s.reaped) return true;
            watched = handed ? s.handFd : s.pidFd;
            wake = s.wakeRead;
        }
        if (watched >= 0) {
            // A pid descriptor turns readable when its process ends.
            pollfd watch[2] = {{watched, POLLIN, 0}, {wake, POLLIN, 0}};
            const int ready = ::poll(watch, 2, -1);
            if (ready < 0 && errno != EINTR) {
                std::lock_guard lock(s.mutex);
                CloseFd(handed ? s.handFd : s.pidFd);  // watch by looking from now on
                continue;
            }
            if (ready <= 0) continue;
            if (watch[1].revents != 0) return false;
            if (watch[0].revents == 0) continue;
        } else {
            // No pid descriptors on this system: look, then nap on the wake pipe.
            bool ended;
            {
                std::lock_guard lock(s.mutex);
                ended = handed ? !IsSameLiveProcess(s.handPid, s.handStartTime) : HasEnded(s.pid);
            }
            if (!ended) {
                pollfd watch{wake, POLLIN, 0};
                if (::poll(&watch, 1, 100) > 0) return false;
                continue;
            }
        }
        if (handed) {
            std::lock_guard lock(s.mutex);
            s.handEnded = true;
        }
        return true;
    }
}

std::int64_t ChildProcess::HandOver(std::string_view nameFragment) {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (!s.started || s.handPid != 0) return 0;
    const std::string fragment = Lower(std::string(nameFragment));
    for (const ProcEntry& entry : ListProcesses()) {
        if (entry.pid == s.pid || entry.pgrp != s.pid || entry.state == 'Z') continue;
        if (Lower(ExecutableNameOf(entry.pid, entry.name)).find(fragment) == std::string::npos) continue;
        const auto pinned = Pin(entry);
        if (!pinned) continue;
        s.handPid = pinned->pid;
        s.handStartTime = pinned->startTime;
        s.handFd = pinned->pidFd;
        s.handEnded = false;
        return static_cast<std::int64_t>(s.handPid);
    }
    return 0;
}

int ChildProcess::Reap() {
    State& s = *state_;
    pid_t pid;
    {
        std::lock_guard lock(s.mutex);
        if (!s.started) return -1;
        if (s.reaped) return s.exitCode;
        pid = s.pid;
    }
    // Wait without collecting, so that Stop never signals a process id that was given away.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    std::lock_guard lock(s.mutex);
    if (!s.reaped) {
        int status = 0;
        pid_t result;
        do {
            result = ::waitpid(pid, &status, 0);
        } while (result < 0 && errno == EINTR);
        s.exitCode = result == pid ? DecodeStatus(status) : -1;
        s.reaped = true;
        CloseFd(s.pidFd);
    }
    return s.exitCode;
}

void ChildProcess::Stop() {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (!s.started) return;

    const bool leaderHeld = !s.reaped;  // collected or not, an uncollected id stays ours
    const bool handAlive =
        s.handPid != 0 && !s.handEnded && IsSameLiveProcess(s.handPid, s.handStartTime);
    // The group's id cannot be given to another group while a member lives.
    const bool groupHeld = leaderHeld || handAlive;

    const std::vector<ProcEntry> listing = ListProcesses();
    std::set<pid_t> tree;
    if (leaderHeld) tree.insert(s.pid);
    if (handAlive) tree.insert(s.handPid);
    if (groupHeld) {
        for (const ProcEntry& entry : listing) {
            if (entry.pgrp == s.pid) tree.insert(entry.pid);
        }
    }
    for (bool grew = !tree.empty(); grew;) {
        grew = false;
        for (const ProcEntry& entry : listing) {
            if (tree.count(entry.ppid) != 0 && tree.insert(entry.pid).second) grew = true;
        }
    }

    // Pin everything first: once a parent dies its children move away from it.
    std::vector<Pinned> targets;
    for (const ProcEntry& entry : listing) {
        if (tree.count(entry.pid) == 0 || entry.pid == s.pid || entry.pid == s.handPid) continue;
        if (auto pinned = Pin(entry)) targets.push_back(*pinned);
    }

    if (leaderHeld) ::kill(-s.pid, SIGKILL);
    for (const Pinned& target : targets) {
        KillPinned(target);
        if (target.pidFd >= 0) ::close(target.pidFd);
    }
    if (handAlive) KillPinned(Pinned{s.handPid, s.handStartTime, s.handFd});
    if (leaderHeld) ::kill(s.pid, SIGKILL);
}

void ChildProcess::Interrupt() {
    std::lock_guard lock(state_->mutex);
    if (state_->wakeWrite >= 0) {
        const char wake = 1;
        while (::write(state_->wakeWrite, &wake, 1) < 0 && errno == EINTR) {
        }
    }
}

}  // namespace lumivale
