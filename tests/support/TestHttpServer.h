#pragma once
// A real HTTP (or HTTPS, with a TestCertificate) server on 127.0.0.1 that plays the remote hosts: it answers
// what the test tells it to, faults included (the TestReply fields), and logs every request. Paths match exactly
// (without the query); any other answers 404. Waits end when the server is destroyed. Idle kept-alive
// connections are held for a second: a test that used the launcher's transport on its own thread calls
// CloseHttpConnections() before its servers go, or each one's destruction waits out that second.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

namespace lumivale::test {

struct TestReply {
    int status = 200;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // e.g. {"Location", "/b"}
    std::string contentType = "application/octet-stream";

    // Wait this long before answering at all (nothing is sent meanwhile).
    std::chrono::milliseconds delay{0};
    // Send the body in pieces of this many bytes with `pieceDelay` after each (0: all at once).
    std::size_t pieceSize = 0;
    std::chrono::milliseconds pieceDelay{0};
    // Announce the body's full length but drop the connection after this many bytes of it,
    // staying silent for `stallBeforeCut` first.
    std::optional<std::size_t> cutAfter;
    std::chrono::milliseconds stallBeforeCut{0};

    static TestReply Ok(std::string body);
    static TestReply Status(int status, std::string body = {});
    static TestReply Redirect(int status, std::string location);
};

struct TestRequest {
    std::string method;
    std::string path;   // without the query
    std::string query;  // after "?", empty when there is none
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The first header of that name (any letter case); empty when missing.
    std::string Header(const std::string& name) const;
};

// A self-signed certificate and key for 127.0.0.1 and localhost, written into `folder` (made by
// the openssl command-line tool). 127.0.0.1 is named twice, as an address and as a DNS name:
// Wine's WinHTTP matches the host against DNS names only.
struct TestCertificate {
    std::filesystem::path certificateFile;  // PEM; also the file a client trusts
    std::filesystem::path keyFile;

    static TestCertificate Create(const std::filesystem::path& folder);
};

class TestHttpServer {
  public:
    using Handler = std::function<TestReply(const TestRequest&)>;

    TestHttpServer();                                             // HTTP
    explicit TestHttpServer(const TestCertificate& certificate);  // HTTPS
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT" or "https://127.0.0.1:PORT", no trailing "/".
    std::string base() const;
    // base() + path; `path` should begin with "/".
    std::string Url(const std::string& path) const;

    // Every request for `path` gets this reply.
    void Serve(const std::string& path, TestReply reply);
    // Requests for `path` get the replies in order; the last one repeats.
    void ServeSequence(const std::string& path, std::vector<TestReply> replies);
    // Requests for `path` are answered by `handler` (called on a server thread).
    void Handle(const std::string& path, Handler handler);

    // The log, in arrival order: whole requests, their paths, how many asked for one path.
    std::vector<TestRequest> Requests() const;
    std::vector<std::string> RequestedPaths() const;
    int CountOf(const std::string& path) const;
    void ClearLog();

    // Stops serving now (also done by the destructor); pending waits end at once.
    void Stop();

  private:
    void Start();
    TestReply Answer(const TestRequest& request);
    // Waits `duration` unless the server stops first; false when it stopped.
    bool Pause(std::chrono::milliseconds duration);

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    bool secure_ = false;

    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    std::map<std::string, Handler> handlers_;
    std::vector<TestRequest> log_;
};

}  // namespace lumivale::test
