// with-env.exe NAME=VALUE... -- PROGRAM [ARGS...]: Wine sets LOCALAPPDATA and the like from its prefix, so they are
// set here; PROGRAM shares the standard streams, gives its exit code and ends with this one (a kill-on-close job).
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "Text.h"
#include "WindowsCommandLine.h"

using lumivale::win32::Narrow;
using lumivale::win32::Wide;

namespace {

HANDLE Inheritable(DWORD which) {
    HANDLE copy = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetStdHandle(which), GetCurrentProcess(), &copy, 0, TRUE,
                    DUPLICATE_SAME_ACCESS);
    return copy;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int at = 1;
    for (; at < argc && std::wcscmp(argv[at], L"--") != 0; ++at) {
        std::wstring setting = argv[at];
        const auto equals = setting.find(L'=');
        if (equals == std::wstring::npos) return 125;
        SetEnvironmentVariableW(setting.substr(0, equals).c_str(), setting.substr(equals + 1).c_str());
    }
    if (++at >= argc) return 125;
    std::vector<std::string> program;
    for (int i = at; i < argc; ++i) program.push_back(Narrow(argv[i]));
    std::wstring line = Wide(lumivale::WindowsCommandLine(program));

    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = Inheritable(STD_INPUT_HANDLE);
    startup.hStdOutput = Inheritable(STD_OUTPUT_HANDLE);
    startup.hStdError = Inheritable(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(argv[at], line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &process)) {
        return 127;
    }
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(startup.hStdInput);
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}
