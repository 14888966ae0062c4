// The download engine against loopback servers playing the mirror and the official hosts, with
// faults on demand; its worker pool, its two file helpers and the HTTP transport under it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include "DownloadEngine.h"
#include "HttpTransport.h"
#include "Paths.h"
#include "TempHome.h"
#include "TestHttpServer.h"

namespace lumivale::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using std::chrono::milliseconds;

std::string Bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xff);
    return bytes;
}

// Every ".part" file anywhere below `root`.
std::vector<std::string> PartFiles(const fs::path& root) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().string().ends_with(".part")) found.push_back(entry.path().string());
    }
    return found;
}

// Two hosts: `official` plays the official library host, `mirror` the mirror that maps it
// under "/libraries/". Back-off waits are recorded instead of slept.
class DownloadFileTest : public ::testing::Test {
  protected:
    DownloadFileTest() {
        options.connectTimeout = 5s;
        options.receiveTimeout = 5s;
        options.wait = [this](milliseconds wait) {
            std::lock_guard lock(waitsMutex);
            waits.push_back(wait.count());
        };
        options.mirrorForm = [this](const std::string& url) {
            const std::string officialBase = official.base() + "/";
            return url.starts_with(officialBase)
                       ? mirror.base() + "/libraries/" + url.substr(officialBase.size())
                       : url;
        };
    }
    // The test thread keeps its connections for reuse; let the servers go at once.
    ~DownloadFileTest() override { CloseHttpConnections(); }

    std::string Target(const std::string& name) const { return PathUtf8(folder.root() / name); }

    bool Download(const std::string& url, const std::string& target, std::string& error) {
        return DownloadFile(url, target, error, options);
    }

    std::vector<long long> Waits() {
        std::lock_guard lock(waitsMutex);
        return waits;
    }

    TestHttpServer mirror;
    TestHttpServer official;
    TempHome folder;
    DownloadOptions options;
    std::mutex waitsMutex;
    std::vector<long long> waits;
};

TEST_F(DownloadFileTest, TheMirrorFormComesFirstAndItsBodyReplacesTheTarget) {
    const std::string body = Bytes(300 * 1024, 1);
    mirror.Serve("/libraries/org/lib/1.0/lib-1.0.jar", TestReply::Ok(body));
    official.Serve("/org/lib/1.0/lib-1.0.jar", TestReply::Ok("official"));
    const std::string target = Target("libraries/org/lib/1.0/lib-1.0.jar");

    std::string error;
    ASSERT_TRUE(Download(official.Url("/org/lib/1.0/lib-1.0.jar"), target, error)) << error;
    EXPECT_EQ(ReadFile(target), body);
    EXPECT_EQ(official.Requests().size(), 0u);
    const std::vector<TestRequest> seen = mirror.Requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_EQ(seen[0].path, "/libraries/org/lib/1.0/lib-1.0.jar");
    EXPECT_EQ(seen[0].Header("User-Agent"), "LumivaleLauncher/1.0");
    EXPECT_EQ(seen[0].Header("Accept-Encoding"), "");

    // A second download replaces what is there.
    mirror.Serve("/libraries/org/lib/1.0/lib-1.0.jar", TestReply::Ok("newer"));
    ASSERT_TRUE(Download(official.Url("/org/lib/1.0/lib-1.0.jar"), target, error)) << error;
    EXPECT_EQ(ReadFile(target), "newer");
    EXPECT_TRUE(Waits().empty());
    EXPECT_TRUE(PartFiles(folder.root()).empty());
}

