// The backend's connections over raw sockets: slow clients cost no worker, a request must arrive whole in time,
// a body over the cap is refused while it arrives however it is framed, and framing the reader rewrites.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "BackendEndpoints.h"
#include "BackendTestKit.h"
#include "RawConnection.h"

namespace lumivale::test {
namespace {

using namespace std::chrono_literals;

class BackendConnectionsTest : public BackendFixture, public ::testing::Test {
  protected:
    BackendConnectionsTest() : BackendFixture(Store::Sqlite) {}
};

TEST_F(BackendConnectionsTest, SixtyFourSlowClientsDoNotDelayAPing) {
    StartServer();
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 64; ++i) {
        slow.push_back(std::make_unique<RawConnection>(server->Port()));
        ASSERT_TRUE(slow.back()->Send("GET /api/ping HTTP/1.1\r\nHost: a\r\n")) << i;
    }
    EXPECT_TRUE(Ping(Client()));
    // The slow ones were waited for, not dropped: each finishes its head and gets its answer.
    for (auto& connection : slow) {
        ASSERT_TRUE(connection->Send("X-Slow: 1\r\n\r\n"));
        EXPECT_TRUE(connection->ReadUntil("}").starts_with("HTTP/1.1 200 OK"));
    }
}

TEST_F(BackendConnectionsTest, ARequestMustArriveWholeInTime) {
    limits.requestTimeout = 300ms;
    StartServer();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},  // a silent client is let go without a word
        {"GET /api/ping HTTP/1.1\r\nHost: a\r\n", "HTTP/1.1 408 "},
        {"POST /api/ping HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"a\":", "HTTP/1.1 408 "},
        {"POST /api/ping HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", "HTTP/1.1 408 "},
    };
    for (const auto& [sent, answer] : cases) {
        RawConnection connection(server->Port());
        ASSERT_TRUE(connection.Send(sent));
        EXPECT_TRUE(connection.ReadToEnd().starts_with(answer)) << sent;
        EXPECT_TRUE(connection.PeerClosed()) << sent;
    }
}

TEST_F(BackendConnectionsTest, ABodyOverTheCapIsRefusedWhileItArrives) {
    StartServer();
    RawConnection announced(server->Port());
    ASSERT_TRUE(announced.Send("POST /api/playtime/p HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n"));
    EXPECT_TRUE(announced.ReadToEnd().starts_with("HTTP/1.1 413 "));

    // Chunks announce no length: the refusal comes once the cap is passed, long before the 64 MiB end.
    RawConnection chunked(server->Port());
    ASSERT_TRUE(chunked.Send("POST /api/playtime/p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"));
    const std::string chunk = "10000\r\n" + std::string(0x10000, 'a') + "\r\n";
    std::size_t sent = 0;
    std::string answer;
    while (answer.empty() && sent < (64u << 20) && chunked.Send(chunk)) {
        sent += 0x10000;
        answer = chunked.ReadUntil("}", 0ms);
    }
    answer += chunked.ReadUntil("}");
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 413 ")) << answer.substr(0, 100);
    EXPECT_LT(sent, 16u << 20);
}

TEST_F(BackendConnectionsTest, ChunksPipelinesAndContinueAreServedAsOneClientMeansThem) {
    StartServer();
    std::int64_t retry = 0;
    ASSERT_EQ(RegisterPublicKey(Client(), "chunky", "", retry), RegisterResult::Registered);
    const std::string ts = std::to_string(ServerNow() - 100);  // a second the registration did not take
    RawConnection connection(server->Port());
    // An upload in two chunks with a trailer, and a ping right behind it on the same connection.
    ASSERT_TRUE(connection.Send("POST /api/playtime/chunky HTTP/1.1\r\nTransfer-Encoding: chunked\r\nX-Player-ID: chunky"
                                "\r\nX-Timestamp: " + ts + "\r\nX-Signature: " + Client().Keys().SignBase64(ts + "chunky") +
                                "\r\n\r\n7\r\n{\"sessi\r\n12;x=1\r\non_seconds\":42}   \r\n0\r\nX-Trailer: t\r\n\r\n"
                                "GET /api/ping HTTP/1.1\r\n\r\n"));
    EXPECT_NE(connection.ReadUntil("}").find(R"("total_seconds":42)"), std::string::npos);
    EXPECT_NE(connection.ReadUntil("}").find("server_time"), std::string::npos);
    // A client that waits for "100 Continue" before its body gets it.
    ASSERT_TRUE(connection.Send("POST /api/playtime/chunky HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n"));
    EXPECT_EQ(connection.ReadUntil("\r\n\r\n"), "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_TRUE(connection.Send("{}"));
    EXPECT_NE(connection.ReadUntil("}").find("session_seconds must be an integer"), std::string::npos);
    EXPECT_EQ(GetPlaytime(Client(), "chunky", ""), 42);
}

}  // namespace
}  // namespace lumivale::test
