// The download engine against loopback servers playing the mirror and official hosts, with faults.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "DownloadEngine.h"
#include "HttpTransport.h"
#include "Paths.h"
#include "TempHome.h"
#include "TestHttpServer.h"
#include "TestJava.h"

namespace lumivale::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool NoPartFiles(const fs::path& root) {
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().string().ends_with(".part")) return false;
    }
    return true;
}

// `official` plays the official library host, `mirror` the mirror that serves it under
// "/libraries/"; back-off waits are recorded instead of slept.
class DownloadFileTest : public ::testing::Test {
  protected:
    DownloadFileTest() {
        options.connectTimeout = options.receiveTimeout = 5s;
        options.wait = [this](std::chrono::milliseconds wait) { waits.push_back(wait.count()); };
        options.mirrorForm = [this](const std::string& url) {
            const std::string base = official.base() + "/";
            return url.starts_with(base) ? mirror.Url("/libraries/" + url.substr(base.size())) : url;
        };
    }
    // The test thread keeps its connections for reuse; let the servers go at once.
    ~DownloadFileTest() override { CloseHttpConnections(); }

    std::string Target(const std::string& name) const { return PathUtf8(folder.root() / name); }
    // official.Url(path) into Target(path).
    bool Download(const std::string& path) {
        return DownloadFile(official.Url(path), Target(path.substr(1)), error, options);
    }

    TestHttpServer mirror;
    TestHttpServer official;
    TempHome folder;
    DownloadOptions options;
    std::vector<long long> waits;
    std::string error;
};

TEST_F(DownloadFileTest, TheMirrorFormComesFirstThenTheUrlEachSixTimesAndFailuresKeepTheTarget) {
    const std::string body = RandomBytes(300 * 1024, 1);
    mirror.Serve("/libraries/org/lib/a.jar", TestReply::Ok(body));
    official.Serve("/org/lib/a.jar", TestReply::Ok("official"));
    const std::string target = Target("org/lib/a.jar");
    ASSERT_TRUE(Download("/org/lib/a.jar")) << error;
    EXPECT_EQ(ReadFile(target), body);
    EXPECT_EQ(official.Requests().size() + mirror.Requests().size(), 1u);
    EXPECT_EQ(mirror.Requests().at(0).Header("User-Agent"), "LumivaleLauncher/1.0");
    EXPECT_EQ(mirror.Requests().at(0).Header("Accept-Encoding"), "");

    // A failing mirror: the URL itself, whose body replaces the target.
    mirror.Serve("/libraries/org/lib/a.jar", TestReply::Status(404));
    ASSERT_TRUE(Download("/org/lib/a.jar")) << error;
    EXPECT_EQ(ReadFile(target), "official");
    EXPECT_EQ(mirror.CountOf("/libraries/org/lib/a.jar"), 1 + 6);
    EXPECT_EQ(official.CountOf("/org/lib/a.jar"), 1);

    // Both fail: the last status is reported and the target kept.
    official.Serve("/org/lib/a.jar", TestReply::Status(500, "broken"));
    EXPECT_FALSE(Download("/org/lib/a.jar"));
    EXPECT_EQ(error, "下载返回状态 500 " + official.Url("/org/lib/a.jar"));
    EXPECT_EQ(official.CountOf("/org/lib/a.jar"), 1 + 6);
    EXPECT_EQ(ReadFile(target), "official");
    EXPECT_TRUE(NoPartFiles(folder.root()));
    EXPECT_TRUE(waits.empty());
}

