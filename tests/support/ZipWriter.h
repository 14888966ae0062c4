#pragma once
// Writes real ZIP files for tests, with any entry names (hostile ones included).
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace lumivale::test {

// Entries are (name, content); a name ending in "/" becomes a directory entry.
void WriteZip(const std::filesystem::path& file,
              const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace lumivale::test
