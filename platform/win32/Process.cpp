// Windows processes: CreateProcessW with the command line of WindowsCommandLine, standard input
// from NUL, standard output and error into one pipe whose launcher end is overlapped (so that a
// read can wait for an interruption too), and a job object standing in for the process group:
// everything the program starts stays in its job, and a stop ends the job.
#include "Process.h"

#include "Text.h"  // windows.h first

#include <tlhelp32.h>

#include <atomic>
#include <mutex>
#include <set>
#include <vector>

#include "WindowsCommandLine.h"

namespace lumivale {

std::int64_t CurrentProcessId() { return static_cast<std::int64_t>(GetCurrentProcessId()); }

namespace {

using win32::Handle;
using Clock = std::chrono::steady_clock;

// Exit code given to what a stop ends: 128 + 9, as a SIGKILL reads on Linux.
constexpr UINT kStoppedExitCode = 137;

std::atomic<unsigned> pipeSerial{0};

// A pipe: the launcher's end overlapped and not inherited, the program's end inheritable.
bool MakeOutputPipe(Handle& launcherEnd, Handle& programEnd) {
    const std::wstring name = L"\\\\.\\pipe\\lumivale-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(pipeSerial.fetch_add(1));
    launcherEnd.Reset(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                       PIPE_TYPE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr));
    if (!launcherEnd.Valid()) return false;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    programEnd.Reset(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return programEnd.Valid();
}

Handle OpenNul() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return Handle(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Reads what is there, waiting at most `wait` and for `wake` (may be null). Returns the bytes
// read; 0 with `ended` set when the pipe closed or failed; 0 without it on time-out or wake.
std::size_t ReadPipe(HANDLE pipe, char* buffer, std::size_t size, DWORD wait, HANDLE wake, bool& ended) {
    OVERLAPPED overlapped{};
    Handle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    overlapped.hEvent = done.Get();
    DWORD got = 0;
    if (ReadFile(pipe, buffer, static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20)), &got, &overlapped)) {
        ended = got == 0;
        return got;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        ended = true;
        return 0;
    }
    const HANDLE events[2] = {done.Get(), wake};
    const DWORD which = WaitForMultipleObjects(wake != nullptr ? 2 : 1, events, FALSE, wait);
    if (which != WAIT_OBJECT_0) CancelIoEx(pipe, &overlapped);
    // After a cancel the result still has to be collected before the buffer may go.
    if (!GetOverlappedResult(pipe, &overlapped, &got, TRUE)) {
        ended = GetLastError() != ERROR_OPERATION_ABORTED;
        return 0;
    }
    ended = got == 0 && which == WAIT_OBJECT_0;
    return got;
}

struct Started {
    Handle process;
    Handle job;
    DWORD id = 0;
    DWORD error = 0;
    DWORD priorityError = 0;
};

// Starts argv suspended, puts it into a fresh job and lets it run. `output` null: NUL.
Started StartInJob(const ProcessLaunch& launch, HANDLE output, bool killOnClose) {
    Started started;
    Handle nul = OpenNul();
    started.job.Reset(CreateJobObjectW(nullptr, nullptr));
    if (!nul.Valid() || !started.job.Valid()) {
        started.error = GetLastError();
        return started;
    }
    if (killOnClose) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(started.job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    HANDLE out = output != nullptr ? output : nul.Get();
    // Only these handles reach the program, whatever else the launcher holds inheritable.
    HANDLE inherited[2] = {nul.Get(), out};
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<unsigned char> list(listSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &listSize)) {
        started.error = GetLastError();
        return started;
    }
    UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                              (out == nul.Get() ? 1 : 2) * sizeof(HANDLE), nullptr, nullptr);
    STARTUPINFOEXW info{};
    info.StartupInfo.cb = sizeof info;
    info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    info.StartupInfo.hStdInput = nul.Get();
    info.StartupInfo.hStdOutput = out;
    info.StartupInfo.hStdError = out;
    info.lpAttributeList = attributes;