TEST_F(DownloadFileTest, BusyAnswersBackOffOneTwoFourSecondsPerCandidate) {
    mirror.ServeSequence("/libraries/a.jar", {TestReply::Status(503), TestReply::Status(429),
                                              TestReply::Status(503), TestReply::Ok("at last")});
    ASSERT_TRUE(Download("/a.jar")) << error;
    EXPECT_EQ(ReadFile(Target("a.jar")), "at last");
    EXPECT_EQ(waits, (std::vector<long long>{1000, 2000, 4000}));
    EXPECT_EQ(official.Requests().size(), 0u);

    // A fourth busy answer is a failure; each candidate gets its own back-off.
    waits.clear();
    mirror.Serve("/libraries/b.jar", TestReply::Status(503));
    official.ServeSequence("/b.jar", {TestReply::Status(429), TestReply::Status(503)});
    EXPECT_FALSE(Download("/b.jar"));
    EXPECT_EQ(error, "下载返回状态 503 " + official.Url("/b.jar"));
    EXPECT_EQ(waits, (std::vector<long long>{1000, 2000, 4000, 1000, 2000, 4000}));
    EXPECT_EQ(mirror.CountOf("/libraries/b.jar") + official.CountOf("/b.jar"), 12);

    // Without a wait of its own the back-off really sleeps (a lower bound only: one second, however
    // busy the machine).
    options.wait = nullptr;
    mirror.ServeSequence("/libraries/c.jar", {TestReply::Status(503), TestReply::Ok("done")});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Download("/c.jar")) << error;
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(DownloadFileTest, RedirectsAreFollowedHopByHopWithinTheAttemptsOfACandidate) {
    mirror.Serve("/libraries/a.jar", TestReply::Redirect(302, "moved/a.jar"));  // gets a "/"
    mirror.Serve("/moved/a.jar", TestReply::Redirect(307, "/final/a.jar?sig=1"));
    mirror.Serve("/final/a.jar", TestReply::Redirect(303, "/last/a.jar"));
    mirror.Serve("/last/a.jar", TestReply::Redirect(301, official.Url("/elsewhere/a.jar")));
    official.Serve("/elsewhere/a.jar", TestReply::Redirect(308, "next.jar"));  // on the new host
    official.Serve("/next.jar", TestReply::Ok("redirected"));  // the sixth and last attempt
    ASSERT_TRUE(Download("/a.jar")) << error;
    EXPECT_EQ(ReadFile(Target("a.jar")), "redirected");
    EXPECT_EQ(mirror.RequestedPaths(),
              (std::vector<std::string>{"/libraries/a.jar", "/moved/a.jar", "/final/a.jar", "/last/a.jar"}));
    EXPECT_EQ(mirror.Requests()[2].query, "sig=1");
    EXPECT_EQ(official.RequestedPaths(), (std::vector<std::string>{"/elsewhere/a.jar", "/next.jar"}));

    // Every hop is an attempt: a redirect loop uses up the mirror, and the URL itself is next.
    mirror.Serve("/libraries/loop.jar", TestReply::Redirect(302, "/libraries/loop.jar"));
    official.Serve("/loop.jar", TestReply::Ok("official"));
    ASSERT_TRUE(Download("/loop.jar")) << error;
    EXPECT_EQ(mirror.CountOf("/libraries/loop.jar"), 6);

    // A missing or empty Location, one too long for its 4096-character buffer, or another 3xx
    // status is a failure.
    const std::string tooLong(4096, 'g');
    mirror.Serve("/" + tooLong, TestReply::Ok("unreachable"));
    mirror.Serve("/to", TestReply::Ok("unreachable"));
    for (const TestReply& reply : {TestReply::Status(302), TestReply::Redirect(302, ""), TestReply::Redirect(302, tooLong),
                                   TestReply::Redirect(300, "/to"), TestReply::Redirect(304, "/to")}) {
        mirror.Serve("/libraries/none.jar", reply);
        official.Serve("/none.jar", reply);
        EXPECT_FALSE(Download("/none.jar"));
        EXPECT_EQ(error, "下载返回状态 " + std::to_string(reply.status) + " " + official.Url("/none.jar"));
    }
    EXPECT_EQ(mirror.CountOf("/to"), 0);
    EXPECT_EQ(mirror.CountOf("/" + tooLong), 0);
    EXPECT_TRUE(waits.empty());
}

TEST_F(DownloadFileTest, EmptyOrCutOffBodiesFailAndLeaveTheTargetUntouched) {
    const std::string body = RandomBytes(256 * 1024, 2);
    TestReply cut = TestReply::Ok(body);
    cut.cutAfter = 100 * 1024;
    const std::string target = Target("a.jar");
    for (const TestReply& reply : {TestReply::Ok(""), cut}) {
        mirror.Serve("/libraries/a.jar", reply);
        official.Serve("/a.jar", reply);
        WriteFile(target, "previous content");
        EXPECT_FALSE(Download("/a.jar"));
        EXPECT_EQ(error, "下载内容不完整 " + target);
        EXPECT_EQ(ReadFile(target), "previous content");
        EXPECT_TRUE(NoPartFiles(folder.root()));
    }
    EXPECT_EQ(official.CountOf("/a.jar"), 12);
}

TEST_F(DownloadFileTest, SilenceBeforeOrWithinTheBodyTimesOutAndIsRetriedASlowBodyIsNot) {
    options.receiveTimeout = 500ms;
    TestReply hung = TestReply::Ok("far too late");
    hung.delay = 60s;  // ended when the server stops
    TestReply stalled = TestReply::Ok(RandomBytes(64 * 1024, 3));
    stalled.cutAfter = 10 * 1024;
    stalled.stallBeforeCut = 60s;
    // Eight pieces 100 ms apart: longer in all than the time-out, never silent that long.
    const std::string body = RandomBytes(8 * 1024, 4);
    TestReply slow = TestReply::Ok(body);
    slow.pieceSize = 1024;
    slow.pieceDelay = 100ms;
    mirror.ServeSequence("/libraries/a.jar", {hung, stalled, slow});
    WriteFile(Target("a.jar"), "previous content");
    ASSERT_TRUE(Download("/a.jar")) << error;
    EXPECT_EQ(ReadFile(Target("a.jar")), body);
    EXPECT_EQ(mirror.CountOf("/libraries/a.jar"), 3);
    EXPECT_EQ(official.Requests().size(), 0u);
    EXPECT_TRUE(NoPartFiles(folder.root()));
}

