#include "Files.h"

namespace lumivale {

bool WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         FileAccess access) {
    AtomicFile file(target, access);
    return file.IsOpen() && file.Write(bytes) && file.Commit();
}

}  // namespace lumivale
