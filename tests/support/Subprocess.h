#pragma once
// Runs the real launcher as a child process and talks to it line by line.
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace lumivale::test {

// The launcher the integration tests start: the one this build made, unless LUMIVALE_TEST_LAUNCHER
// names another (tests/win32/lumivale-wine.sh runs the Windows build under Wine).
inline std::string LauncherPath(const char* built) {
    const char* other = std::getenv("LUMIVALE_TEST_LAUNCHER");
    return other != nullptr && *other != '\0' ? other : built;
}

// Alive: listed in /proc and neither a zombie nor dead.
bool ProcessAlive(long pid);

class Subprocess {
public:
    // `env` entries ("NAME=value") are added to this process's environment for the child.
    Subprocess(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& env = {});
    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    void Send(const std::string& line);
    void CloseInput();
    // The next line of standard output; nothing when the output ends or `limit` passes.
    std::optional<std::string> ReadLine(std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Exit code; -1 when the child does not end within `limit` (it is then killed).
    int Wait(std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Reads standard error while the child runs until `text` has appeared; false when it did
    // not within `limit`.
    bool WaitForStderr(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Everything the child wrote to standard error (read after Wait).
    std::string Stderr();

private:
    // Appends what standard error has within `waitMs`: bytes read, 0 when none came, -1 at its end.
    long ReadStderr(int waitMs);

    int pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string pending_;
    std::string stderr_;
    int exitCode_ = -1;
    bool reaped_ = false;
};

}  // namespace lumivale::test
