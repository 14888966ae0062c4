// WinHTTP against loopback peers a Linux program serves (LinuxPeers.cpp): answers, redirects, bodies, failures, TLS.
#include <gtest/gtest.h>

#include <cstdlib>

#include "HttpTransport.h"
#include "Portable.h"

namespace lumivale {
namespace {

using namespace std::chrono_literals;

std::string Peer(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) ADD_FAILURE() << name << " is not set: run through lumivale_test_peers";
    return value != nullptr ? value : "";
}

HttpRequest Get(const std::string& url) {
    HttpRequest request;
    request.url = url;
    request.connectTimeout = 5s;
    request.receiveTimeout = 5s;
    return request;
}

TEST(WinHttp, AnswersComeAsSentAndRedirectsAreHandedBack) {
    const std::string http = Peer("LUMIVALE_PEER_HTTP");
    std::string body;
    HttpResponse response = SendHttpRequest(Get(http + "/hello"), body);
    EXPECT_TRUE(response.ok()) << response.error;
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(body, "hello");
    EXPECT_EQ(response.Header("content-length"), "5");

    HttpRequest post = Get(http + "/echo");
    post.method = "POST";
    post.body = "{\"名\":1}";
    post.headers = {{"X-Test", "值"}, {"Content-Type", "application/json"}};
    response = SendHttpRequest(post, body);
    EXPECT_TRUE(response.ok()) << response.error;
    EXPECT_EQ(body, "POST|值|LumivaleLauncher/1.0|{\"名\":1}");
    post.userAgent = "Other/2";
    SendHttpRequest(post, body);
    EXPECT_EQ(body, "POST|值|Other/2|{\"名\":1}");

    response = SendHttpRequest(Get(http + "/redirect"), body);
    EXPECT_TRUE(response.ok());
    EXPECT_EQ(response.status, 302);
    EXPECT_EQ(response.Header("Location"), "/hello");
    response = SendHttpRequest(Get(http + "/status"), body);
    EXPECT_EQ(response.status, 503);
    EXPECT_EQ(body, "busy");
}

TEST(WinHttp, BodiesStreamAndFailuresSayWhatHappened) {
    const std::string http = Peer("LUMIVALE_PEER_HTTP");
    std::size_t received = 0;
    bool exact = true;
    HttpResponse response = SendHttpRequest(Get(http + "/pattern"), [&](std::string_view piece) {
        for (const char c : piece) exact = exact && static_cast<unsigned char>(c) == received++ % 251;
        return true;
    });
    EXPECT_TRUE(response.ok()) << response.error;
    EXPECT_EQ(received, 1u << 20);
    EXPECT_TRUE(exact);

    int pieces = 0;
    response = SendHttpRequest(Get(http + "/pattern"), [&](std::string_view) { return ++pieces < 2; });
    EXPECT_EQ(response.failure, HttpFailure::Aborted);
    response = SendHttpRequest(Get(http + "/hello"), nullptr, [](const HttpResponse& head) { return head.status != 200; });
    EXPECT_EQ(response.failure, HttpFailure::Aborted);
    EXPECT_TRUE(response.answered);

    HttpRequest silent = Get(http + "/silent");
    silent.receiveTimeout = 500ms;
    response = SendHttpRequest(silent);
    EXPECT_EQ(response.failure, HttpFailure::TimedOut) << response.error;
    response = SendHttpRequest(Get(http + "/cut"));
    EXPECT_EQ(response.failure, HttpFailure::Network) << response.error;
    EXPECT_TRUE(response.answered);
    EXPECT_EQ(SendHttpRequest(Get("ftp://127.0.0.1/x")).failure, HttpFailure::BadRequest);
    EXPECT_EQ(SendHttpRequest(Get("http://127.0.0.1:9/closed")).failure, HttpFailure::Network);
    // After all of that the thread's connections still serve.
    std::string body;
    EXPECT_TRUE(SendHttpRequest(Get(http + "/hello"), body).ok());
    CloseHttpConnections();
    EXPECT_TRUE(SendHttpRequest(Get(http + "/hello"), body).ok());
}

TEST(WinHttp, TlsIsTrustedOnlyThroughTheNamedCertificate) {
    const std::string https = Peer("LUMIVALE_PEER_HTTPS");
    std::string body;
    HttpRequest request = Get(https + "/hello");
    EXPECT_EQ(SendHttpRequest(request, body).failure, HttpFailure::Network);  // not in the system's store

    request.trustedCertificates = Peer("LUMIVALE_PEER_CA");
    HttpResponse response = SendHttpRequest(request, body);
    EXPECT_TRUE(response.ok()) << response.error;
    EXPECT_EQ(body, "hello over tls");

    request.url = https + "/refused";
    request.trustedCertificates = Peer("LUMIVALE_PEER_OTHER_CA");
    response = SendHttpRequest(request, body);
    EXPECT_EQ(response.failure, HttpFailure::Network);
    EXPECT_FALSE(response.answered);
    // Nothing of the refused request reached the peer (Wine sends it anyway once the handle closed; Windows does not).
    SendHttpRequest(Get(Peer("LUMIVALE_PEER_HTTP") + "/https-log"), body);
    if (!test::RunningUnderWine()) {
        EXPECT_EQ(body, "/hello\n");
    }

    request.trustedCertificates = "C:\\no such file.pem";
    EXPECT_EQ(SendHttpRequest(request).failure, HttpFailure::BadRequest);
}

}  // namespace
}  // namespace lumivale
