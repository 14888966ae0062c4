#include "TestHttpServer.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace lumivale::test {

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string QueryOf(const httplib::Request& request) {
    const auto mark = request.target.find('?');
    return mark == std::string::npos ? std::string() : request.target.substr(mark + 1);
}

}  // namespace

TestReply TestReply::Ok(std::string body) { return Status(200, std::move(body)); }

TestReply TestReply::Status(int status, std::string body) {
    TestReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

TestReply TestReply::Redirect(int status, std::string location) {
    TestReply reply;
    reply.status = status;
    reply.headers.emplace_back("Location", std::move(location));
    return reply;
}

std::string TestRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (SameName(key, name)) return value;
    }
    return {};
}

TestCertificate TestCertificate::Create(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    TestCertificate certificate{folder / "server.crt", folder / "server.key"};
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
        " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1,DNS:localhost,DNS:127.0.0.1"
        " -keyout '" +
        certificate.keyFile.string() + "' -out '" + certificate.certificateFile.string() +
        "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("openssl could not make a test certificate");
    }
    return certificate;
}

TestHttpServer::TestHttpServer() : server_(std::make_unique<httplib::Server>()) { Start(); }

TestHttpServer::TestHttpServer(const TestCertificate& certificate)
    : server_(std::make_unique<httplib::SSLServer>(certificate.certificateFile.c_str(),
                                                   certificate.keyFile.c_str())),
      secure_(true) {
    if (!server_->is_valid()) throw std::runtime_error("the test certificate was not accepted");
    Start();
}

TestHttpServer::~TestHttpServer() { Stop(); }

void TestHttpServer::Start() {
    // Enough threads that kept-alive connections of a client pool do not queue behind each other.
    server_->new_task_queue = [] { return new httplib::ThreadPool(48); };
    server_->set_keep_alive_timeout(1);
    server_->set_tcp_nodelay(true);  // no 40 ms waits between a head and its body
    server_->set_keep_alive_max_count(100000);
    server_->set_read_timeout(5);
    server_->set_write_timeout(5);

    auto dispatch = [this](const httplib::Request& request, httplib::Response& response) {
        TestRequest seen{request.method, request.path, QueryOf(request), {request.headers.begin(), request.headers.end()},
                         request.body};
        {
            std::lock_guard lock(mutex_);
            log_.push_back(seen);
        }
        auto reply = std::make_shared<TestReply>(Answer(seen));
        if (!Pause(reply->delay)) {
            response.status = 500;
            return;
        }
        response.status = reply->status;
        for (const auto& [name, value] : reply->headers) response.set_header(name, value);
        if (!reply->cutAfter && reply->pieceSize == 0) {
            response.set_content(reply->body, reply->contentType);
            return;
        }
        const std::string contentType = reply->contentType;
        response.set_content_provider(
            reply->body.size(), contentType,
            [this, reply](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                const std::size_t end = reply->cutAfter
                                            ? std::min(*reply->cutAfter, reply->body.size())
                                            : reply->body.size();
                if (offset >= end) {  // the cut: go silent, then drop the connection
                    Pause(reply->stallBeforeCut);
                    return false;
                }
                std::size_t piece = end - offset;
                if (reply->pieceSize > 0) piece = std::min(piece, reply->pieceSize);
                if (!sink.write(reply->body.data() + offset, piece)) return false;
                if (offset + piece < end) return Pause(reply->pieceDelay);
                return true;
            });
    };
    server_->Get(".*", dispatch);
    server_->Post(".*", dispatch);
    server_->Put(".*", dispatch);
    server_->Patch(".*", dispatch);
    server_->Delete(".*", dispatch);
    server_->Options(".*", dispatch);

    int listening = -1;
    server_->set_socket_options([&listening](int socket) {
        httplib::default_socket_options(socket);
        listening = socket;
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    // cpp-httplib listens with a backlog of 5: a pool of clients connecting at once would see
    // attempts dropped and retried a second later.
    if (port_ > 0 && listening >= 0) ::listen(listening, 1024);
    if (port_ <= 0) throw std::runtime_error("the test server could not bind a port");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // Stop() only works on a running server; do not hand out one that might not be yet.
    for (int i = 0; i < 5000 && !server_->is_running(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void TestHttpServer::Stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    stopped_.notify_all();
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

bool TestHttpServer::Pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    if (duration.count() <= 0) return !stopping_;
    return !stopped_.wait_for(lock, duration, [this] { return stopping_; });
}

TestReply TestHttpServer::Answer(const TestRequest& request) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        const auto found = handlers_.find(request.path);
        if (found != handlers_.end()) handler = found->second;
    }
    if (!handler) return TestReply::Status(404, "not found");
    return handler(request);
}

std::string TestHttpServer::base() const {
    return std::string(secure_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_);
}

std::string TestHttpServer::Url(const std::string& path) const { return base() + path; }

void TestHttpServer::Serve(const std::string& path, TestReply reply) {
    Handle(path, [reply = std::move(reply)](const TestRequest&) { return reply; });
}

void TestHttpServer::ServeSequence(const std::string& path, std::vector<TestReply> replies) {
    if (replies.empty()) throw std::invalid_argument("ServeSequence needs at least one reply");
    auto state = std::make_shared<std::pair<std::mutex, std::size_t>>();
    auto shared = std::make_shared<std::vector<TestReply>>(std::move(replies));
    Handle(path, [state, shared](const TestRequest&) {
        std::lock_guard lock(state->first);
        const std::size_t index = std::min(state->second++, shared->size() - 1);
        return (*shared)[index];
    });
}

void TestHttpServer::Handle(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[path] = std::move(handler);
}

std::vector<TestRequest> TestHttpServer::Requests() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<std::string> TestHttpServer::RequestedPaths() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    for (const TestRequest& request : log_) paths.push_back(request.path);
    return paths;
}

int TestHttpServer::CountOf(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(log_.begin(), log_.end(),
                                          [&](const TestRequest& r) { return r.path == path; }));
}

void TestHttpServer::ClearLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

}  // namespace lumivale::test
