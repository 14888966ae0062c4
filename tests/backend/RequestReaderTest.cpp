// The request reader on its own: what a request becomes, and what is refused before any handler sees it.
// Each case is fed whole and byte by byte, since a connection may deliver it either way.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RequestReader.h"

namespace lumivale::backend {
namespace {

struct Case {
    const char* what;
    std::string bytes;
    ReadState state;
    std::string result;  // Complete: the request as handed on; Refused: the status
};

ReadState Feed(RequestReader& reader, const std::string& bytes, bool byteByByte) {
    if (!byteByByte) return reader.Add(bytes);
    ReadState state = reader.Add("");
    for (char c : bytes) state = reader.Add(std::string(1, c));
    return state;
}

TEST(RequestReader, RequestsComeOutPlainAndOversizedOrAmbiguousOnesAreRefused) {
    const std::string head = "POST /p HTTP/1.1\r\nHost: a\r\n";
    const std::vector<Case> cases = {
        {"no body", "\r\nGET / HTTP/1.1\r\nHost: a\r\n\r\n", ReadState::Complete,
         "GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 0\r\n\r\n"},
        {"length body, bare line feeds", "POST /p HTTP/1.1\nContent-Length: 5\n\nhello", ReadState::Complete,
         "POST /p HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"},
        {"chunks, extension, trailer",
         head + "Transfer-Encoding: Chunked\r\n\r\n5\r\nhello\r\n6;x=y\r\n world\r\n0\r\nT: 1\r\n\r\n",
         ReadState::Complete, head + "Content-Length: 11\r\n\r\nhello world"},
        {"at the cap", head + "Content-Length: 16\r\n\r\n" + std::string(16, 'b'), ReadState::Complete,
         head + "Content-Length: 16\r\n\r\n" + std::string(16, 'b')},
        {"head not finished", head, ReadState::NeedMore, ""},
        {"body not finished", head + "Content-Length: 5\r\n\r\nhel", ReadState::NeedMore, ""},
        {"length over the cap", head + "Content-Length: 17\r\n\r\n", ReadState::Refused, "413"},
        {"chunks over the cap", head + "Transfer-Encoding: chunked\r\n\r\n9\r\n123456789\r\n8\r\n", ReadState::Refused,
         "413"},
        {"chunk size beyond any number", head + "Transfer-Encoding: chunked\r\n\r\nfffffffffffffffffffff\r\n",
         ReadState::Refused, "413"},
        {"tiny chunks padded with extensions",
         head + "Transfer-Encoding: chunked\r\n\r\n" + [] {
             std::string many;
             for (int i = 0; i < 16; ++i) many += "1;" + std::string(1000, 'e') + "\r\nx\r\n";
             return many;
         }(),
         ReadState::Refused, "413"},
        {"chunk size not hex", head + "Transfer-Encoding: chunked\r\n\r\nzz\r\n", ReadState::Refused, "400"},
        {"chunk without its line end", head + "Transfer-Encoding: chunked\r\n\r\n1\r\nabc", ReadState::Refused, "400"},
        {"both framings", head + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n", ReadState::Refused, "400"},
        {"two lengths", head + "Content-Length: 3\r\nContent-Length: 4\r\n\r\n", ReadState::Refused, "400"},
        {"length not a number", head + "Content-Length: 3x\r\n\r\n", ReadState::Refused, "400"},
        {"other coding", head + "Transfer-Encoding: gzip\r\n\r\n", ReadState::Refused, "501"},
        {"folded header", head + "X-A: 1\r\n 2\r\n\r\n", ReadState::Refused, "400"},
        {"header without colon", head + "nonsense\r\n\r\n", ReadState::Refused, "400"},
        {"head over its limit", head + "X-Long: " + std::string(64, 'h') + "\r\n\r\n", ReadState::Refused, "431"},
        {"endless head line", head + std::string(100, 'h'), ReadState::Refused, "431"},
    };
    for (const Case& c : cases) {
        for (const bool byteByByte : {false, true}) {
            RequestReader reader(96, 16);
            const ReadState state = Feed(reader, c.bytes, byteByByte);
            EXPECT_EQ(state, c.state) << c.what << (byteByByte ? " (byte by byte)" : "");
            const std::string outcome = state == ReadState::Complete  ? reader.Request()
                                        : state == ReadState::Refused ? std::to_string(reader.RefusalStatus())
                                                                      : "";
            EXPECT_EQ(outcome, c.result) << c.what;
            EXPECT_TRUE(reader.Started()) << c.what;
        }
    }
}

TEST(RequestReader, PipelinedRequestsComeOneAfterTheOtherAndContinueIsAskedOnce) {
    RequestReader reader(1024, 1024);
    ASSERT_EQ(reader.Add("GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\nPOST /c HTTP/1.1\r\nExpect: 100-continue\r\n"),
              ReadState::Complete);
    EXPECT_TRUE(reader.Request().starts_with("GET /a "));
    ASSERT_EQ(reader.Next(), ReadState::Complete);
    EXPECT_TRUE(reader.Request().starts_with("GET /b "));
    EXPECT_EQ(reader.Next(), ReadState::NeedMore);
    EXPECT_FALSE(reader.TakeContinueRequest());  // the head is not in yet
    EXPECT_EQ(reader.Add("Content-Length: 2\r\n\r\n"), ReadState::NeedMore);
    EXPECT_TRUE(reader.TakeContinueRequest());
    EXPECT_FALSE(reader.TakeContinueRequest());
    ASSERT_EQ(reader.Add("{}"), ReadState::Complete);
    EXPECT_EQ(reader.Request(), "POST /c HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}");
    EXPECT_EQ(reader.Next(), ReadState::NeedMore);
    EXPECT_FALSE(reader.Started());
}

}  // namespace
}  // namespace lumivale::backend
