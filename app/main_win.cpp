// The Windows entry: the command line arrives in UTF-16 (wmain), the launcher takes UTF-8.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Entry.h"
#include "Paths.h"
#include "Win32Host.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        try {
            arguments.push_back(lumivale::PathUtf8(std::filesystem::path(argv[i])));
        } catch (const std::exception&) {
            arguments.emplace_back();  // not valid UTF-16: an empty argument rather than a wrong one
        }
    }
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    const int code = lumivale::RunLauncher(argc, pointers.data(), lumivale::OpenWin32Host);
    // As on Linux: detached workers may still be inside WinHTTP; the process ends here.
    std::fflush(nullptr);
    std::_Exit(code);
}