TEST_F(DownloadFileTest, EachCandidateIsTriedSixTimesAtOnceMirrorFirst) {
    // A failing mirror, then the official URL.
    official.Serve("/a.jar", TestReply::Ok("from official"));
    std::string error;
    ASSERT_TRUE(Download(official.Url("/a.jar"), Target("a.jar"), error)) << error;
    EXPECT_EQ(ReadFile(Target("a.jar")), "from official");
    EXPECT_EQ(mirror.CountOf("/libraries/a.jar"), 6);
    EXPECT_EQ(official.CountOf("/a.jar"), 1);

    // Both fail: the last status is reported and the target kept.
    mirror.Serve("/libraries/b.jar", TestReply::Status(404));
    official.Serve("/b.jar", TestReply::Status(500, "broken"));
    WriteFile(Target("b.jar"), "old");
    EXPECT_FALSE(Download(official.Url("/b.jar"), Target("b.jar"), error));
    EXPECT_EQ(error, "下载返回状态 500 " + official.Url("/b.jar"));
    EXPECT_EQ(mirror.CountOf("/libraries/b.jar"), 6);
    EXPECT_EQ(official.CountOf("/b.jar"), 6);
    EXPECT_EQ(ReadFile(Target("b.jar")), "old");
    EXPECT_TRUE(PartFiles(folder.root()).empty());
    EXPECT_TRUE(Waits().empty());

    // A URL the launcher's own mirror map does not know (loopback) is tried twice over as it is.
    options.mirrorForm = nullptr;
    mirror.ClearLog();
    official.Serve("/other.jar", TestReply::Status(404));
    EXPECT_FALSE(Download(official.Url("/other.jar"), Target("other.jar"), error));
    EXPECT_EQ(official.CountOf("/other.jar"), 12);
    EXPECT_EQ(mirror.Requests().size(), 0u);
    EXPECT_EQ(error, "下载返回状态 404 " + official.Url("/other.jar"));
}

TEST_F(DownloadFileTest, BusyAnswersBackOffOneTwoFourSecondsPerCandidate) {
    mirror.ServeSequence("/libraries/a.jar", {TestReply::Status(503), TestReply::Status(429),
                                              TestReply::Status(503), TestReply::Ok("at last")});
    std::string error;
    ASSERT_TRUE(Download(official.Url("/a.jar"), Target("a.jar"), error)) << error;
    EXPECT_EQ(ReadFile(Target("a.jar")), "at last");
    EXPECT_EQ(Waits(), (std::vector<long long>{1000, 2000, 4000}));
    EXPECT_EQ(mirror.CountOf("/libraries/a.jar"), 4);
    EXPECT_EQ(official.Requests().size(), 0u);

    // A fourth busy answer is a failure; each candidate gets its own back-off.
    waits.clear();
    mirror.Serve("/libraries/b.jar", TestReply::Status(503));
    official.ServeSequence("/b.jar", {TestReply::Status(429), TestReply::Status(503)});
    EXPECT_FALSE(Download(official.Url("/b.jar"), Target("b.jar"), error));
    EXPECT_EQ(error, "下载返回状态 503 " + official.Url("/b.jar"));
    EXPECT_EQ(Waits(), (std::vector<long long>{1000, 2000, 4000, 1000, 2000, 4000}));
    EXPECT_EQ(mirror.CountOf("/libraries/b.jar"), 6);
    EXPECT_EQ(official.CountOf("/b.jar"), 6);
}

TEST_F(DownloadFileTest, WithoutAWaitOfItsOwnTheBackOffReallySleeps) {
    options.wait = nullptr;
    mirror.ServeSequence("/libraries/a.jar", {TestReply::Status(503), TestReply::Status(503),
                                              TestReply::Status(503), TestReply::Ok("done")});
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Download(official.Url("/a.jar"), Target("a.jar"), error)) << error;
    EXPECT_GE(std::chrono::steady_clock::now() - start, 6900ms);  // 1 + 2 + 4 s at least
    EXPECT_EQ(mirror.CountOf("/libraries/a.jar"), 4);
}

TEST_F(DownloadFileTest, RedirectsRelativeStayOnTheHostAbsoluteMoveToTheNewOne) {
    mirror.Serve("/libraries/a.jar", TestReply::Redirect(302, "moved/a.jar"));  // gets a "/"
    mirror.Serve("/moved/a.jar", TestReply::Redirect(307, "/final/a.jar?sig=1"));
    mirror.Serve("/final/a.jar", TestReply::Ok("redirected"));
    std::string error;
    ASSERT_TRUE(Download(official.Url("/a.jar"), Target("a.jar"), error)) << error;
    EXPECT_EQ(ReadFile(Target("a.jar")), "redirected");
    EXPECT_EQ(mirror.RequestedPaths(),
              (std::vector<std::string>{"/libraries/a.jar", "/moved/a.jar", "/final/a.jar"}));
    EXPECT_EQ(mirror.Requests().back().query, "sig=1");
    EXPECT_EQ(official.Requests().size(), 0u);

    // An absolute redirect is followed; later relative ones use the new host.
    mirror.ClearLog();
    mirror.Serve("/libraries/b.jar", TestReply::Redirect(301, official.Url("/elsewhere/b.jar")));
    official.Serve("/elsewhere/b.jar", TestReply::Redirect(308, "next.jar"));
    official.Serve("/next.jar", TestReply::Ok("next"));
    ASSERT_TRUE(Download(official.Url("/b.jar"), Target("b.jar"), error)) << error;
    EXPECT_EQ(ReadFile(Target("b.jar")), "next");
    EXPECT_EQ(mirror.RequestedPaths(), (std::vector<std::string>{"/libraries/b.jar"}));
    EXPECT_EQ(official.RequestedPaths(),
              (std::vector<std::string>{"/elsewhere/b.jar", "/next.jar"}));
}

