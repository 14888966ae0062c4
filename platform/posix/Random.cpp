#include <sys/random.h>

#include "Uuid.h"

namespace lumivale {

bool SystemRandomBytes(std::span<std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::getrandom(bytes.data() + done, bytes.size() - done, 0);
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace lumivale
