#include "ZipWriter.h"

#include <cstdint>
#include <fstream>
#include <stdexcept>

#include "Deflate.h"

namespace lumivale::test {

namespace {

void Put(std::string& out, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

void WriteZip(const std::filesystem::path& file, const std::vector<std::pair<std::string, std::string>>& entries,
              const ZipWriteOptions& options) {
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
    const std::uint64_t kAll = 0xFFFFFFFFu;
    std::string body;
    std::string directory;
    for (const auto& [name, content] : entries) {
        const bool folder = !name.empty() && name.back() == '/';
        const bool stored = options.store || folder;
        const std::string data = stored ? content : DeflateRaw(content).value();
        const std::uint32_t crc = Crc32(content);
        const std::uint64_t offset = body.size();
        // ZIP64: the 32-bit fields read 0xFFFFFFFF and the extra field holds the real values.
        std::string extra;
        if (options.zip64) {
            Put(extra, 0x0001, 2);
            Put(extra, 24, 2);
            Put(extra, content.size(), 8);
            Put(extra, data.size(), 8);
            Put(extra, offset, 8);
        }
        auto common = [&](std::string& out) {
            Put(out, options.zip64 ? 45 : 20, 2);  // version needed
            Put(out, 0x0800, 2);                   // names are UTF-8
            Put(out, stored ? 0 : 8, 2);
            Put(out, 0, 4);  // time and date
            Put(out, crc, 4);
            Put(out, options.zip64 ? kAll : data.size(), 4);
            Put(out, options.zip64 ? kAll : content.size(), 4);
            Put(out, name.size(), 2);
        };
        Put(body, 0x04034b50, 4);
        common(body);
        Put(body, 0, 2);  // the local header carries no extra field
        body += name;
        body += data;

        Put(directory, 0x02014b50, 4);
        Put(directory, 45, 2);  // made by
        common(directory);
        Put(directory, extra.size(), 2);
        Put(directory, 0, 2 + 2 + 2 + 4);  // comment, disk, internal and external attributes
        Put(directory, options.zip64 ? kAll : offset, 4);
        directory += name;
        directory += extra;
    }
    std::string end;
    if (options.zip64) {
        const std::uint64_t record = body.size() + directory.size();
        Put(end, 0x06064b50, 4);
        Put(end, 44, 8);
        Put(end, 45, 2);
        Put(end, 45, 2);
        Put(end, 0, 8);
        Put(end, entries.size(), 8);
        Put(end, entries.size(), 8);
        Put(end, directory.size(), 8);
        Put(end, body.size(), 8);
        Put(end, 0x07064b50, 4);
        Put(end, 0, 4);
        Put(end, record, 8);
        Put(end, 1, 4);
    }
    Put(end, 0x06054b50, 4);
    Put(end, 0, 4);
    Put(end, options.zip64 ? 0xFFFF : entries.size(), 2);
    Put(end, options.zip64 ? 0xFFFF : entries.size(), 2);
    Put(end, options.zip64 ? kAll : directory.size(), 4);
    Put(end, options.zip64 ? kAll : body.size(), 4);
    Put(end, 0, 2);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << body << directory << end;
    if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace lumivale::test
