#include "TempHome.h"

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "Paths.h"
#include "Portable.h"

namespace lumivale::test {

TempHome::TempHome() {
    std::random_device seed;
    root_ = std::filesystem::temp_directory_path() /
            ("lumivale-test-" + std::to_string(seed()) + std::to_string(seed()));
    std::filesystem::create_directories(program());
    std::filesystem::create_directories(data());
    if (auto previous = EnvironmentValue(DataHomeVariable())) {
        hadXdg_ = true;
        previousXdg_ = *previous;
    }
    SetEnv(DataHomeVariable(), PathUtf8(data()));
    SetProgramFolder(program());
}

TempHome::~TempHome() {
    if (hadXdg_) SetEnv(DataHomeVariable(), previousXdg_);
    else UnsetEnv(DataHomeVariable());
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace lumivale::test
