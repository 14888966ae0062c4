// The download engine against loopback servers playing the mirror and official hosts, with faults.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>

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

// `official` plays the official host, `mirror` serves it under "/libraries/"; back-off waits are recorded.
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

    // Without a wait of its own the back-off really sleeps (a lower bound only).
    options.wait = nullptr;
    mirror.ServeSequence("/libraries/c.jar", {TestReply::Status(503), TestReply::Ok("done")});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Download("/c.jar")) << error;
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(DownloadFileTest, RedirectsAreFollowedWithinOneAttemptAndEachAttemptStartsAtTheCandidate) {
    mirror.Serve("/libraries/a.jar", TestReply::Redirect(302, "moved/a.jar"));  // beside the answering path
    mirror.Serve("/libraries/moved/a.jar", TestReply::Redirect(307, "/final/a.jar?sig=1"));
    mirror.Serve("/final/a.jar", TestReply::Redirect(303, "../last/./a.jar#part"));
    mirror.Serve("/last/a.jar", TestReply::Redirect(301, official.Url("/elsewhere/a.jar")));
    official.Serve("/elsewhere/a.jar", TestReply::Redirect(308, "next.jar"));  // on the new host
    official.Serve("/elsewhere/next.jar", TestReply::Redirect(302, "//127.0.0.1:" + std::to_string(mirror.port()) + "/x/y.jar"));
    mirror.Serve("/x/y.jar", TestReply::Ok("redirected"));  // the seventh hop: more hops than attempts
    ASSERT_TRUE(Download("/a.jar")) << error;
    EXPECT_EQ(ReadFile(Target("a.jar")), "redirected");
    EXPECT_EQ(mirror.RequestedPaths(), (std::vector<std::string>{"/libraries/a.jar", "/libraries/moved/a.jar",
                                                                 "/final/a.jar", "/last/a.jar", "/x/y.jar"}));
    EXPECT_EQ(mirror.Requests()[2].query, "sig=1");
    EXPECT_EQ(official.RequestedPaths(), (std::vector<std::string>{"/elsewhere/a.jar", "/elsewhere/next.jar"}));

    // A bad node behind the mirror does not use the mirror up: every attempt asks the mirror again.
    mirror.Serve("/libraries/b.jar", TestReply::Redirect(302, "/node/b.jar"));
    mirror.Serve("/node/b.jar", TestReply::Status(500));
    official.Serve("/b.jar", TestReply::Ok("official"));
    ASSERT_TRUE(Download("/b.jar")) << error;
    EXPECT_EQ(mirror.CountOf("/libraries/b.jar"), 6);
    EXPECT_EQ(mirror.CountOf("/node/b.jar"), 6);

    // A redirect loop ends its candidate after eight hops, and the URL itself is next.
    mirror.Serve("/libraries/loop.jar", TestReply::Redirect(302, "/libraries/loop.jar"));
    official.Serve("/loop.jar", TestReply::Ok("official"));
    ASSERT_TRUE(Download("/loop.jar")) << error;
    EXPECT_EQ(mirror.CountOf("/libraries/loop.jar"), 1 + 8);

    // A missing, empty or over-long (4096) Location, or another 3xx status, is a failure.
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

TEST_F(DownloadFileTest, AnAddressIsAskedOneAttemptBudgetAndAFileThatGetsNothingEndsAtItsDeadline) {
    // An address the mirror map leaves as it is is one candidate: six requests, not twelve.
    mirror.Serve("/own.jar", TestReply::Status(500));
    EXPECT_FALSE(DownloadFile(mirror.Url("/own.jar"), Target("own.jar"), error, options));
    EXPECT_EQ(error, "下载返回状态 500 " + mirror.Url("/own.jar"));
    EXPECT_EQ(mirror.CountOf("/own.jar"), 6);

    // Silence everywhere: the file ends at its deadline, remaining attempts and candidates unused.
    options.receiveTimeout = 300ms;
    options.deadline = 600ms;
    TestReply hung = TestReply::Ok("far too late");
    hung.delay = 60s;
    mirror.Serve("/libraries/hung.jar", hung);
    official.Serve("/hung.jar", hung);
    EXPECT_FALSE(Download("/hung.jar"));
    EXPECT_EQ(error, "下载超时（1 秒内没有收到数据）" + mirror.Url("/libraries/hung.jar"));
    EXPECT_LE(mirror.CountOf("/libraries/hung.jar"), 2);
    EXPECT_EQ(official.CountOf("/hung.jar"), 0);

    // A body that keeps coming outlasts the deadline: each piece moves it on.
    options.receiveTimeout = options.deadline = 1s;
    const std::string body = RandomBytes(15 * 1024, 6);
    TestReply slow = TestReply::Ok(body);
    slow.pieceSize = 1024;
    slow.pieceDelay = 100ms;
    mirror.Serve("/libraries/slow.jar", slow);
    ASSERT_TRUE(Download("/slow.jar")) << error;
    EXPECT_EQ(ReadFile(Target("slow.jar")), body);
    EXPECT_EQ(mirror.CountOf("/libraries/slow.jar"), 1);
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

TEST_F(DownloadFileTest, ABatchReportsEveryFileOnceAndACancelledBatchLeavesNoPartFiles) {
    std::vector<DownloadItem> items;
    std::vector<std::string> bodies;
    for (int i = 0; i < 150; ++i) {
        const std::string path = "/lib/" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".jar";
        const std::string& body = bodies.emplace_back(RandomBytes(100 + i * 37, i));
        mirror.Serve("/libraries" + path, i == 42 ? TestReply::Status(404) : TestReply::Ok(body));
        if (i == 42 || i == 7) official.Serve(path, TestReply::Ok(body));
        items.push_back({official.Url(path), Target(path.substr(1)), i == 7 ? ExpectedFile{Sha1OfBytes("other"), -1}
                                                                            : ExpectedFile{Sha1OfBytes(body), -1}});
    }
    options.parallel = 16;
    std::map<int, std::string> ended;  // index -> error
    int reports = 0;
    EXPECT_EQ(DownloadFiles(items, options,
                            [&](int i, bool stored, const std::string& failure) {
                                ++reports;
                                if (!stored) ended[i] = failure;
                            }),
              149);
    EXPECT_EQ(reports, 150);
    EXPECT_EQ(ended, (std::map<int, std::string>{{7, kDownloadMismatchMessage + items[7].target}}));
    for (const int i : {0, 42, 149}) EXPECT_EQ(ReadFile(items[i].target), bodies[i]);
    EXPECT_FALSE(fs::exists(items[7].target));
    EXPECT_TRUE(NoPartFiles(folder.root()));

    // Four bodies that stall half way: cancelling stops them and removes their temporary files.
    TestReply stalled = TestReply::Ok(RandomBytes(64 * 1024, 7));
    stalled.cutAfter = 1024;
    stalled.stallBeforeCut = 60s;
    std::vector<DownloadItem> stalling;
    for (int i = 0; i < 6; ++i) {
        mirror.Serve("/libraries/s" + std::to_string(i), stalled);
        stalling.push_back({official.Url("/s" + std::to_string(i)), Target("stall/s" + std::to_string(i)), {}});
    }
    options.parallel = 4;
    const auto partFiles = [&] {
        int count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(folder.root() / "stall"))
            count += entry.path().extension() == ".part";
        return count;
    };
    reports = 0;
    EXPECT_EQ(DownloadFiles(stalling, options, [&](int, bool, const std::string&) { ++reports; },
                            [&] { return fs::exists(folder.root() / "stall") && partFiles() == 4; }),
              0);
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(partFiles(), 0);
    EXPECT_EQ(mirror.CountOf("/libraries/s4") + mirror.CountOf("/libraries/s5"), 0);
}

TEST(SecureDownload, RedirectsKeepOrLeaveTlsAndAnUntrustedCertificateFails) {
    TempHome folder;
    const TestCertificate certificate = TestCertificate::Create(folder.root() / "tls");
    TestHttpServer secure(certificate);
    TestHttpServer plain;
    DownloadOptions options;
    options.mirrorForm = [](const std::string& url) { return url; };
    options.trustedCertificates = certificate.certificateFile.string();
    // A relative redirect keeps TLS, host and port; one to plain http:// is refused.
    secure.Serve("/a.jar", TestReply::Redirect(302, "b/c.jar"));
    secure.Serve("/b/c.jar", TestReply::Redirect(301, plain.Url("/plain.jar")));
    plain.Serve("/plain.jar", TestReply::Ok("plain body"));
    std::string error;
    EXPECT_FALSE(DownloadFile(secure.Url("/a.jar"), PathUtf8(folder.root() / "c.jar"), error, options));
    EXPECT_EQ(error, kRedirectRefusedMessage + plain.Url("/plain.jar"));
    EXPECT_EQ(plain.CountOf("/plain.jar"), 0);
    EXPECT_EQ(secure.CountOf("/b/c.jar"), 6);
    EXPECT_FALSE(fs::exists(folder.root() / "c.jar"));

    // From plain http:// up to https:// is followed.
    plain.Serve("/up.jar", TestReply::Redirect(301, secure.Url("/b/secure.jar")));
    secure.Serve("/b/secure.jar", TestReply::Ok("secure body"));
    ASSERT_TRUE(DownloadFile(plain.Url("/up.jar"), PathUtf8(folder.root() / "up.jar"), error, options)) << error;
    EXPECT_EQ(ReadFile(PathUtf8(folder.root() / "up.jar")), "secure body");

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
