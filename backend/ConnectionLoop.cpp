#include "ConnectionLoop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace lumivale::backend {

namespace {

// Read per connection and turn, so that one fast sender cannot starve the others.
constexpr std::size_t kReadPiece = 64 * 1024;
// After an answer that closes the connection, what the client still sends is read and dropped for
// this long (and up to this much), so that it sees the answer rather than a reset.
constexpr std::chrono::milliseconds kLingerTime{1000};
constexpr std::size_t kLingerBytes = 1024 * 1024;
// When the process is out of descriptors, accepting pauses this long instead of spinning.
constexpr std::chrono::milliseconds kAcceptPause{100};

const char* StatusText(int status) {
    switch (status) {
        case 400: return "Bad Request";
        case 408: return "Request Timeout";
        case 413: return "Payload Too Large";
        case 431: return "Request Header Fields Too Large";
        case 501: return "Not Implemented";
        default: return "Internal Server Error";
    }
}

// A refusal that closes the connection; `reason` is one of this file's or the reader's own texts.
std::string RefusalBytes(int status, const std::string& reason) {
    const std::string body = R"({"success":false,"error":")" + reason + "\"}";
    return "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// Wakes the loop; a full pipe already wakes it, so a failed write loses nothing.
void Poke(int fd) {
    if (fd >= 0 && write(fd, "w", 1) < 0) return;
}

std::string PeerText(const sockaddr_storage& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
    } else if (address.ss_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
    }
    return text;
}

}  // namespace

struct ConnectionLoop::Connection {
    enum class State { Reading, Busy, Writing, Lingering };

    Connection(int socket, std::uint64_t number, std::string address, const ConnectionLimits& limits)
        : fd(socket), id(number), peer(std::move(address)), reader(limits.maxHeadBytes, limits.maxBodyBytes) {}
    ~Connection() { close(fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd;
    std::uint64_t id;
    std::string peer;
    RequestReader reader;
    State state = State::Reading;
    std::string out;
    std::size_t written = 0;
    std::size_t lingered = 0;
    bool keepAlive = false;
    bool closed = false;
    Clock::time_point deadline;
};

ConnectionLoop::ConnectionLoop(RequestHandler handler, ConnectionLimits limits)
    : handler_(std::move(handler)), limits_(limits) {
    int wake[2];
    if (pipe2(wake, O_NONBLOCK | O_CLOEXEC) == 0) {
        wakeRead_ = wake[0];
        wakeWrite_ = wake[1];
    }
}

ConnectionLoop::~ConnectionLoop() {
    StopWorkers();
    connections_.clear();
    for (int fd : {listenFd_, wakeRead_, wakeWrite_})
        if (fd >= 0) close(fd);
}

int ConnectionLoop::Bind(const std::string& host, int port) {
    if (listenFd_ >= 0 || wakeRead_ < 0) return -1;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.empty() ? nullptr : host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return -1;
    for (addrinfo* at = found; at != nullptr && listenFd_ < 0; at = at->ai_next) {
        const int fd = socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0) continue;
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (bind(fd, at->ai_addr, at->ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0) {
            listenFd_ = fd;
        } else {
            close(fd);
        }
    }
    freeaddrinfo(found);
    if (listenFd_ < 0) return -1;
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &length);
    return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                              : reinterpret_cast<sockaddr_in&>(bound).sin_port);
}

void ConnectionLoop::RequestStop() {
    stopRequested_ = true;
    Poke(wakeWrite_);
}

bool ConnectionLoop::Run() {
    if (listenFd_ < 0) return false;
    running_ = true;
    {
        std::lock_guard lock(jobsMutex_);
        workersStop_ = false;
    }
    for (int i = 0; i < std::max(1, limits_.workers); ++i) workers_.emplace_back(&ConnectionLoop::WorkerThread, this);

    std::vector<pollfd> polls;
    std::vector<Connection*> polled;
    Clock::time_point acceptPausedUntil{};
    while (!stopRequested_) {
        Clock::time_point now = Clock::now();
        polls.assign({pollfd{wakeRead_, POLLIN, 0}});
        polled.clear();
        const bool accepting = connections_.size() < limits_.maxConnections && now >= acceptPausedUntil;
        if (accepting) polls.push_back({listenFd_, POLLIN, 0});
        Clock::time_point next = accepting ? Clock::time_point::max() : acceptPausedUntil;
        for (auto& [id, connection] : connections_) {
            if (connection->state == Connection::State::Busy) continue;
            const short events = connection->state == Connection::State::Writing ? POLLOUT : POLLIN;
            polls.push_back({connection->fd, events, 0});
            polled.push_back(connection.get());
            next = std::min(next, connection->deadline);
        }
        int timeout = -1;
        if (next != Clock::time_point::max()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
            timeout = static_cast<int>(std::clamp<std::int64_t>(wait, 0, 60000));
        }
        if (poll(polls.data(), polls.size(), timeout) < 0) {
            if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(10));  // out of memory: wait
            continue;
        }
        now = Clock::now();

        if (polls[0].revents != 0) {
            char drain[256];
            while (read(wakeRead_, drain, sizeof drain) > 0) {
            }
        }
        TakeFinished(now);
        if (accepting && polls[1].revents != 0 && !Accept(now)) acceptPausedUntil = now + kAcceptPause;
        const std::size_t first = accepting ? 2 : 1;
        for (std::size_t i = 0; i < polled.size(); ++i) {
            if (polls[first + i].revents == 0) continue;
            Connection& connection = *polled[i];
            if (connection.state == Connection::State::Writing) {
                WriteTo(connection, now);
            } else {
                ReadFrom(connection, now);
            }
        }
        for (auto at = connections_.begin(); at != connections_.end();) {
            Connection& connection = *at->second;
            if (!connection.closed && connection.state != Connection::State::Busy && now >= connection.deadline) {
                if (connection.state == Connection::State::Reading && connection.reader.Started()) {
                    Answer(connection, RefusalBytes(408, "request not complete in time"), false, now);
                } else {
                    connection.closed = true;
                }
            }
            at = connection.closed ? connections_.erase(at) : std::next(at);
        }
    }
    connections_.clear();
    StopWorkers();
    close(listenFd_);  // later clients are refused at once instead of waiting in the listen queue
    listenFd_ = -1;
    running_ = false;
    return true;
}

