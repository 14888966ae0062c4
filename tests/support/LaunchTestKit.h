#pragma once
// Shared set-up of the launch tests: a game folder with the real version JSON fixtures, and the
// headless launcher read event by event.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Paths.h"
#include "Platform.h"
#include "TempHome.h"
#include "ZipWriter.h"
#ifdef LUMIVALE_EXE
#include "JsonFields.h"
#include "Subprocess.h"
#endif

namespace lumivale::test {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// Expectations written once for every system: a path written with "/" as this system writes it,
// rule and library texts written for Linux ("linux", "natives-linux") for the system the tests run
// on, and the class path separator.
inline std::string Native(std::string path) {
    for (char& c : path) {
        if (c == '/') c = platform_constants::kDirectorySeparator;
    }
    return path;
}
inline std::string ForThisSystem(std::string text) {
    for (auto at = text.find("linux"); at != std::string::npos; at = text.find("linux", at + 1)) {
        text.replace(at, 5, platform_constants::kOsName);
    }
    return text;
}
inline const std::string kClassPathSeparator(1, platform_constants::kClassPathSeparator);

inline nlohmann::json Fixture(const std::string& id) {
    return nlohmann::json::parse(ReadFile(fs::path(LUMIVALE_TEST_DATA) / "versions" / (id + ".json")));
}

// A game folder (<program>/.minecraft) with versions/ and libraries/ filled on demand.
class GameFolder : public ::testing::Test {
protected:
    fs::path root() const { return home_.program() / ".minecraft"; }
    std::string rootText() const { return PathUtf8(root()); }
    std::string lib(const std::string& relative) const { return PathUtf8(root() / "libraries" / relative); }
    std::string folderOf(const std::string& id) const { return PathUtf8(root() / "versions" / id); }

    void installVersion(const std::string& id, const nlohmann::json& document, bool withJar = true) const {
        WriteFile(root() / "versions" / id / (id + ".json"), document.dump());
        if (withJar) WriteFile(root() / "versions" / id / (id + ".jar"), "jar");
    }
    void installFixture(const std::string& id) const { installVersion(id, Fixture(id)); }
    void touchLibrary(const std::string& relative) const { WriteFile(lib(relative), "jar"); }
    void zipLibrary(const std::string& relative, const std::vector<std::pair<std::string, std::string>>& entries) const {
        fs::create_directories(fs::path(lib(relative)).parent_path());
        WriteZip(lib(relative), entries);
    }

    TempHome home_;
};

#ifdef LUMIVALE_EXE
// The launcher in headless mode on `home`, with `env` added.
inline std::unique_ptr<Subprocess> StartHeadless(const TempHome& home, Strings env = {}) {
    env.push_back("XDG_DATA_HOME=" + home.data().string());
    return std::make_unique<Subprocess>(LUMIVALE_EXE, Strings{"--headless", "--home", home.program().string()}, env);
}

// Reads up to and including the next event of `type` (empty when none comes); the events read
// on the way are appended to `seen`.
inline std::string NextOfType(Subprocess& launcher, const std::string& type, Strings* seen = nullptr) {
    while (auto line = launcher.ReadLine(std::chrono::seconds(60))) {
        if (ReadTextField(*line, "type") == type) return *line;
        if (seen) seen->push_back(*line);
    }
    return {};
}

// Launches the core in `folder` through the headless launcher and returns the game's output lines
// of the per-launch log (after the Java header); the console stays readable in `launcher`.
inline std::string LaunchAndReadGameOutput(Subprocess& launcher, const TempHome& home, const fs::path& folder) {
    launcher.Send(R"({"type":"config:set","key":"selected_core","value":")" + folder.string() + R"("})");
    launcher.Send(R"({"type":"game:launch"})");
    Strings events;
    NextOfType(launcher, "game:stopped", &events);
    const std::string log = ReadFile(home.program() / "log" / "MC启动诊断.log"), header = "[Lumivale] Java 输出：\r\n";
    const auto output = log.find(header);
    return output == std::string::npos ? "no game: " + (events.empty() ? "" : events.back()) : log.substr(output + header.size());
}
#endif

}  // namespace lumivale::test