TEST_F(DownloadFileTest, OnlyTheFiveRedirectStatusesAreFollowed) {
    for (const int status : {301, 302, 303, 307, 308}) {
        const std::string name = "/r" + std::to_string(status) + ".jar";
        mirror.Serve("/libraries" + name, TestReply::Redirect(status, "/target" + name));
        mirror.Serve("/target" + name, TestReply::Ok(std::to_string(status)));
        std::string error;
        ASSERT_TRUE(Download(official.Url(name), Target(name.substr(1)), error)) << status << error;
        EXPECT_EQ(ReadFile(Target(name.substr(1))), std::to_string(status));
    }
    for (const int status : {300, 304, 305}) {
        const std::string name = "/r" + std::to_string(status) + ".jar";
        mirror.Serve("/libraries" + name, TestReply::Redirect(status, "/target" + name));
        official.Serve(name, TestReply::Redirect(status, "/target" + name));
        std::string error;
        EXPECT_FALSE(Download(official.Url(name), Target(name.substr(1)), error));
        EXPECT_EQ(error, "下载返回状态 " + std::to_string(status) + " " + official.Url(name));
        EXPECT_EQ(mirror.CountOf("/target" + name) + official.CountOf("/target" + name), 0);
    }
    EXPECT_TRUE(Waits().empty());
}

TEST_F(DownloadFileTest, ARedirectWithoutAUsableLocationIsAFailedStatus) {
    mirror.Serve("/libraries/none.jar", TestReply::Status(302));
    official.Serve("/none.jar", TestReply::Redirect(302, ""));
    std::string error;
    EXPECT_FALSE(Download(official.Url("/none.jar"), Target("none.jar"), error));
    EXPECT_EQ(error, "下载返回状态 302 " + official.Url("/none.jar"));
    EXPECT_EQ(mirror.CountOf("/libraries/none.jar"), 6);
    EXPECT_EQ(official.CountOf("/none.jar"), 6);

    // 4095 characters still fit the Location buffer; 4096 do not.
    const std::string fits(4095, 'f');
    mirror.Serve("/libraries/fits.jar", TestReply::Redirect(302, fits));
    mirror.Serve("/" + fits, TestReply::Ok("long way"));
    ASSERT_TRUE(Download(official.Url("/fits.jar"), Target("fits.jar"), error)) << error;
    EXPECT_EQ(ReadFile(Target("fits.jar")), "long way");

    const std::string tooLong(4096, 'g');
    mirror.Serve("/libraries/long.jar", TestReply::Redirect(302, tooLong));
    mirror.Serve("/" + tooLong, TestReply::Ok("unreachable"));
    official.Serve("/long.jar", TestReply::Redirect(302, tooLong));
    EXPECT_FALSE(Download(official.Url("/long.jar"), Target("long.jar"), error));
    EXPECT_EQ(error, "下载返回状态 302 " + official.Url("/long.jar"));
    EXPECT_EQ(mirror.CountOf("/" + tooLong), 0);
}