TEST_F(DownloadFileTest, TemporaryFilesOrTargetsThatCannotBeWrittenAreReported) {
    mirror.Serve("/libraries/a.jar", TestReply::Ok("body"));
    official.Serve("/a.jar", TestReply::Ok("body"));
    WriteFile(folder.root() / "blocker", "a file where a folder should be");
    const std::string target = Target("blocker/a.jar");
    EXPECT_FALSE(DownloadFile(official.Url("/a.jar"), target, error, options));
    EXPECT_TRUE(error.starts_with("无法写入文件 " + target + ".") && error.ends_with(".part")) << error;
    EXPECT_EQ(mirror.CountOf("/libraries/a.jar") + official.CountOf("/a.jar"), 12);

    // A target that cannot be replaced: reported, and the temporary file removed.
    WriteFile(folder.root() / "a.jar" / "inside", "a folder is in the way");
    EXPECT_FALSE(Download("/a.jar"));
    EXPECT_EQ(error, "无法替换目标文件 " + Target("a.jar") + "（可能被占用）");
    EXPECT_EQ(ReadFile(folder.root() / "a.jar" / "inside"), "a folder is in the way");
    EXPECT_TRUE(NoPartFiles(folder.root()));
}

TEST_F(DownloadFileTest, ConcurrentDownloadsOfOneTargetNeverShareATemporaryFile) {
    const std::string body = RandomBytes(2 << 20, 5);
    mirror.Serve("/libraries/same.jar", TestReply::Ok(body));
    EXPECT_EQ(RunParallel(16, 8, [&](int) {
                  std::string failure;
                  return DownloadFile(official.Url("/same.jar"), Target("same.jar"), failure, options);
              }),
              16);
    // One request each: no attempt lost its temporary file to another thread.
    EXPECT_EQ(mirror.CountOf("/libraries/same.jar"), 16);
    EXPECT_EQ(ReadFile(Target("same.jar")), body);
    EXPECT_TRUE(NoPartFiles(folder.root()));
}

// The same rules over TLS, with a certificate the download is told to trust.
// A header value with a line break could smuggle another header (or a whole request) along.
TEST(HttpRequests, HeadersThatCouldSmuggleOthersAreRefusedBeforeAnythingIsSent) {
    TestHttpServer server;
    server.Serve("/x", TestReply::Ok("fine"));
    for (const HttpHeader& header : {HttpHeader{"X-Token", "a\r\nX-Admin: 1"}, HttpHeader{"X-Token", "a\nb"},
                                     HttpHeader{"X-Bad Name", "v"}, HttpHeader{"X-A:B", "v"}, HttpHeader{"", "v"}}) {
        HttpRequest request;
        request.url = server.Url("/x");
        request.headers = {header};
        std::string body;
        EXPECT_EQ(SendHttpRequest(request, body).failure, HttpFailure::BadRequest) << header.name << header.value;
    }
    EXPECT_EQ(server.CountOf("/x"), 0);
    HttpRequest fine;
    fine.url = server.Url("/x");
    fine.headers = {{"X-Token", "a b\tc"}, {"X-Empty", ""}};
    std::string body;
    EXPECT_TRUE(SendHttpRequest(fine, body).ok());
    EXPECT_EQ(server.Requests().back().Header("X-Token"), "a b\tc");
    CloseHttpConnections();
}

TEST(SecureDownload, RedirectsKeepOrLeaveTlsAndAnUntrustedCertificateFails) {
    TempHome folder;
    const TestCertificate certificate = TestCertificate::Create(folder.root() / "tls");
    TestHttpServer secure(certificate);
    TestHttpServer plain;
    DownloadOptions options;
    options.mirrorForm = [](const std::string& url) { return url; };
    options.trustedCertificates = certificate.certificateFile.string();
    // A relative redirect keeps TLS, host and port; an absolute http:// one leaves TLS.
    secure.Serve("/a.jar", TestReply::Redirect(302, "b/c.jar"));
    secure.Serve("/b/c.jar", TestReply::Redirect(301, plain.Url("/plain.jar")));
    plain.Serve("/plain.jar", TestReply::Ok("plain body"));
    std::string error;
    ASSERT_TRUE(DownloadFile(secure.Url("/a.jar"), PathUtf8(folder.root() / "c.jar"), error, options)) << error;
    EXPECT_EQ(ReadFile(PathUtf8(folder.root() / "c.jar")), "plain body");
    EXPECT_EQ(secure.RequestedPaths(), (std::vector<std::string>{"/a.jar", "/b/c.jar"}));

    // The system's store does not know the test's certificate.
    options.trustedCertificates.clear();
    CloseHttpConnections();  // no kept TLS connection may stand in for a new handshake
    secure.ClearLog();
    EXPECT_FALSE(DownloadFile(secure.Url("/a.jar"), PathUtf8(folder.root() / "u.jar"), error, options));
    EXPECT_EQ(error, "请求失败 " + secure.Url("/a.jar"));
    EXPECT_EQ(secure.Requests().size(), 0u);
    EXPECT_FALSE(fs::exists(folder.root() / "u.jar") || !NoPartFiles(folder.root()));
    CloseHttpConnections();
}

}  // namespace
}  // namespace lumivale::test
