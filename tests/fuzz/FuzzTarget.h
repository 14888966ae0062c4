#pragma once
// One fuzz target per file: a libFuzzer program under scripts/fuzz.sh, else part of the replay program that runs
// the kept corpus (corpus/<target>/) on every test run. A broken FuzzCheck property aborts, which both report.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include <nlohmann/json.hpp>

namespace lumivale::fuzz {

inline void FuzzCheck(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

inline std::string AsText(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// True for text that is well-formed UTF-8 (what a JSON string can carry unchanged).
inline bool IsUtf8(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump();
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

// A fresh folder for the whole run, removed when the run ends.
inline const std::filesystem::path& ScratchFolder() {
    struct Folder {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("lumivale-fuzz-" + std::to_string(std::random_device{}()));
        Folder() { std::filesystem::create_directories(path); }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const Folder folder;
    return folder.path;
}

using Target = int (*)(const std::uint8_t*, std::size_t);
bool RegisterTarget(const char* name, Target target);

}  // namespace lumivale::fuzz

#ifdef LUMIVALE_LIBFUZZER
#define LUMIVALE_FUZZ_TARGET(name) \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
#else
#define LUMIVALE_FUZZ_TARGET(name)                                                              \
    static int name##Fuzz(const std::uint8_t* data, std::size_t size);                         \
    [[maybe_unused]] static const bool name##Registered =                                      \
        lumivale::fuzz::RegisterTarget(#name, name##Fuzz);                                     \
    static int name##Fuzz(const std::uint8_t* data, std::size_t size)
#endif