TEST_F(DownloadFileTest, SixRedirectsInARowUseUpACandidateFiveDoNot) {
    // Mirror chain /libraries/six.jar -> /hop1 -> ... -> /hop6, where only /hop6 would answer.
    mirror.Serve("/libraries/six.jar", TestReply::Redirect(302, "/hop1"));
    for (int hop = 1; hop < 6; ++hop) {
        mirror.Serve("/hop" + std::to_string(hop),
                     TestReply::Redirect(302, "/hop" + std::to_string(hop + 1)));
    }
    mirror.Serve("/hop6", TestReply::Ok("too far"));
    official.Serve("/six.jar", TestReply::Ok("official"));
    std::string error;
    ASSERT_TRUE(Download(official.Url("/six.jar"), Target("six.jar"), error)) << error;
    EXPECT_EQ(ReadFile(Target("six.jar")), "official");
    EXPECT_EQ(mirror.CountOf("/hop6"), 0);
    EXPECT_EQ(mirror.Requests().size(), 6u);

    // Starting one hop later, the sixth attempt reaches /hop6.
    mirror.ClearLog();
    mirror.Serve("/libraries/five.jar", TestReply::Redirect(302, "/hop2"));
    ASSERT_TRUE(Download(official.Url("/five.jar"), Target("five.jar"), error)) << error;
    EXPECT_EQ(ReadFile(Target("five.jar")), "too far");
    EXPECT_EQ(official.CountOf("/five.jar"), 0);
}

TEST_F(DownloadFileTest, EmptyCutOffOrUnansweredBodiesFailAndLeaveTheTargetUntouched) {
    options.receiveTimeout = 500ms;
    const std::string body = Bytes(256 * 1024, 2);
    TestReply cut = TestReply::Ok(body);
    cut.cutAfter = 100 * 1024;
    TestReply hung = TestReply::Ok("far too late");
    hung.delay = 60s;  // ended when the server stops
    struct Case {
        const char* name;
        TestReply reply;
        bool incomplete;  // "下载内容不完整 <target>", else "请求失败 <url>"
    };
    for (const Case& c : {Case{"empty", TestReply::Ok(""), true}, Case{"cut-off", cut, true},
                          Case{"never-answers", hung, false}}) {
        SCOPED_TRACE(c.name);
        const std::string name = "/" + std::string(c.name) + ".jar";
        mirror.Serve("/libraries" + name, c.reply);
        official.Serve(name, c.reply);
        const std::string target = Target(name.substr(1));
        WriteFile(target, "previous content");
        std::string error;
        EXPECT_FALSE(Download(official.Url(name), target, error));
        EXPECT_EQ(error, c.incomplete ? "下载内容不完整 " + target : "请求失败 " + official.Url(name));
        EXPECT_EQ(ReadFile(target), "previous content");
        EXPECT_EQ(mirror.CountOf("/libraries" + name), 6);
        EXPECT_EQ(official.CountOf(name), 6);
        EXPECT_TRUE(PartFiles(folder.root()).empty());
    }

    // After a cut-off body the next attempt starts afresh.
    mirror.ServeSequence("/libraries/b.jar", {cut, TestReply::Ok(body)});
    std::string error;
    ASSERT_TRUE(Download(official.Url("/b.jar"), Target("b.jar"), error)) << error;
    EXPECT_EQ(ReadFile(Target("b.jar")), body);
    EXPECT_EQ(mirror.CountOf("/libraries/b.jar"), 2);
    EXPECT_TRUE(PartFiles(folder.root()).empty());
}

TEST_F(DownloadFileTest, ABodyThatStallsTimesOutOneThatKeepsComingSlowlyDoesNot) {
    options.receiveTimeout = 500ms;
    TestReply stalled = TestReply::Ok(Bytes(64 * 1024, 3));
    stalled.cutAfter = 10 * 1024;
    stalled.stallBeforeCut = 60s;
    mirror.Serve("/libraries/a.jar", stalled);
    // Ten pieces 100 ms apart: longer in all than the receive time-out, never silent that long.
    const std::string body = Bytes(10 * 1024, 4);
    TestReply slow = TestReply::Ok(body);
    slow.pieceSize = 1024;
    slow.pieceDelay = 100ms;
    official.Serve("/a.jar", slow);
    const std::string target = Target("a.jar");
    WriteFile(target, "previous content");

    std::string error;
    ASSERT_TRUE(Download(official.Url("/a.jar"), target, error)) << error;
    EXPECT_EQ(error, "下载内容不完整 " + target);  // left from the mirror's last attempt
    EXPECT_EQ(ReadFile(target), body);
    EXPECT_EQ(mirror.CountOf("/libraries/a.jar"), 6);
    EXPECT_EQ(official.CountOf("/a.jar"), 1);
    EXPECT_TRUE(PartFiles(folder.root()).empty());
}