bool ConnectionLoop::Accept(Clock::time_point now) {
    while (connections_.size() < limits_.maxConnections) {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        const int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM;
        }
        const int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        const std::uint64_t id = nextId_++;
        auto connection = std::make_unique<Connection>(fd, id, PeerText(address), limits_);
        connection->deadline = now + limits_.requestTimeout;
        connections_.emplace(id, std::move(connection));
    }
    return true;
}

void ConnectionLoop::ReadFrom(Connection& connection, Clock::time_point now) {
    readBuffer_.resize(kReadPiece);
    const ssize_t got = recv(connection.fd, readBuffer_.data(), readBuffer_.size(), 0);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
    if (got <= 0) {
        connection.closed = true;
        return;
    }
    if (connection.state == Connection::State::Lingering) {
        connection.lingered += static_cast<std::size_t>(got);
        if (connection.lingered > kLingerBytes) connection.closed = true;
        return;
    }
    Dispatch(connection, connection.reader.Add(std::string_view(readBuffer_.data(), static_cast<std::size_t>(got))),
             now);
}

void ConnectionLoop::Dispatch(Connection& connection, ReadState state, Clock::time_point now) {
    switch (state) {
        case ReadState::NeedMore:
            if (connection.reader.TakeContinueRequest()) {
                static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
                // Nothing else was sent on the connection since its last answer: these few bytes fit.
                if (send(connection.fd, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL) < 0) connection.closed = true;
            }
            break;
        case ReadState::Complete: {
            connection.state = Connection::State::Busy;
            {
                std::lock_guard lock(jobsMutex_);
                jobs_.push_back({connection.id, connection.reader.Request(), connection.peer});
            }
            jobsReady_.notify_one();
            break;
        }
        case ReadState::Refused:
            Answer(connection, RefusalBytes(connection.reader.RefusalStatus(), connection.reader.RefusalReason()),
                   false, now);
            break;
    }
}

void ConnectionLoop::Answer(Connection& connection, std::string bytes, bool keepAlive, Clock::time_point now) {
    connection.out = std::move(bytes);
    connection.written = 0;
    connection.keepAlive = keepAlive;
    connection.state = Connection::State::Writing;
    connection.deadline = now + limits_.writeTimeout;
    WriteTo(connection, now);
}

void ConnectionLoop::WriteTo(Connection& connection, Clock::time_point now) {
    while (connection.written < connection.out.size()) {
        const ssize_t sent = send(connection.fd, connection.out.data() + connection.written,
                                  connection.out.size() - connection.written, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (sent <= 0) {
            connection.closed = true;
            return;
        }
        connection.written += static_cast<std::size_t>(sent);
    }
    connection.out.clear();
    if (!connection.keepAlive) {
        shutdown(connection.fd, SHUT_WR);
        connection.state = Connection::State::Lingering;
        connection.deadline = now + kLingerTime;
        return;
    }
    connection.state = Connection::State::Reading;
    connection.deadline = now + limits_.requestTimeout;
    Dispatch(connection, connection.reader.Next(), now);  // a request sent right behind the last one
}

void ConnectionLoop::TakeFinished(Clock::time_point now) {
    std::vector<Finished> finished;
    {
        std::lock_guard lock(jobsMutex_);
        finished.swap(finished_);
    }
    for (Finished& done : finished) {
        const auto found = connections_.find(done.id);
        if (found == connections_.end()) continue;
        Answer(*found->second, std::move(done.reply.bytes), done.reply.keepAlive, now);
    }
}

void ConnectionLoop::WorkerThread() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(jobsMutex_);
            jobsReady_.wait(lock, [this] { return workersStop_ || !jobs_.empty(); });
            if (workersStop_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        Reply reply;
        try {
            reply = handler_(job.request, job.peer);
        } catch (...) {
            reply = {RefusalBytes(500, "internal error"), false};
        }
        {
            std::lock_guard lock(jobsMutex_);
            finished_.push_back({job.id, std::move(reply)});
        }
        Poke(wakeWrite_);
    }
}

void ConnectionLoop::StopWorkers() {
    {
        std::lock_guard lock(jobsMutex_);
        workersStop_ = true;
        jobs_.clear();
        finished_.clear();
    }
    jobsReady_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
}

}  // namespace lumivale::backend
