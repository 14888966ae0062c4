#pragma once
// The launcher's backend service over HTTP: every endpoint the launcher calls, answered from a
// BackendStore. Signed requests carry X-Player-ID, X-Timestamp and X-Signature: the Base64
// RSA PKCS#1 v1.5 SHA-256 signature of the decimal timestamp followed by the player id, made with
// the key the player registered. A timestamp more than 300 s away from the server clock is
// refused, and so is a registration or play-time upload whose (player, timestamp, signature) was
// accepted before.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "BackendStore.h"

namespace httplib {
class Server;
}

namespace lumivale::backend {

inline constexpr std::int64_t kTimestampWindowSeconds = 300;
inline constexpr std::int64_t kReregisterLockSeconds = 12 * 60 * 60;
inline constexpr std::int64_t kMaxSessionSeconds = 86400;

class BackendServer {
public:
    // Opens the database (throws StoreError when it cannot be opened).
    explicit BackendServer(const std::filesystem::path& database);
    ~BackendServer();
    BackendServer(const BackendServer&) = delete;
    BackendServer& operator=(const BackendServer&) = delete;

    BackendStore& Store() { return *store_; }

    // Binds (port 0: any free port) and serves on a background thread. False when the address
    // cannot be bound or the server already runs.
    bool Start(const std::string& host, int port);
    // Binds and serves on the calling thread until Stop is called from elsewhere. False when the
    // address cannot be bound.
    bool Run(const std::string& host, int port);
    // The port bound by the last Start or Run.
    int Port() const { return port_; }
    // Stops serving and waits for the background thread.
    void Stop();

private:
    void Routes();

    std::unique_ptr<BackendStore> store_;
    std::unique_ptr<httplib::Server> http_;
    std::thread thread_;
    int port_ = 0;
    std::atomic<bool> listenEnded_{false};
};

}  // namespace lumivale::backend
