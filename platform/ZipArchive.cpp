#include "ZipArchive.h"

#include <zip.h>

#include <cstdio>

#include "Files.h"

namespace lumivale {

struct ZipArchive::Handle {
    zip_t* zip = nullptr;
    ~Handle() {
        if (zip != nullptr) zip_discard(zip);  // read only: nothing to write back
    }
};

ZipArchive::ZipArchive(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
ZipArchive::ZipArchive(ZipArchive&&) noexcept = default;
ZipArchive& ZipArchive::operator=(ZipArchive&&) noexcept = default;
ZipArchive::~ZipArchive() = default;

std::optional<ZipArchive> ZipArchive::Open(const std::filesystem::path& file) {
    int error = 0;
    zip_t* zip = zip_open(file.string().c_str(), ZIP_RDONLY, &error);
    if (zip == nullptr) return std::nullopt;
    auto handle = std::make_unique<Handle>();
    handle->zip = zip;
    return ZipArchive(std::move(handle));
}

std::uint64_t ZipArchive::Count() const {
    const zip_int64_t count = zip_get_num_entries(handle_->zip, 0);
    return count < 0 ? 0 : static_cast<std::uint64_t>(count);
}

std::optional<ZipArchive::Entry> ZipArchive::At(std::uint64_t index) const {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(handle_->zip, index, ZIP_FL_ENC_RAW, &stat) != 0 ||
        (stat.valid & ZIP_STAT_NAME) == 0) {
        return std::nullopt;
    }
    Entry entry;
    entry.name = stat.name;
    entry.isDirectory = !entry.name.empty() && entry.name.back() == '/';
    entry.size = (stat.valid & ZIP_STAT_SIZE) ? stat.size : 0;
    return entry;
}

std::optional<std::uint64_t> ZipArchive::Find(const std::string& name) const {
    const zip_int64_t index = zip_name_locate(handle_->zip, name.c_str(), ZIP_FL_ENC_RAW);
    if (index < 0) return std::nullopt;
    return static_cast<std::uint64_t>(index);
}

std::optional<std::string> ZipArchive::Read(std::uint64_t index) const {
    zip_file_t* file = zip_fopen_index(handle_->zip, index, 0);
    if (file == nullptr) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    zip_int64_t got = 0;
    while ((got = zip_fread(file, buffer, sizeof buffer)) > 0) {
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    // A short or corrupt entry shows up as a read error or a failed checksum on close.
    const bool ok = got == 0 && zip_fclose(file) == 0;
    if (got != 0) zip_fclose(file);
    if (!ok) return std::nullopt;
    return bytes;
}

bool ZipArchive::ExtractTo(std::uint64_t index, const std::filesystem::path& target) const {
    const auto bytes = Read(index);
    return bytes && WriteFileAtomically(target, *bytes);
}

}  // namespace lumivale