    const DWORD priority = launch.priority == ProcessPriority::Low    ? BELOW_NORMAL_PRIORITY_CLASS
                           : launch.priority == ProcessPriority::High ? ABOVE_NORMAL_PRIORITY_CLASS
                                                                      : 0;
    const DWORD flags =
        CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW | priority;
    const std::wstring application = win32::Wide(launch.argv.front());
    std::wstring commandLine = win32::Wide(WindowsCommandLine(launch.argv));
    const std::wstring folder = win32::Wide(launch.workingDirectory);
    PROCESS_INFORMATION process{};
    const BOOL created = CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                        folder.empty() ? nullptr : folder.c_str(), &info.StartupInfo, &process);
    started.error = created ? 0 : GetLastError();
    DeleteProcThreadAttributeList(attributes);
    if (!created) return started;
    started.process.Reset(process.hProcess);
    started.id = process.dwProcessId;
    // Set once more while it is suspended: a system that ignored the creation flag says so here.
    if (priority != 0 && (!SetPriorityClass(process.hProcess, priority) || GetPriorityClass(process.hProcess) != priority)) {
        started.priorityError = GetLastError() != 0 ? GetLastError() : ERROR_ACCESS_DENIED;
    }
    AssignProcessToJobObject(started.job.Get(), process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    return started;
}