TEST_F(DownloadFileTest, NoServerIsARequestFailureAnUnusableHostOrPortAConnectionFailure) {
    int closedPort = 0;
    {
        TestHttpServer gone;
        closedPort = gone.port();
    }
    options.mirrorForm = [](const std::string& url) { return url; };
    const std::string url = "http://127.0.0.1:" + std::to_string(closedPort) + "/a.jar";
    std::string error;
    EXPECT_FALSE(Download(url, Target("a.jar"), error));
    EXPECT_EQ(error, "请求失败 " + url);
    EXPECT_FALSE(fs::exists(Target("a.jar")));

    EXPECT_FALSE(Download("http://:8080/a.jar", Target("a.jar"), error));
    EXPECT_EQ(error, "无法连接 ");
    EXPECT_FALSE(Download("http://127.0.0.1:70000/a.jar", Target("a.jar"), error));
    EXPECT_EQ(error, "无法连接 127.0.0.1");
}

TEST_F(DownloadFileTest, TheRequestPathIsTheRootWhenMissingAndKeepsItsQuery) {
    options.mirrorForm = [](const std::string& url) { return url; };
    mirror.Serve("/", TestReply::Ok("root"));
    std::string error;
    ASSERT_TRUE(Download(mirror.base(), Target("root.bin"), error)) << error;
    EXPECT_EQ(ReadFile(Target("root.bin")), "root");
    EXPECT_EQ(mirror.RequestedPaths(), (std::vector<std::string>{"/"}));

    mirror.Serve("/q.jar", TestReply::Ok("query"));
    ASSERT_TRUE(Download(mirror.Url("/q.jar?sig=a%2Fb&x=1"), Target("q.jar"), error)) << error;
    EXPECT_EQ(mirror.Requests().back().query, "sig=a%2Fb&x=1");

    // A URL that does not begin with "https://" is fetched without TLS, port 80 unless named.
    mirror.Serve("/plain.jar", TestReply::Ok("plain"));
    const std::string odd = "ftp://127.0.0.1:" + std::to_string(mirror.port()) + "/plain.jar";
    ASSERT_TRUE(Download(odd, Target("plain.jar"), error)) << error;
    EXPECT_EQ(ReadFile(Target("plain.jar")), "plain");
}

TEST_F(DownloadFileTest, TemporaryFilesOrTargetsThatCannotBeWrittenAreReported) {
    mirror.Serve("/libraries/a.jar", TestReply::Ok("body"));
    official.Serve("/a.jar", TestReply::Ok("body"));
    WriteFile(folder.root() / "blocker", "a file where a folder should be");
    const std::string target = Target("blocker/a.jar");
    std::string error;
    EXPECT_FALSE(Download(official.Url("/a.jar"), target, error));
    EXPECT_TRUE(error.starts_with("无法写入文件 " + target + ".")) << error;
    EXPECT_TRUE(error.ends_with(".part")) << error;
    EXPECT_EQ(mirror.CountOf("/libraries/a.jar") + official.CountOf("/a.jar"), 12);

    // A target that cannot be replaced: reported, and the temporary file removed.
    const std::string inTheWay = Target("a.jar");
    WriteFile(fs::path(inTheWay) / "inside", "a folder is in the way");
    EXPECT_FALSE(Download(official.Url("/a.jar"), inTheWay, error));
    EXPECT_EQ(error, "无法替换目标文件 " + inTheWay + "（可能被占用）");
    EXPECT_EQ(ReadFile(fs::path(inTheWay) / "inside"), "a folder is in the way");
    EXPECT_TRUE(PartFiles(folder.root()).empty());
}

TEST_F(DownloadFileTest, ConcurrentDownloadsOfOneTargetNeverShareATemporaryFile) {
    const std::string body = Bytes(2 * 1024 * 1024, 5);
    mirror.Serve("/libraries/same.jar", TestReply::Ok(body));
    const std::string target = Target("same.jar");
    const int stored = RunParallel(16, 8, [&](int) {
        std::string error;
        return DownloadFile(official.Url("/same.jar"), target, error, options);
    });
    EXPECT_EQ(stored, 16);
    // Each download needed exactly one request: no attempt lost its file to another thread.
    EXPECT_EQ(mirror.CountOf("/libraries/same.jar"), 16);
    EXPECT_EQ(official.Requests().size(), 0u);
    EXPECT_EQ(ReadFile(target), body);
    EXPECT_TRUE(PartFiles(folder.root()).empty());
}

