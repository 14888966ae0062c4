// The LittleSkin client against a loopback site: exact request bodies, the certificate check, refusal messages.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "AccountTestSupport.h"
#include "HttpTransport.h"
#include "TempHome.h"
#include "TestHttpServer.h"
#include "Yggdrasil.h"

namespace lumivale::test {
namespace {

constexpr const char* kAuthenticatePath = "/api/yggdrasil/authserver/authenticate";
constexpr const char* kRefreshPath = "/api/yggdrasil/authserver/refresh";

// Two roles, the second selected; the user's nested properties come before its id.
constexpr const char* kFullAnswer =
    R"({"accessToken":"tok-7f3a","clientToken":"echoed","availableProfiles":[{"id":"r1","name":"Alex_K"},)"
    R"({"id":"","name":"NoId"},{"id":"r2","name":"Nightwing"}],"selectedProfile":{"id":"r2","name":"Nightwing"},)"
    R"("user":{"properties":[{"name":"preferredLanguage","value":"zh_CN"}],"id":"u-4711","username":"a@b.org"}})";

class Yggdrasil : public ::testing::Test {
  protected:
    void TearDown() override { CloseHttpConnections(); }
    YggdrasilServer Site() const { return {server.Url("/api/yggdrasil"), {}}; }
    TestHttpServer server;
};

// Quotes, backslashes and control bytes are escaped; UTF-8 goes as it is.
TEST_F(Yggdrasil, AuthenticateSendsEscapedCredentialsWithAFreshTokenAndReadsTheAnswer) {
    server.Serve(kAuthenticatePath, JsonReply(200, kFullAnswer));
    const AuthResult first = Authenticate(Site(), "玩家\tone", "p\"a\\ss\x01");
    const AuthResult second = Authenticate(Site(), "玩家\tone", "p\"a\\ss\x01");
    ASSERT_TRUE(first.success) << first.error;

    static const std::regex tokenShape(R"re("clientToken":"([0-9a-f]{8}(?:-[0-9a-f]{4}){3}-[0-9a-f]{12})")re");
    const std::vector<TestRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    std::vector<std::string> tokens;
    for (const TestRequest& request : requests) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(request.body, match, tokenShape)) << request.body;
        tokens.push_back(match[1].str());
        EXPECT_EQ(match.prefix().str() + "<token>" + match.suffix().str(),
                  R"({"agent":{"name":"Minecraft","version":1},"username":"玩家\tone","password":"p\"a\\ss\u0001",)"
                  R"(<token>,"requestUser":true})");
        EXPECT_EQ(request.Header("Content-Type"), "application/json");
        EXPECT_EQ(request.Header("Accept"), "application/json");
    }
    EXPECT_NE(tokens[0], tokens[1]);
    EXPECT_EQ(first.clientToken, tokens[0]);  // the one sent, not the one echoed
    EXPECT_EQ(second.clientToken, tokens[1]);

    EXPECT_EQ(first.accessToken, "tok-7f3a");
    EXPECT_EQ(first.availableProfiles, (std::vector<Profile>{{"r1", "Alex_K"}, {"r2", "Nightwing"}}));
    EXPECT_EQ(first.selectedProfile, (Profile{"r2", "Nightwing"}));
    EXPECT_EQ(first.userId, "u-4711");
    EXPECT_EQ(first.username, "a@b.org");
}

TEST_F(Yggdrasil, RefusalsAndMissingAnswersGiveTheirMessages) {
    const std::vector<std::pair<TestReply, std::string>> cases = {
        {JsonReply(403, R"({"error":"ForbiddenOperationException","errorMessage":"不匹配 \"alex\""})"),
         "不匹配 \"alex\""},
        {JsonReply(429, R"({"errorMessage":"","error":"TooManyRequestsException"})"), "TooManyRequestsException"},
        {JsonReply(200, R"({"accessToken":"","availableProfiles":[]})"), kYggLoginFailed},
        {TestReply::Status(502, "<html><body>502 Bad Gateway</body></html>"), kYggLoginFailed},
        {JsonReply(500, ""), kYggNetworkFailed},
    };
    for (const auto& [reply, message] : cases) {
        server.Serve(kAuthenticatePath, reply);
        const AuthResult result = Authenticate(Site(), "alex", "pw");
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.error, message) << reply.body;
        EXPECT_EQ(result.accessToken + result.clientToken, "");
    }
    server.Serve(kRefreshPath, JsonReply(200, "not json"));
    EXPECT_EQ(Refresh(Site(), "old", "client", {"r1", "RoleOne"}).error, kYggRefreshFailed);
    server.Serve(kRefreshPath, JsonReply(204, ""));
    EXPECT_EQ(Refresh(Site(), "old", "client", {"r1", "RoleOne"}).error, kYggNetworkFailed);

    TestHttpServer gone;
    const YggdrasilServer nowhere{gone.Url("/api/yggdrasil"), {}};
    gone.Stop();
    EXPECT_EQ(Authenticate(nowhere, "alex", "pw").error, kYggNetworkFailed);
}

TEST(YggdrasilTls, TheSiteIsTrustedOnlyWithItsCertificate) {
    TempHome home;
    const TestCertificate certificate = TestCertificate::Create(home.root());
    TestHttpServer site(certificate);
    site.Serve(kAuthenticatePath, JsonReply(200, kFullAnswer));
    const AuthResult trusted =
        Authenticate({site.Url("/api/yggdrasil"), certificate.certificateFile.string()}, "a", "p");
    EXPECT_TRUE(trusted.success) << trusted.error;
    // The system store does not know the test's certificate: no answer at all.
    const AuthResult untrusted = Authenticate({site.Url("/api/yggdrasil"), {}}, "a", "p");
    EXPECT_EQ(untrusted.error, kYggNetworkFailed);
    EXPECT_EQ(site.CountOf(kAuthenticatePath), 1);
    CloseHttpConnections();
}

TEST_F(Yggdrasil, RefreshSendsTheRoleWithOnlyItsNameEscapedAndKeepsItWhenTheAnswerNamesNone) {
    server.Serve(kRefreshPath,
                 JsonReply(200, R"({"accessToken":"new","availableProfiles":[{"id":"r1","name":"RoleOne"}]})"));
    const AuthResult result = Refresh(Site(), "acc\\tok", "cli\"tok", Profile{"id\\raw", "Role \"Q\"\x02\n"});
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].body,
              R"({"accessToken":"acc\tok","clientToken":"cli"tok",)"
              R"("selectedProfile":{"id":"id\raw","name":"Role \"Q\"\u0002\n"},"requestUser":true})");
    ASSERT_TRUE(result.success) << result.error;
    EXPECT_EQ(result.accessToken, "new");
    EXPECT_EQ(result.clientToken, "cli\"tok");
    EXPECT_EQ(result.selectedProfile, (Profile{"id\\raw", "Role \"Q\"\x02\n"}));
    EXPECT_EQ(result.username, "Role \"Q\"\x02\n");

    // Incomplete roles never reach the site.
    for (const auto& [token, role] : std::vector<std::pair<std::string, Profile>>{
             {"", {"r1", "RoleOne"}}, {"old", {"", "RoleOne"}}, {"old", {"r1", ""}}}) {
        EXPECT_EQ(Refresh(Site(), token, "client", role).error, kYggIncompleteRole);
    }
    EXPECT_EQ(server.Requests().size(), 1u);
}

}  // namespace
}  // namespace lumivale::test
