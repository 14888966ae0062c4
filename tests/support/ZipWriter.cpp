#include "ZipWriter.h"

#include <zip.h>

#include <stdexcept>

namespace lumivale::test {

void WriteZip(const std::filesystem::path& file,
              const std::vector<std::pair<std::string, std::string>>& entries) {
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
    int error = 0;
    zip_t* zip = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (zip == nullptr) throw std::runtime_error("cannot create " + file.string());
    for (const auto& [name, content] : entries) {
        if (!name.empty() && name.back() == '/') {
            zip_dir_add(zip, name.c_str(), ZIP_FL_ENC_RAW);
            continue;
        }
        zip_source_t* source = zip_source_buffer(zip, content.data(), content.size(), 0);
        if (source == nullptr || zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_RAW) < 0) {
            zip_source_free(source);
            zip_discard(zip);
            throw std::runtime_error("cannot add " + name);
        }
    }
    if (zip_close(zip) != 0) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace lumivale::test