TEST_F(DownloadFileTest, APoolOfWorkersFetchesManyFilesOverKeptConnections) {
    constexpr int kFiles = 300;
    constexpr int kWorkers = 16;
    for (int i = 0; i < kFiles; ++i) {
        mirror.Serve("/libraries/f" + std::to_string(i),
                     TestReply::Ok(Bytes(1000 + 37 * i, 100 + i)));
    }
    std::mutex doneMutex;
    std::set<int> done;
    const int stored = RunParallel(
        kFiles, kWorkers,
        [&](int i) {
            std::string error;
            return DownloadFile(official.Url("/f" + std::to_string(i)),
                                Target("pool/" + std::to_string(i % 7) + "/f" + std::to_string(i)),
                                error, options);
        },
        [&](int i, bool ok) {
            if (ok) done.insert(i);
        });
    ASSERT_EQ(stored, kFiles);
    EXPECT_EQ(done.size(), static_cast<std::size_t>(kFiles));
    for (int i = 0; i < kFiles; i += 13) {
        EXPECT_EQ(ReadFile(Target("pool/" + std::to_string(i % 7) + "/f" + std::to_string(i))),
                  Bytes(1000 + 37 * i, 100 + i));
    }
    std::set<int> connections;
    for (const TestRequest& request : mirror.Requests()) connections.insert(request.remotePort);
    EXPECT_EQ(mirror.Requests().size(), static_cast<std::size_t>(kFiles));
    // About one connection per worker (a few more when the server closes an idle one).
    EXPECT_LE(connections.size(), static_cast<std::size_t>(kFiles / 4));

    // One thread downloading one file after another keeps using its connection.
    mirror.ClearLog();
    std::string error;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(Download(official.Url("/f" + std::to_string(i)), Target("seq"), error))
            << error;
    }
    connections.clear();
    for (const TestRequest& request : mirror.Requests()) connections.insert(request.remotePort);
    EXPECT_LE(connections.size(), 2u);
}

// The same rules over TLS, with a certificate the download is told to trust.
class SecureDownloadTest : public ::testing::Test {
  protected:
    SecureDownloadTest()
        : certificate(TestCertificate::Create(folder.root() / "tls")), secure(certificate) {
        options.receiveTimeout = 5s;
        options.wait = [](milliseconds) {};
        options.mirrorForm = [](const std::string& url) { return url; };
        options.trustedCertificates = certificate.certificateFile.string();
    }
    ~SecureDownloadTest() override { CloseHttpConnections(); }

    TempHome folder;
    TestCertificate certificate;
    TestHttpServer secure;
    TestHttpServer plain;
    DownloadOptions options;
};

TEST_F(SecureDownloadTest, RedirectsKeepOrLeaveTlsAndAnUntrustedCertificateFails) {
    // A relative redirect keeps TLS, host and port.
    secure.Serve("/a.jar", TestReply::Redirect(302, "b/c.jar"));
    secure.Serve("/b/c.jar", TestReply::Ok("secure body"));
    const std::string target = PathUtf8(folder.root() / "c.jar");
    std::string error;
    ASSERT_TRUE(DownloadFile(secure.Url("/a.jar"), target, error, options)) << error;
    EXPECT_EQ(ReadFile(target), "secure body");
    EXPECT_EQ(secure.RequestedPaths(), (std::vector<std::string>{"/a.jar", "/b/c.jar"}));
    EXPECT_EQ(plain.Requests().size(), 0u);

    // An absolute http:// location leaves TLS.
    secure.Serve("/p.jar", TestReply::Redirect(301, plain.Url("/plain.jar")));
    plain.Serve("/plain.jar", TestReply::Ok("plain body"));
    const std::string plainTarget = PathUtf8(folder.root() / "plain.jar");
    ASSERT_TRUE(DownloadFile(secure.Url("/p.jar"), plainTarget, error, options)) << error;
    EXPECT_EQ(ReadFile(plainTarget), "plain body");
    EXPECT_EQ(plain.RequestedPaths(), (std::vector<std::string>{"/plain.jar"}));

    // The system's store does not know the test's certificate.
    options.trustedCertificates.clear();
    CloseHttpConnections();  // no kept TLS connection may stand in for a new handshake
    secure.ClearLog();
    const std::string untrusted = PathUtf8(folder.root() / "u.jar");
    EXPECT_FALSE(DownloadFile(secure.Url("/a.jar"), untrusted, error, options));
    EXPECT_EQ(error, "请求失败 " + secure.Url("/a.jar"));
    EXPECT_EQ(secure.Requests().size(), 0u);
    EXPECT_FALSE(fs::exists(untrusted));
    EXPECT_TRUE(PartFiles(folder.root()).empty());
}

