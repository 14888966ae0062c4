#include "TarWriter.h"

#include <archive.h>
#include <archive_entry.h>

#include <stdexcept>

namespace lumivale::test {

void WriteTarGz(const std::filesystem::path& file, const std::vector<TarEntry>& entries) {
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
    archive* writer = archive_write_new();
    archive_write_add_filter_gzip(writer);
    archive_write_set_format_pax_restricted(writer);
    if (archive_write_open_filename(writer, file.c_str()) != ARCHIVE_OK) {
        archive_write_free(writer);
        throw std::runtime_error("cannot create " + file.string());
    }
    for (const TarEntry& item : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.name.c_str());
        archive_entry_set_perm(entry, static_cast<mode_t>(item.mode));
        archive_entry_set_mtime(entry, 1700000000, 0);
        switch (item.kind) {
            case TarEntry::Kind::File:
                archive_entry_set_filetype(entry, AE_IFREG);
                archive_entry_set_size(entry, static_cast<la_int64_t>(item.content.size()));
                break;
            case TarEntry::Kind::Directory:
                archive_entry_set_filetype(entry, AE_IFDIR);
                break;
            case TarEntry::Kind::Symlink:
                archive_entry_set_filetype(entry, AE_IFLNK);
                archive_entry_set_symlink(entry, item.link.c_str());
                break;
            case TarEntry::Kind::Hardlink:
                archive_entry_set_filetype(entry, AE_IFREG);
                archive_entry_set_hardlink(entry, item.link.c_str());
                break;
        }
        archive_write_header(writer, entry);
        if (item.kind == TarEntry::Kind::File && !item.content.empty()) {
            archive_write_data(writer, item.content.data(), item.content.size());
        }
        archive_entry_free(entry);
    }
    archive_write_close(writer);
    archive_write_free(writer);
}

}  // namespace lumivale::test
