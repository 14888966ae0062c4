#pragma once
// The launcher's backend service over HTTP: every endpoint the launcher calls, answered from a
// BackendStore. Signed requests carry X-Player-ID, X-Timestamp and X-Signature: the Base64
// RSA PKCS#1 v1.5 SHA-256 signature of the decimal timestamp followed by the player id, made with
// the key the player registered. A timestamp more than 300 s away from the server clock is
// refused (the answer names the server's time), and so is every signed request whose player and
// second, or whose signature, was accepted before, reads included. Another key may be registered
// for an account once its registered key has signed nothing for 12 hours.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "BackendStore.h"
#include "ConnectionLoop.h"

namespace lumivale::backend {

inline constexpr std::int64_t kTimestampWindowSeconds = 300;
inline constexpr std::int64_t kReregisterLockSeconds = 12 * 60 * 60;
inline constexpr std::int64_t kMaxSessionSeconds = 86400;

struct ServerOptions {
    ConnectionLimits limits;
    // Seconds since 1970; the system clock when empty (tests move it).
    std::function<std::int64_t()> clock;
};

class Router;

class BackendServer {
public:
    // Opens the database, an SQLite file or "postgresql://…" (throws StoreError when it cannot).
    explicit BackendServer(const std::string& database, ServerOptions options = {});
    ~BackendServer();
    BackendServer(const BackendServer&) = delete;
    BackendServer& operator=(const BackendServer&) = delete;

    BackendStore& Store() { return *store_; }

    // Binds (port 0: any free port) and serves on a background thread. False when the address
    // cannot be bound or the server already runs.
    bool Start(const std::string& host, int port);
    // Binds and serves on the calling thread until Stop or RequestStop. False when the address
    // cannot be bound.
    bool Run(const std::string& host, int port);
    // The port bound by the last Start or Run.
    int Port() const { return port_; }
    // Ends serving soon after; safe from a signal handler.
    void RequestStop() { loop_->RequestStop(); }
    // Stops serving and waits for the background thread.
    void Stop();

private:
    std::unique_ptr<BackendStore> store_;
    std::unique_ptr<Router> router_;
    std::unique_ptr<ConnectionLoop> loop_;
    std::thread thread_;
    int port_ = 0;
};

}  // namespace lumivale::backend