// Waits until `count` calls are inside at once, or gives up after a generous while; records the
// most that were ever inside together.
class Gate {
  public:
    explicit Gate(int count) : count_(count) {}
    void Pass() {
        std::unique_lock lock(mutex_);
        ++inside_;
        most_ = std::max(most_, inside_);
        changed_.notify_all();
        changed_.wait_for(lock, 10s, [this] { return most_ >= count_; });
        --inside_;
    }
    int most() {
        std::lock_guard lock(mutex_);
        return most_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    const int count_;
    int inside_ = 0;
    int most_ = 0;
};

TEST(RunParallel, CountsTrueResultsAndTreatsThrowingWorkAsFalse) {
    // Nothing to do: zero, and nothing is called.
    int calls = 0;
    auto countCall = [&](int) { return ++calls > 0; };
    EXPECT_EQ(RunParallel(0, 4, countCall, [&](int, bool) { ++calls; }), 0);
    EXPECT_EQ(RunParallel(-3, 4, countCall), 0);
    EXPECT_EQ(RunParallel(5, 4, nullptr, [&](int, bool) { ++calls; }), 0);
    EXPECT_EQ(calls, 0);

    constexpr int kItems = 200;
    std::vector<int> completed(kItems, 0);
    std::vector<int> reported(kItems, -1);
    std::atomic<bool> inCompletion{false};
    std::atomic<bool> overlapped{false};
    const int succeeded = RunParallel(
        kItems, 8,
        [](int i) {
            if (i % 3 == 1) throw std::runtime_error("work failed");
            return i % 3 == 0;
        },
        [&](int i, bool ok) {
            if (inCompletion.exchange(true)) overlapped = true;
            std::this_thread::sleep_for(100us);
            ++completed[i];
            reported[i] = ok ? 1 : 0;
            inCompletion = false;
            if (i % 5 == 0) throw std::runtime_error("completion failed");  // swallowed
        });
    EXPECT_EQ(succeeded, 67);
    EXPECT_FALSE(overlapped);
    for (int i = 0; i < kItems; ++i) {
        EXPECT_EQ(completed[i], 1) << i;
        EXPECT_EQ(reported[i], i % 3 == 0 ? 1 : 0) << i;
    }
}

// Runs `items` items on `workers` workers, each waiting at a gate for `expected` to be inside;
// returns the most that ever ran at once and the threads used.
int MostAtOnce(int items, int workers, int expected, std::set<std::thread::id>& ids) {
    Gate gate(expected);
    std::mutex idsMutex;
    const int succeeded = RunParallel(items, workers, [&](int) {
        {
            std::lock_guard lock(idsMutex);
            ids.insert(std::this_thread::get_id());
        }
        gate.Pass();
        return true;
    });
    EXPECT_EQ(succeeded, items);
    return gate.most();
}

TEST(RunParallel, ThreadCountFollowsWorkersAndItemsAndTheCallerTakesPart) {
    // Never more threads than items; the caller is one of them.
    std::set<std::thread::id> ids;
    EXPECT_EQ(MostAtOnce(3, 64, 3, ids), 3);
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_EQ(ids.count(std::this_thread::get_id()), 1u);
    // Eight threads when the worker count is below one.
    for (const int workers : {0, -4}) EXPECT_EQ(MostAtOnce(40, workers, 8, ids), 8) << workers;
    EXPECT_EQ(MostAtOnce(40, 5, 5, ids), 5);

    // One worker takes the items in order on the calling thread.
    std::vector<int> order;
    ids.clear();
    EXPECT_EQ(RunParallel(6, 1,
                          [&](int i) {
                              order.push_back(i);
                              ids.insert(std::this_thread::get_id());
                              return true;
                          }),
              6);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(ids, (std::set<std::thread::id>{std::this_thread::get_id()}));
}

TEST(DownloadFileHelpers, ParentFoldersAreMadeFailuresIgnoredOnlyFilesWithContentCount) {
    TempHome folder;
    const fs::path deep = folder.root() / "a" / "b" / "c";
    EnsureParentDirectories(PathUtf8(deep / "file.jar"));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_FALSE(fs::exists(deep / "file.jar"));
    EnsureParentDirectories(PathUtf8(deep / "again.jar"));  // all there already
    EXPECT_TRUE(fs::is_directory(deep));

    WriteFile(folder.root() / "plain", "x");
    EnsureParentDirectories(PathUtf8(folder.root() / "plain" / "sub" / "file.jar"));  // no throw
    EXPECT_TRUE(fs::is_regular_file(folder.root() / "plain"));

    const fs::path before = fs::current_path();
    fs::current_path(folder.root());
    EnsureParentDirectories("lonely.jar");
    EnsureParentDirectories("rel/dir/file.jar");
    fs::current_path(before);
    EXPECT_TRUE(fs::is_directory(folder.root() / "rel" / "dir"));
    EXPECT_FALSE(fs::exists(folder.root() / "lonely.jar"));

    EXPECT_FALSE(FileIsNonEmpty(PathUtf8(folder.root() / "missing")));
    EXPECT_FALSE(FileIsNonEmpty(PathUtf8(folder.root())));
    WriteFile(folder.root() / "empty", "");
    EXPECT_FALSE(FileIsNonEmpty(PathUtf8(folder.root() / "empty")));
    WriteFile(folder.root() / "one", "1");
    EXPECT_TRUE(FileIsNonEmpty(PathUtf8(folder.root() / "one")));
}

TEST(HttpTransport, SendsMethodHeadersAndBodyAndNeverFollowsRedirects) {
    TestHttpServer server;
    server.Handle("/echo", [](const TestRequest& request) {
        TestReply reply = TestReply::Status(
            201, request.method + "|" + request.Header("X-Token") + "|" + request.body);
        reply.headers.emplace_back("X-Answer", "yes");
        return reply;
    });
    server.Serve("/moved", TestReply::Redirect(302, "/echo"));

    HttpRequest post;
    post.method = "POST";
    post.url = server.Url("/echo");
    post.headers.push_back({"X-Token", "abc"});
    post.headers.push_back({"Content-Type", "application/json"});
    post.body = R"({"k":1})";
    std::string body;
    HttpResponse response = SendHttpRequest(post, body);
    ASSERT_TRUE(response.ok()) << response.error;
    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(body, R"(POST|abc|{"k":1})");
    EXPECT_EQ(response.Header("x-answer").value_or(""), "yes");
    EXPECT_FALSE(response.Header("X-Missing").has_value());

    HttpRequest get;
    get.url = server.Url("/moved");
    response = SendHttpRequest(get, body);
    ASSERT_TRUE(response.ok()) << response.error;
    EXPECT_EQ(response.status, 302);
    EXPECT_EQ(response.Header("Location").value_or(""), "/echo");
    EXPECT_EQ(server.CountOf("/echo"), 1);
    CloseHttpConnections();
}

TEST(HttpTransport, TheReceiverCanStopATransferAtTheHeadOrInTheBody) {
    TestHttpServer server;
    const std::string big = Bytes(1024 * 1024, 6);
    server.Serve("/big", TestReply::Ok(big));
    HttpRequest request;
    request.url = server.Url("/big");

    int pieces = 0;
    HttpResponse response = SendHttpRequest(
        request, [&](std::string_view) { return ++pieces > 0; },
        [](const HttpResponse& head) { return head.status != 200; });
    EXPECT_EQ(response.failure, HttpFailure::Aborted);
    EXPECT_TRUE(response.answered);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(pieces, 0);

    std::size_t received = 0;
    response = SendHttpRequest(request, [&](std::string_view piece) {
        received += piece.size();
        return received < 100 * 1024;
    });
    EXPECT_EQ(response.failure, HttpFailure::Aborted);
    EXPECT_LT(received, big.size());

    // The stopped transfers cost their connections, not the thread's ability to go on.
    std::string body;
    response = SendHttpRequest(request, body);
    ASSERT_TRUE(response.ok()) << response.error;
    EXPECT_EQ(body, big);
    CloseHttpConnections();
}

}  // namespace
}  // namespace lumivale::test
