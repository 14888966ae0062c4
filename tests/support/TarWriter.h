#pragma once
// Writes real .tar.gz files for tests, with any entry names and links (hostile ones included).
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace lumivale::test {

struct TarEntry {
    enum class Kind { File, Directory, Symlink, Hardlink };
    std::string name;
    std::string content;  // File: the bytes
    Kind kind = Kind::File;
    std::string link;     // Symlink: its target text; Hardlink: the name of the entry it joins
    int mode = 0644;

    static TarEntry File(std::string name, std::string content, int mode = 0644) {
        return {std::move(name), std::move(content), Kind::File, {}, mode};
    }
    static TarEntry Directory(std::string name) { return {std::move(name), {}, Kind::Directory, {}, 0755}; }
    static TarEntry Symlink(std::string name, std::string target) {
        return {std::move(name), {}, Kind::Symlink, std::move(target), 0777};
    }
    static TarEntry Hardlink(std::string name, std::string target) {
        return {std::move(name), {}, Kind::Hardlink, std::move(target), 0644};
    }
};

void WriteTarGz(const std::filesystem::path& file, const std::vector<TarEntry>& entries);

}  // namespace lumivale::test
