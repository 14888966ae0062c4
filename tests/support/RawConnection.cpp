#include "RawConnection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace lumivale::test {

RawConnection::RawConnection(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

RawConnection::~RawConnection() {
    if (fd_ >= 0) close(fd_);
}

bool RawConnection::Send(std::string_view bytes) {
    while (fd_ >= 0 && !bytes.empty()) {
        const ssize_t sent = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return fd_ >= 0;
}

std::string RawConnection::ReadUntil(std::string_view text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (const std::size_t at = text.empty() ? std::string::npos : pending_.find(text); at != std::string::npos) {
            std::string out = pending_.substr(0, at + text.size());
            pending_.erase(0, at + text.size());
            return out;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd wait{fd_, POLLIN, 0};
        if (fd_ < 0 || peerClosed_ || poll(&wait, 1, static_cast<int>(std::max<std::int64_t>(0, left.count()))) <= 0) {
            break;
        }
        char buffer[65536];
        const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            peerClosed_ = true;
            break;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
    std::string out;
    out.swap(pending_);
    return out;
}

std::string RawConnection::ReadToEnd(std::chrono::milliseconds limit) { return ReadUntil({}, limit); }

}  // namespace lumivale::test
