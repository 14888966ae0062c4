#pragma once
// Writes real ZIP files for tests, with any entry names (hostile ones included) and the layouts a
// reader must know (stored entries, ZIP64 records), which the launcher's own ZipBuilder refuses or
// never writes.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace lumivale::test {

struct ZipWriteOptions {
    bool store = false;  // entries stored as they are instead of deflated
    bool zip64 = false;  // every size and offset in ZIP64 records, as large archives have them
};

// Entries are (name, content); a name ending in "/" becomes a directory entry.
void WriteZip(const std::filesystem::path& file, const std::vector<std::pair<std::string, std::string>>& entries,
              const ZipWriteOptions& options = {});

}  // namespace lumivale::test
