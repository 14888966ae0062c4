#include "SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>

#include "Paths.h"

namespace lumivale {

namespace {

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

struct SingleInstance::State {
    int lockFd = -1;
    int listenFd = -1;
    std::string socketName;
    std::atomic<bool> stopping{false};
    std::thread listener;
};

SingleInstance::SingleInstance(const std::filesystem::path& programFolder) : state_(std::make_unique<State>()) {
    const std::string key = InstanceKey(programFolder);
    state_->socketName = "lumivale-" + key;
    int lockFd = TryLock(programFolder / ".lumivale-instance.lock");
    if (lockFd == -2) {
        // A read-only program folder: keep the lock in the temporary folder instead.
        lockFd = TryLock(TempFolder() / ("lumivale-" + key + ".lock"));
    }
    state_->lockFd = lockFd < 0 ? -1 : lockFd;
}

SingleInstance::~SingleInstance() {
    State& s = *state_;
    s.stopping = true;
    if (s.listenFd >= 0) ::shutdown(s.listenFd, SHUT_RDWR);
    if (s.listener.joinable()) s.listener.join();
    if (s.listenFd >= 0) ::close(s.listenFd);
    if (s.lockFd >= 0) ::close(s.lockFd);
}

bool SingleInstance::IsFirst() const { return state_->lockFd >= 0; }

void SingleInstance::ListenForWake(std::function<void()> onWake) {
    State& s = *state_;
    if (!IsFirst() || s.listener.joinable()) return;
    s.listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s.listenFd < 0) return;
    sockaddr_un address;
    const socklen_t length = MakeAddress(s.socketName, address);
    if (::bind(s.listenFd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(s.listenFd, 4) != 0) {
        ::close(s.listenFd);
        s.listenFd = -1;
        return;
    }
    s.listener = std::thread([&s, onWake = std::move(onWake)] {
        while (!s.stopping) {
            const int client = ::accept4(s.listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                if (errno == EINTR) continue;
                return;  // shut down
            }
            char knock = 0;
            const bool knocked = ::read(client, &knock, 1) == 1 && knock == 'W';
            ::close(client);
            if (knocked && !s.stopping && onWake) onWake();
        }
    });
}

bool SingleInstance::WakeFirst() const {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un address;
    const socklen_t length = MakeAddress(state_->socketName, address);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                    ::write(fd, "W", 1) == 1;
    ::close(fd);
    return ok;
}

}  // namespace lumivale
