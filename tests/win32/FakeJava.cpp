// A java.exe stand-in that prints how it was started (command line, arguments as UTF-8 hex, priority, folder), then
// by FAKE_JAVA_MODE: exits with FAKE_JAVA_EXIT (unset), sleeps a minute (sleep), starts a sleeping copy and prints
// "child <pid>" (spawn), or starts ..\handed\java.exe and leaves (handover). "-version" prints a JVM's banner.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Hex.h"
#include "Text.h"

using lumivale::win32::Narrow;

namespace {

DWORD StartSleeping(const std::wstring& exe) {
    SetEnvironmentVariableW(L"FAKE_JAVA_MODE", L"sleep");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring line = L"\"" + exe + L"\"";
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return 0;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return process.dwProcessId;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) == L"-version") {
        std::fputs("openjdk version \"17.0.9\" 2023-10-17\nOpenJDK Runtime Environment\n", stderr);
        return 0;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    std::printf("cmdline %s\n", Narrow(GetCommandLineW()).c_str());
    for (int i = 0; i < argc; ++i) std::printf("arg %s\n", Hex(Narrow(argv[i])).c_str());
    std::printf("priority %lu\n", GetPriorityClass(GetCurrentProcess()));
    wchar_t folder[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, folder);
    std::printf("cwd %s\n", Narrow(folder).c_str());
    std::fflush(stdout);

    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const char* mode = std::getenv("FAKE_JAVA_MODE");
    const std::string how = mode != nullptr ? mode : "";
    if (how == "sleep") {
        Sleep(60000);
    } else if (how == "spawn") {
        std::printf("child %lu\n", StartSleeping(self));
        std::fflush(stdout);
        Sleep(60000);
    } else if (how == "handover") {
        std::wstring handed = self;
        handed = handed.substr(0, handed.find_last_of(L'\\'));
        handed = handed.substr(0, handed.find_last_of(L'\\')) + L"\\handed\\java.exe";
        std::printf("child %lu\n", StartSleeping(handed));
        std::fflush(stdout);
    }
    const char* code = std::getenv("FAKE_JAVA_EXIT");
    return code != nullptr ? std::atoi(code) : 0;
}
