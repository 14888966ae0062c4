#pragma once
// A fresh program folder and user data folder for one test, removed afterwards.
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace lumivale::test {

class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::filesystem::path& root() const { return root_; }
    // Program folder: config.ini, log/, the game folder.
    std::filesystem::path program() const { return root_ / "program"; }
    // XDG_DATA_HOME (LOCALAPPDATA on Windows): the credential store lives below it.
    std::filesystem::path data() const { return root_ / "data"; }
    std::filesystem::path store() const { return data() / "LumivaleLauncher" / "orlu.json"; }
    std::filesystem::path config() const { return program() / "config.ini"; }

private:
    std::filesystem::path root_;
    std::string previousXdg_;
    bool hadXdg_ = false;
};

std::string ReadFile(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, const std::string& bytes);

// Polls `ready` every 10 ms; the limit bounds a hang, it measures nothing.
template <typename Ready>
bool Eventually(Ready ready, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    for (auto waited = std::chrono::milliseconds(0); waited < limit; waited += std::chrono::milliseconds(10)) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ready();
}

}  // namespace lumivale::test