std::string ImageName(HANDLE process) {
    wchar_t path[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    if (!QueryFullProcessImageNameW(process, 0, path, &size)) return {};
    const std::wstring full(path, size);
    const auto slash = full.find_last_of(L"\\/");
    return win32::Narrow(slash == std::wstring::npos ? full : full.substr(slash + 1));
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

}  // namespace

CapturedRun RunCaptured(const std::vector<std::string>& argv, const CaptureLimits& limits) {
    CapturedRun run;
    if (argv.empty() || argv.front().empty()) return run;
    Handle readEnd;
    Handle writeEnd;
    if (!MakeOutputPipe(readEnd, writeEnd)) return run;
    ProcessLaunch launch;
    launch.argv = argv;
    const auto startedAt = Clock::now();
    Started started = StartInJob(launch, writeEnd.Get(), true);
    writeEnd.Reset();  // only the program writes now: the read ends when it closes its output
    if (!started.process.Valid()) return run;
    run.started = true;
    run.processId = started.id;

    bool outputClosed = false;
    char buffer[4096];
    for (;;) {
        DWORD wait = INFINITE;
        if (limits.outputLimit.count() > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(startedAt + limits.outputLimit - Clock::now());
            if (left.count() <= 0) break;
            wait = static_cast<DWORD>(std::min<std::chrono::milliseconds::rep>(left.count() + 1, 60'000));
        }
        bool ended = false;
        const std::size_t got = ReadPipe(readEnd.Get(), buffer, sizeof buffer, wait, nullptr, ended);
        run.output.append(buffer, got);
        if (ended) {
            outputClosed = true;
            break;
        }
    }
    readEnd.Reset();
    const DWORD exitWait = outputClosed ? static_cast<DWORD>(limits.exitWait.count()) : 0;
    run.ended = WaitForSingleObject(started.process.Get(), exitWait) == WAIT_OBJECT_0;
    // The program when it hangs, and whatever it left behind holding the output open.
    if (!run.ended || !outputClosed) TerminateJobObject(started.job.Get(), kStoppedExitCode);
    WaitForSingleObject(started.process.Get(), INFINITE);
    DWORD code = 0;
    if (run.ended && GetExitCodeProcess(started.process.Get(), &code)) run.exitCode = static_cast<int>(code);
    return run;
}

// ---------------------------------------------------------------------------------------------
// ChildProcess

struct ChildProcess::State {
    mutable std::mutex mutex;
    bool attempted = false;
    bool started = false;
    DWORD id = 0;
    Handle process;
    Handle job;
    Handle output;
    Handle wake;  // manual-reset: set for good by Interrupt
    bool reaped = false;
    int exitCode = -1;
    int error = 0;
    int priorityError = 0;
    std::string executableName;
    Handle handed;  // the program handed over to
    DWORD handedId = 0;
};

ChildProcess::ChildProcess() : state_(std::make_unique<State>()) {
    state_->wake.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}
ChildProcess::~ChildProcess() = default;

bool ChildProcess::Start(const ProcessLaunch& launch) {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.attempted) {
        s.error = ERROR_ALREADY_INITIALIZED;
        return false;
    }
    s.attempted = true;
    if (launch.argv.empty() || launch.argv.front().empty()) {
        s.error = ERROR_INVALID_PARAMETER;
        return false;
    }
    Handle writeEnd;
    if (launch.captureOutput && !MakeOutputPipe(s.output, writeEnd)) {
        s.output.Reset();  // runs without capture
        writeEnd.Reset();
    }
    // No kill on close: a game outlives the launcher that started it.
    Started started = StartInJob(launch, writeEnd.Valid() ? writeEnd.Get() : nullptr, false);
    writeEnd.Reset();
    if (!started.process.Valid()) {
        s.output.Reset();
        s.error = static_cast<int>(started.error);
        return false;
    }
    s.started = true;
    s.id = started.id;
    s.process = std::move(started.process);
    s.job = std::move(started.job);
    s.priorityError = static_cast<int>(started.priorityError);
    s.executableName = ImageName(s.process.Get());
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
    return state_->id;
}

std::string ChildProcess::ExecutableName() const {
    std::lock_guard lock(state_->mutex);
    return state_->executableName;
}

bool ChildProcess::CapturesOutput() const {
    std::lock_guard lock(state_->mutex);
    return state_->output.Valid();
}

std::size_t ChildProcess::ReadOutput(char* buffer, std::size_t size) {
    HANDLE output;
    HANDLE wake;
    {
        std::lock_guard lock(state_->mutex);
        output = state_->output.Get();
        wake = state_->wake.Get();
    }
    if (output == nullptr || size == 0) return 0;
    for (;;) {
        if (WaitForSingleObject(wake, 0) == WAIT_OBJECT_0) return 0;
        bool ended = false;
        const std::size_t got = ReadPipe(output, buffer, size, INFINITE, wake, ended);
        if (got > 0 || ended) return got;
    }
}

void ChildProcess::CloseOutput() {
    std::lock_guard lock(state_->mutex);
    state_->output.Reset();
}

bool ChildProcess::WaitForEnd() {
    State& s = *state_;
    HANDLE watched;
    HANDLE wake;
    {
        std::lock_guard lock(s.mutex);
        if (!s.started) return true;
        watched = s.handed.Valid() ? s.handed.Get() : s.process.Get();
        wake = s.wake.Get();
    }
    const HANDLE events[2] = {wake, watched};
    return WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
}

std::int64_t ChildProcess::HandOver(std::string_view nameFragment) {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (!s.started || s.handed.Valid()) return 0;
    const std::string fragment = Lower(std::string(nameFragment));
    // What the program started, and what those started: its id stays reserved while the
    // launcher holds its handle, so parent ids that point at it are its own children.
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) return 0;
    std::vector<PROCESSENTRY32W> listing;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
        listing.push_back(entry);
    }
    std::set<DWORD> tree = {s.id};
    for (bool grew = true; grew;) {
        grew = false;
        for (const PROCESSENTRY32W& process : listing) {
            if (tree.count(process.th32ParentProcessID) != 0 && tree.insert(process.th32ProcessID).second) grew = true;
        }
    }
    for (const PROCESSENTRY32W& process : listing) {
        const DWORD id = process.th32ProcessID;
        if (id == s.id || tree.count(id) == 0) continue;
        if (Lower(win32::Narrow(process.szExeFile)).find(fragment) == std::string::npos) continue;
        // The handle pins the process for good; it must still be one of the job's.
        Handle candidate(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, id));
        BOOL inJob = FALSE;
        if (!candidate.Valid() || WaitForSingleObject(candidate.Get(), 0) == WAIT_OBJECT_0 ||
            !IsProcessInJob(candidate.Get(), s.job.Get(), &inJob) || !inJob) {
            continue;
        }
        s.handed = std::move(candidate);
        s.handedId = id;
        return id;
    }
    return 0;
}

int ChildProcess::Reap() {
    State& s = *state_;
    HANDLE process;
    {
        std::lock_guard lock(s.mutex);
        if (!s.started) return -1;
        if (s.reaped) return s.exitCode;
        process = s.process.Get();
    }
    WaitForSingleObject(process, INFINITE);
    std::lock_guard lock(s.mutex);
    DWORD code = 0;
    s.exitCode = GetExitCodeProcess(process, &code) ? static_cast<int>(code) : -1;
    s.reaped = true;
    return s.exitCode;
}

void ChildProcess::Stop() {
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (!s.started) return;
    // Handles pin the processes: no reused id is ever hit.
    TerminateJobObject(s.job.Get(), kStoppedExitCode);
    if (s.handed.Valid()) TerminateProcess(s.handed.Get(), kStoppedExitCode);  // in case it left the job
    TerminateProcess(s.process.Get(), kStoppedExitCode);
}

void ChildProcess::Interrupt() {
    std::lock_guard lock(state_->mutex);
    if (state_->wake.Valid()) SetEvent(state_->wake.Get());
}

}  // namespace lumivale
