// Windows: the files are resources of the executable (lumivale.rc, made from Resources.rc.in).
#include "Resources.h"

#include <windows.h>

namespace lumivale {

std::span<const std::uint8_t> GetResource(int id) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(nullptr, found);
    const DWORD size = SizeofResource(nullptr, found);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr || size == 0) return {};
    return {static_cast<const std::uint8_t*>(bytes), size};
}

}  // namespace lumivale
