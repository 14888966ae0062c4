#pragma once
// A plain TCP connection to a port on 127.0.0.1, for requests sent byte by byte, slowly, or
// framed in ways no HTTP client library would frame them.
#include <chrono>
#include <string>
#include <string_view>

namespace lumivale::test {

class RawConnection {
public:
    explicit RawConnection(int port);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool Connected() const { return fd_ >= 0; }
    // False once the peer closed or reset the connection.
    bool Send(std::string_view bytes);
    // What arrives until `text` has arrived, the peer closes, or `limit` passes (the limit bounds a
    // hang; it measures nothing; 0 only takes what is there). Bytes after `text` stay for the next call.
    std::string ReadUntil(std::string_view text, std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Everything until the peer closes (or `limit` passes).
    std::string ReadToEnd(std::chrono::milliseconds limit = std::chrono::seconds(20));
    // The peer closed its side: a read gave end of stream or a reset.
    bool PeerClosed() const { return peerClosed_; }

private:
    int fd_ = -1;
    std::string pending_;
    bool peerClosed_ = false;
};

}  // namespace lumivale::test
