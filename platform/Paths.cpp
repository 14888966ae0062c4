// The parts of Paths.h that are the same on every system.
#include "Paths.h"

#include <mutex>

namespace lumivale {

namespace {
std::mutex folderMutex;
std::filesystem::path programFolder;
bool programFolderSet = false;
}  // namespace

std::filesystem::path Utf8Path(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

void SetProgramFolder(const std::filesystem::path& folder) {
    std::lock_guard lock(folderMutex);
    std::error_code error;
    const auto absolute = std::filesystem::absolute(folder, error);
    programFolder = error ? folder : absolute.lexically_normal();
    if (programFolder.has_filename() == false && programFolder.has_parent_path() &&
        programFolder != programFolder.root_path()) {
        programFolder = programFolder.parent_path();  // no trailing separator
    }
    programFolderSet = true;
}

std::filesystem::path ProgramFolder() {
    std::lock_guard lock(folderMutex);
    if (!programFolderSet) {
        programFolder = ExecutableFolder();
        programFolderSet = true;
    }
    return programFolder;
}

}  // namespace lumivale
