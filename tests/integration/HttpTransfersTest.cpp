// Many requests on one set of transfers: what every HttpTransfers.h implementation promises the download engine.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "HttpTransfers.h"
#include "TestHttpServer.h"

namespace lumivale::test {
namespace {

using namespace std::chrono_literals;

// What one transfer saw of its answer.
struct Seen {
    int heads = 0;
    int dones = 0;
    std::string body;
    HttpResponse response;
};

class HttpTransfersTest : public ::testing::Test {
  protected:
    // `then` runs inside the done handler, after the answer was noted.
    HttpTransfers::Id Start(const std::string& url, Seen& seen, std::function<void()> then = nullptr) {
        HttpRequest request;
        request.url = url;
        request.connectTimeout = request.receiveTimeout = 5s;
        return Start(request, seen, std::move(then));
    }
    HttpTransfers::Id Start(const HttpRequest& request, Seen& seen, std::function<void()> then = nullptr) {
        return transfers.Start(
            request,
            [&seen](std::string_view piece) {
                seen.body.append(piece);
                return true;
            },
            [&seen](const HttpResponse&) { return ++seen.heads > 0; },
            [this, &seen, then = std::move(then)](const HttpResponse& response) {
                EXPECT_TRUE(transfers.Busy());
                ++seen.dones;
                seen.response = response;
                if (then) then();
            });
    }
    // Bounded, so a transfer that never ends fails the test instead of hanging it.
    void RunAll() {
        for (int round = 0; round < 400 && transfers.Running() > 0; ++round) transfers.Run(50ms);
        EXPECT_EQ(transfers.Running(), 0u);
    }

    TestHttpServer server;
    HttpTransfers transfers;
};

TEST_F(HttpTransfersTest, EveryTransferEndsOnceWithItsOwnAnswerAndADoneHandlerMayStartMore) {
    std::map<int, Seen> seen;
    for (int i = 0; i < 40; ++i) {
        const std::string path = "/f" + std::to_string(i);
        server.Serve(path, i % 10 == 9 ? TestReply::Status(404, "missing") : TestReply::Ok("body " + path));
        seen[i];  // the map's nodes stay where they are; the handlers keep references to them
    }
    // Each of the first twenty, once ended, starts one of the other twenty from its done handler.
    for (int i = 0; i < 20; ++i) {
        Start(server.Url("/f" + std::to_string(i)), seen[i],
              [this, i, &seen] { Start(server.Url("/f" + std::to_string(i + 20)), seen[i + 20]); });
    }
    RunAll();
    for (auto& [i, one] : seen) {
        SCOPED_TRACE(i);
        EXPECT_EQ(one.heads, 1);
        EXPECT_EQ(one.dones, 1);
        EXPECT_TRUE(one.response.ok()) << one.response.error;
        EXPECT_EQ(one.response.status, i % 10 == 9 ? 404 : 200);
        EXPECT_EQ(one.body, i % 10 == 9 ? "missing" : "body /f" + std::to_string(i));
    }
    EXPECT_FALSE(transfers.Busy());
}

TEST_F(HttpTransfersTest, StoppedRefusedAndAbortedTransfersEachEndTheirOwnWay) {
    TestReply hung = TestReply::Ok("far too late");
    hung.delay = 60s;
    server.Serve("/hung", hung);
    server.Serve("/a", TestReply::Ok("a"));
    server.Serve("/moved", TestReply::Redirect(302, "/a"));

    // Stopped: no handler of its runs, and the others carry on.
    Seen stopped;
    const HttpTransfers::Id id = Start(server.Url("/hung"), stopped);
    transfers.Run(50ms);
    transfers.Stop(id);

    // Refused before sending (another scheme, a header that could smuggle others): still ends through its done handler.
    std::map<std::string, Seen> refused;
    for (const auto& [url, header] : std::vector<std::pair<std::string, HttpHeader>>{
             {"ftp://127.0.0.1/a", {"X-A", "1"}}, {server.Url("/a"), {"X-A", "1\r\nX-B: 2"}}, {server.Url("/a"), {"X-A", "a\nb"}},
             {server.Url("/a"), {"X-Bad Name", "v"}}, {server.Url("/a"), {"X-A:B", "v"}}, {server.Url("/a"), {"", "v"}}}) {
        HttpRequest request;
        request.url = url;
        request.headers = {header};
        Seen& seen = refused[header.name + header.value];
        Start(request, seen);
        EXPECT_EQ(seen.dones, 0) << header.name;
    }

    // A redirect comes back as it is, header blanks and empty values go as they are; a head handler's no aborts.
    Seen moved;
    HttpRequest movedRequest;
    movedRequest.url = server.Url("/moved");
    movedRequest.headers = {{"X-Token", "a b\tc"}, {"X-Empty", ""}};
    Start(movedRequest, moved);
    Seen aborted;
    HttpRequest abortRequest;
    abortRequest.url = server.Url("/a");
    transfers.Start(
        abortRequest,
        [&aborted](std::string_view piece) {
            aborted.body.append(piece);
            return true;
        },
        [](const HttpResponse&) { return false; },
        [&aborted](const HttpResponse& response) {
            ++aborted.dones;
            aborted.response = response;
        });

    RunAll();
    EXPECT_EQ(stopped.heads + stopped.dones, 0);
    for (auto& [name, one] : refused) {
        EXPECT_EQ(one.dones, 1) << name;
        EXPECT_EQ(one.response.failure, HttpFailure::BadRequest) << name;
    }
    EXPECT_EQ(server.CountOf("/a"), 1);  // the aborted one only: no refused request was sent
    EXPECT_EQ(moved.response.status, 302);
    for (const TestRequest& request : server.Requests()) {
        if (request.path == "/moved") {
            EXPECT_EQ(request.Header("X-Token"), "a b\tc");
        }
    }
    EXPECT_EQ(moved.response.Header("location"), "/a");
    EXPECT_EQ(aborted.dones, 1);
    EXPECT_EQ(aborted.response.failure, HttpFailure::Aborted);
    EXPECT_EQ(aborted.body, "");
}

}  // namespace
}  // namespace lumivale::test
