#include "SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "Paths.h"

namespace lumivale {

namespace {

std::uint64_t Fnv1a(const std::string& text) {
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string FolderKey(const std::filesystem::path& folder) {
    std::error_code error;
    auto canonical = std::filesystem::weakly_canonical(folder, error);
    return std::to_string(Fnv1a(PathUtf8(error ? folder : canonical)));
}

// Abstract socket address: no file to clean up, gone with the process.
socklen_t MakeAddress(const std::string& name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::size_t length = std::min(name.size(), sizeof(address.sun_path) - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

int TryLock(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -2;  // cannot create the lock file here
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;  // held by another process
    }
    return fd;
}

}  // namespace

SingleInstance::SingleInstance(const std::filesystem::path& programFolder) {
    const std::string key = FolderKey(programFolder);
    socketName_ = "lumivale-" + key;
    lockFd_ = TryLock(programFolder / ".lumivale-instance.lock");
    if (lockFd_ == -2) {
        // A read-only program folder: keep the lock in the temporary folder instead.
        lockFd_ = TryLock(TempFolder() / ("lumivale-" + key + ".lock"));
    }
    if (lockFd_ < 0) lockFd_ = -1;
}

SingleInstance::~SingleInstance() {
    stopping_ = true;
    if (listenFd_ >= 0) ::shutdown(listenFd_, SHUT_RDWR);
    if (listener_.joinable()) listener_.join();
    if (listenFd_ >= 0) ::close(listenFd_);
    if (lockFd_ >= 0) ::close(lockFd_);
}

void SingleInstance::ListenForWake(std::function<void()> onWake) {
    if (!IsFirst() || listener_.joinable()) return;
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return;
    sockaddr_un address;
    const socklen_t length = MakeAddress(socketName_, address);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listenFd_, 4) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return;
    }
    listener_ = std::thread([this, onWake = std::move(onWake)] {
        while (!stopping_) {
            const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                if (errno == EINTR) continue;
                return;  // shut down
            }
            char knock = 0;
            const bool knocked = ::read(client, &knock, 1) == 1 && knock == 'W';
            ::close(client);
            if (knocked && !stopping_ && onWake) onWake();
        }
    });
}

bool SingleInstance::WakeFirst() const {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address;
    const socklen_t length = MakeAddress(socketName_, address);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                    ::write(fd, "W", 1) == 1;
    ::close(fd);
    return ok;
}

}  // namespace lumivale
