#pragma once
// The backend's connections: one thread waits on all of them at once and reads each request whole
// (head and body within a deadline, the body within its cap however it is framed); only complete
// requests go to the worker threads, and the answers go back out through the same thread. A slow
// or idle client therefore costs a socket and a buffer, never a worker.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "RequestReader.h"

namespace lumivale::backend {

struct ConnectionLimits {
    std::size_t maxHeadBytes = 16 * 1024;
    std::size_t maxBodyBytes = 1024 * 1024;
    // From a connection's start, or the end of its previous answer, until its next request is in whole.
    std::chrono::milliseconds requestTimeout{10000};
    // For an answer to be taken by the client.
    std::chrono::milliseconds writeTimeout{10000};
    // Further clients wait in the listen queue until a connection ends.
    std::size_t maxConnections = 1000;
    int workers = 8;
};

// What a worker made of one request: the whole answer and whether the connection stays open.
struct Reply {
    std::string bytes;
    bool keepAlive = false;
};

// Answers one request in its plain form (see RequestReader); runs on a worker thread.
using RequestHandler = std::function<Reply(const std::string& request, const std::string& peer)>;

class ConnectionLoop {
public:
    ConnectionLoop(RequestHandler handler, ConnectionLimits limits);
    ~ConnectionLoop();
    ConnectionLoop(const ConnectionLoop&) = delete;
    ConnectionLoop& operator=(const ConnectionLoop&) = delete;

    // Binds and listens (port 0: any free port); the port, or -1 when the address cannot be bound.
    int Bind(const std::string& host, int port);
    // Serves on the calling thread until RequestStop; false when nothing was bound.
    bool Run();
    // Ends Run soon after; safe from a signal handler and from any thread.
    void RequestStop();
    bool Running() const { return running_; }

private:
    struct Connection;
    struct Job {
        std::uint64_t id;
        std::string request;
        std::string peer;
    };
    struct Finished {
        std::uint64_t id;
        Reply reply;
    };
    using Clock = std::chrono::steady_clock;

    void WorkerThread();
    // Takes the waiting clients; false when the process ran out of descriptors or memory.
    bool Accept(Clock::time_point now);
    void ReadFrom(Connection& connection, Clock::time_point now);
    void WriteTo(Connection& connection, Clock::time_point now);
    // Acts on what the connection's reader holds: hands a request to the workers, or answers a refusal.
    void Dispatch(Connection& connection, ReadState state, Clock::time_point now);
    void Answer(Connection& connection, std::string bytes, bool keepAlive, Clock::time_point now);
    void TakeFinished(Clock::time_point now);
    void StopWorkers();

    RequestHandler handler_;
    ConnectionLimits limits_;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopRequested_{false};  // lock-free: set from a signal handler
    std::atomic<bool> running_{false};

    std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
    std::uint64_t nextId_ = 1;
    std::string readBuffer_;

    std::mutex jobsMutex_;
    std::condition_variable jobsReady_;
    std::deque<Job> jobs_;
    bool workersStop_ = false;
    std::vector<Finished> finished_;
    std::vector<std::thread> workers_;
};

}  // namespace lumivale::backend
