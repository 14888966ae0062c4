#include <windows.h>
#include <bcrypt.h>

#include "Uuid.h"

namespace lumivale {

bool SystemRandomBytes(std::span<std::uint8_t> bytes) {
    return BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

}  // namespace lumivale
