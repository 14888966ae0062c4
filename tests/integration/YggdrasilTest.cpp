// The LittleSkin Yggdrasil client against a loopback server that answers like the skin site:
// the exact request bodies it sends (escaping included), how answers are read (roles,
// selection, account fields, error messages), and what a missing or broken answer gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "HttpTransport.h"
#include "TempHome.h"
#include "TestHttpServer.h"
#include "Yggdrasil.h"

namespace lumivale::test {
namespace {

constexpr const char* kAuthenticatePath = "/api/yggdrasil/authserver/authenticate";
constexpr const char* kRefreshPath = "/api/yggdrasil/authserver/refresh";

// A full successful answer as the site gives it: two roles, the second one selected, the user.
constexpr const char* kFullAnswer = R"({
  "accessToken": "tok-7f3a",
  "clientToken": "echoed-by-server",
  "availableProfiles": [
    {"id": "1b2c3d4e5f60718293a4b5c6d7e8f901", "name": "Alex_K"},
    {"id": "aa00bb11cc22dd33ee44ff5566778899", "name": "Nightwing"}
  ],
  "selectedProfile": {"id": "aa00bb11cc22dd33ee44ff5566778899", "name": "Nightwing"},
  "user": {"id": "u-4711", "username": "alex@example.org",
           "properties": [{"name": "preferredLanguage", "value": "zh_CN"}]}
})";

TestReply Json(int status, std::string body) {
    TestReply reply = TestReply::Status(status, std::move(body));
    reply.contentType = "application/json; charset=utf-8";
    return reply;
}

// The authenticate body with the client token it carried replaced by "<token>".
std::string WithoutToken(const std::string& body, std::string* token) {
    static const std::regex pattern(R"re("clientToken":"([^"]*)")re");
    std::smatch match;
    if (!std::regex_search(body, match, pattern)) return body;
    if (token != nullptr) *token = match[1].str();
    return match.prefix().str() + "\"clientToken\":\"<token>\"" + match.suffix().str();
}

bool LooksLikeClientToken(const std::string& token) {
    static const std::regex shape("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$");
    return std::regex_match(token, shape);
}

class YggdrasilClient : public ::testing::Test {
  protected:
    void TearDown() override { CloseHttpConnections(); }

    YggdrasilServer Site() const { return {server.Url("/api/yggdrasil"), {}}; }

    // The body of the only request the site saw on `path`.
    std::string OnlyBody(const std::string& path) const {
        const std::vector<TestRequest> requests = server.Requests();
        EXPECT_EQ(requests.size(), 1u);
        if (requests.empty()) return {};
        EXPECT_EQ(requests.front().path, path);
        EXPECT_EQ(requests.front().method, "POST");
        return requests.front().body;
    }

    TestHttpServer server;
};

// ---------------------------------------------------------------------------------------------
// Pure pieces: client tokens, request escaping, the object and role scanners.

TEST(YggdrasilPieces, ClientTokensAreFreshLowercaseHexInUuidShape) {
    const std::string first = GenerateClientToken();
    const std::string second = GenerateClientToken();
    EXPECT_EQ(first.size(), 36u);
    EXPECT_TRUE(LooksLikeClientToken(first)) << first;
    EXPECT_TRUE(LooksLikeClientToken(second)) << second;
    EXPECT_NE(first, second);
}

TEST(YggdrasilPieces, RequestTextEscapesControlBytesQuotesAndBackslashesOnly) {
    EXPECT_EQ(EscapeRequestText(""), "\"\"");
    EXPECT_EQ(EscapeRequestText("plain name_1"), "\"plain name_1\"");
    EXPECT_EQ(EscapeRequestText("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(EscapeRequestText("\b\t\n\f\r"), R"("\b\t\n\f\r")");
    EXPECT_EQ(EscapeRequestText(std::string("\x00\x01\x1f\x0b", 4)), R"("\u0000\u0001\u001f\u000b")");
    // DEL, slash and every UTF-8 byte pass unchanged.
    EXPECT_EQ(EscapeRequestText("\x7f/密码é"), "\"\x7f/密码é\"");
}

TEST(YggdrasilPieces, ObjectFieldTakesTheBalancedObjectAfterTheKey) {
    const std::string text = R"({"user" : {"id":"u","p":[{"a":{"b":1}}]},"next":{"x":2}})";
    EXPECT_EQ(ReadObjectField(text, "user"), R"({"id":"u","p":[{"a":{"b":1}}]})");
    EXPECT_EQ(ReadObjectField(text, "next"), R"({"x":2})");
    EXPECT_EQ(ReadObjectField(text, "missing"), "");
    // The first brace after the colon counts, even past a non-object value.
    EXPECT_EQ(ReadObjectField(R"({"user":null,"other":{"id":"o"}})", "user"), R"({"id":"o"})");
    EXPECT_EQ(ReadObjectField(R"({"user":{"id":"u")", "user"), "");  // never closes
    EXPECT_EQ(ReadObjectField(R"({"user")", "user"), "");             // no colon
    EXPECT_EQ(ReadObjectField("not json at all", "user"), "");
}

TEST(YggdrasilPieces, AvailableProfilesKeepOrderAndSkipIncompleteEntries) {
    const std::string text = R"({"availableProfiles":[
        {"id":"id-1","name":"First"},
        {"id":"","name":"NoId"},
        {"name":"NoIdAtAll"},
        {"id":"id-4","name":""},
        {"id":"id-5","name":"Fi\"fth"}
      ],"selectedProfile":{"id":"zz","name":"Outside"}})";
    const std::vector<Profile> profiles = ParseAvailableProfiles(text);
    ASSERT_EQ(profiles.size(), 2u);
    EXPECT_EQ(profiles[0], (Profile{"id-1", "First"}));
    EXPECT_EQ(profiles[1], (Profile{"id-5", "Fi\"fth"}));

    EXPECT_TRUE(ParseAvailableProfiles(R"({"availableProfiles":[]})").empty());
    EXPECT_TRUE(ParseAvailableProfiles(R"({"selectedProfile":{"id":"a","name":"b"}})").empty());
    EXPECT_TRUE(ParseAvailableProfiles(R"({"availableProfiles":[{"id":"a","name":"b"})").empty());
    EXPECT_TRUE(ParseAvailableProfiles("<html>502 Bad Gateway</html>").empty());
    // An entry cut off by the closing bracket is not taken.
    EXPECT_TRUE(ParseAvailableProfiles(R"({"availableProfiles":[{"id":"a","name":"b"]}})").empty());
}

// ---------------------------------------------------------------------------------------------
// PostJson: what goes out, what comes back.

TEST_F(YggdrasilClient, PostJsonSendsJsonHeadersAndReturnsAnyStatusBody) {
    server.Serve("/api/yggdrasil/x", Json(403, R"({"error":"ForbiddenOperationException"})"));
    const std::string answer = PostJson(server.Url("/api/yggdrasil/x"), R"({"k":"v"})");
    EXPECT_EQ(answer, R"({"error":"ForbiddenOperationException"})");

    const std::vector<TestRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, R"({"k":"v"})");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/json");
    EXPECT_EQ(requests[0].Header("Accept"), "application/json");
    EXPECT_EQ(requests[0].Header("User-Agent"), "LumivaleLauncher/1.0");
}

TEST_F(YggdrasilClient, PostJsonGivesEmptyWithoutAnswerAndThePrefixOfABrokenBody) {
    TestReply cut = Json(200, R"({"accessToken":"abc","rest":"never arrives"})");
    cut.cutAfter = 21;
    server.Serve("/cut", cut);
    EXPECT_EQ(PostJson(server.Url("/cut"), "{}"), R"({"accessToken":"abc",)");

    server.Serve("/empty", Json(500, ""));
    EXPECT_EQ(PostJson(server.Url("/empty"), "{}"), "");

    TestHttpServer gone;
    const std::string url = gone.Url("/api/yggdrasil/authserver/authenticate");
    gone.Stop();
    EXPECT_EQ(PostJson(url, "{}"), "");
}

TEST(YggdrasilTls, PostJsonTrustsTheGivenCertificatesAndVerifiesOtherwise) {
    TempHome home;
    const TestCertificate certificate = TestCertificate::Create(home.root());
    TestHttpServer site(certificate);
    site.Serve(kAuthenticatePath, Json(200, kFullAnswer));

    const AuthResult trusted = Authenticate(
        {site.Url("/api/yggdrasil"), certificate.certificateFile.string()}, "alex", "pw");
    EXPECT_TRUE(trusted.success) << trusted.error;
    EXPECT_EQ(trusted.accessToken, "tok-7f3a");

    // Without the test's certificate the system store does not know it: no answer at all.
    const AuthResult untrusted = Authenticate({site.Url("/api/yggdrasil"), {}}, "alex", "pw");
    EXPECT_FALSE(untrusted.success);
    EXPECT_EQ(untrusted.error, "网络请求失败，请检查网络后重试");
    CloseHttpConnections();
}

// ---------------------------------------------------------------------------------------------
// Authenticate.

TEST_F(YggdrasilClient, AuthenticateSendsTheExactBodyAndReadsAFullAnswer) {
    server.Serve(kAuthenticatePath, Json(200, kFullAnswer));
    const AuthResult result = Authenticate(Site(), "alex@example.org", "s3cret");

    std::string token;
    EXPECT_EQ(WithoutToken(OnlyBody(kAuthenticatePath), &token),
              R"({"agent":{"name":"Minecraft","version":1},"username":"alex@example.org",)"
              R"("password":"s3cret","clientToken":"<token>","requestUser":true})");
    EXPECT_TRUE(LooksLikeClientToken(token)) << token;

    ASSERT_TRUE(result.success) << result.error;
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.accessToken, "tok-7f3a");
    EXPECT_EQ(result.clientToken, token);  // the one sent, not the one echoed
    ASSERT_EQ(result.availableProfiles.size(), 2u);
    EXPECT_EQ(result.availableProfiles[0], (Profile{"1b2c3d4e5f60718293a4b5c6d7e8f901", "Alex_K"}));
    EXPECT_EQ(result.availableProfiles[1],
              (Profile{"aa00bb11cc22dd33ee44ff5566778899", "Nightwing"}));
    EXPECT_EQ(result.selectedProfile, (Profile{"aa00bb11cc22dd33ee44ff5566778899", "Nightwing"}));
    EXPECT_EQ(result.playerName, "Nightwing");
    EXPECT_EQ(result.userId, "u-4711");
    EXPECT_EQ(result.username, "alex@example.org");
}

TEST_F(YggdrasilClient, AuthenticateEscapesCredentialsAndMakesAFreshTokenEachTime) {
    server.Serve(kAuthenticatePath, Json(200, kFullAnswer));
    const AuthResult first = Authenticate(Site(), "玩家\tone", "p\"a\\ss密码\x01");
    const AuthResult second = Authenticate(Site(), "玩家\tone", "p\"a\\ss密码\x01");
    ASSERT_TRUE(first.success);
    ASSERT_TRUE(second.success);

    const std::vector<TestRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    std::string firstToken;
    std::string secondToken;
    const std::string expected = "{\"agent\":{\"name\":\"Minecraft\",\"version\":1},"
                                 "\"username\":\"玩家\\tone\","
                                 "\"password\":\"p\\\"a\\\\ss密码\\u0001\","
                                 "\"clientToken\":\"<token>\",\"requestUser\":true}";
    EXPECT_EQ(WithoutToken(requests[0].body, &firstToken), expected);
    EXPECT_EQ(WithoutToken(requests[1].body, &secondToken), expected);
    EXPECT_NE(firstToken, secondToken);
    EXPECT_EQ(first.clientToken, firstToken);
    EXPECT_EQ(second.clientToken, secondToken);
}

TEST_F(YggdrasilClient, AuthenticateFillsGapsOfPartialAnswers) {
    // No selectedProfile: the first listed role is selected.
    server.Serve(kAuthenticatePath, Json(200, R"({"accessToken":"t1","availableProfiles":[)"
                                              R"({"id":"r1","name":"RoleOne"},{"id":"r2","name":"RoleTwo"}],)"
                                              R"("user":{"id":"u1","username":"mail@x.org"}})"));
    AuthResult result = Authenticate(Site(), "u", "p");
    ASSERT_TRUE(result.success);
    EXPECT_EQ(result.selectedProfile, (Profile{"r1", "RoleOne"}));
    EXPECT_EQ(result.playerName, "RoleOne");
    EXPECT_EQ(result.availableProfiles.size(), 2u);
    EXPECT_EQ(result.username, "mail@x.org");

    // No user: no account id, the user name falls back to the player name.
    server.Serve(kAuthenticatePath, Json(200, R"({"accessToken":"t2","availableProfiles":[)"
                                              R"({"id":"r1","name":"RoleOne"}],)"
                                              R"("selectedProfile":{"id":"r1","name":"RoleOne"}})"));
    result = Authenticate(Site(), "u", "p");
    ASSERT_TRUE(result.success);
    EXPECT_EQ(result.userId, "");
    EXPECT_EQ(result.username, "RoleOne");

    // An empty role list but a complete selection: the selection stands, the list stays empty.
    server.Serve(kAuthenticatePath, Json(200, R"({"accessToken":"t3","availableProfiles":[],)"
                                              R"("selectedProfile":{"id":"s9","name":"Solo"},)"
                                              R"("user":{"id":"u3"}})"));
    result = Authenticate(Site(), "u", "p");
    ASSERT_TRUE(result.success);
    EXPECT_TRUE(result.availableProfiles.empty());
    EXPECT_EQ(result.selectedProfile, (Profile{"s9", "Solo"}));
    EXPECT_EQ(result.playerName, "Solo");
    EXPECT_EQ(result.userId, "u3");
    EXPECT_EQ(result.username, "Solo");

    // No role at all: still signed in, with nothing to play as.
    server.Serve(kAuthenticatePath,
                 Json(200, R"({"accessToken":"t4","availableProfiles":[],"user":{"id":"u4"}})"));
    result = Authenticate(Site(), "u", "p");
    ASSERT_TRUE(result.success);
    EXPECT_EQ(result.accessToken, "t4");
    EXPECT_TRUE(result.availableProfiles.empty());
    EXPECT_EQ(result.selectedProfile, Profile{});
    EXPECT_EQ(result.playerName, "");
    EXPECT_EQ(result.username, "");
    EXPECT_EQ(result.userId, "u4");
}

TEST_F(YggdrasilClient, AuthenticateReportsTheSitesOwnErrorsDecoded) {
    server.Serve(kAuthenticatePath,
                 Json(403, R"({"error":"ForbiddenOperationException",)"
                           R"("errorMessage":"输入的邮箱与密码不匹配 \"alex\"","cause":""})"));
    AuthResult result = Authenticate(Site(), "alex", "wrong");
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "输入的邮箱与密码不匹配 \"alex\"");
    EXPECT_EQ(result.accessToken, "");
    EXPECT_EQ(result.clientToken, "");

    // An empty errorMessage gives way to "error".
    server.Serve(kAuthenticatePath,
                 Json(429, R"({"errorMessage":"","error":"TooManyRequestsException"})"));
    result = Authenticate(Site(), "alex", "pw");
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "TooManyRequestsException");

    // An empty access token is no success.
    server.Serve(kAuthenticatePath, Json(200, R"({"accessToken":"","availableProfiles":[]})"));
    result = Authenticate(Site(), "alex", "pw");
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "登录失败，请确认账号密码");

    // A gateway's HTML page: an answer, but nothing to read from it.
    TestReply html = TestReply::Status(502, "<html><body>502 Bad Gateway</body></html>");
    html.contentType = "text/html";
    server.Serve(kAuthenticatePath, html);
    result = Authenticate(Site(), "alex", "pw");
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "登录失败，请确认账号密码");
}

TEST_F(YggdrasilClient, AuthenticateWithoutAnswerOrCredentials) {
    server.Serve(kAuthenticatePath, Json(500, ""));
    AuthResult result = Authenticate(Site(), "alex", "pw");
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "网络请求失败，请检查网络后重试");

    server.ClearLog();
    result = Authenticate(Site(), "", "pw");
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "请输入账号和密码");
    result = Authenticate(Site(), "alex", "");
    EXPECT_EQ(result.error, "请输入账号和密码");
    EXPECT_TRUE(server.Requests().empty());

    TestHttpServer gone;
    const YggdrasilServer site{gone.Url("/api/yggdrasil"), {}};
    gone.Stop();
    result = Authenticate(site, "alex", "pw");
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "网络请求失败，请检查网络后重试");
}

// ---------------------------------------------------------------------------------------------
// Refresh (token renewal at start and role switch).

TEST_F(YggdrasilClient, RefreshSendsTheRoleWithOnlyItsNameEscaped) {
    server.Serve(kRefreshPath, Json(200, kFullAnswer));
    const AuthResult result = Refresh(Site(), "acc\\tok", "cli\"tok",
                                      Profile{"id\\raw", "Role \"Q\"\x02\n"});
    EXPECT_EQ(OnlyBody(kRefreshPath),
              "{\"accessToken\":\"acc\\tok\",\"clientToken\":\"cli\"tok\","
              "\"selectedProfile\":{\"id\":\"id\\raw\",\"name\":\"Role \\\"Q\\\"\\u0002\\n\"},"
              "\"requestUser\":true}");
    ASSERT_TRUE(result.success) << result.error;
    EXPECT_EQ(result.clientToken, "cli\"tok");  // the one sent, not the answer's
    EXPECT_EQ(result.accessToken, "tok-7f3a");
    EXPECT_EQ(result.selectedProfile, (Profile{"aa00bb11cc22dd33ee44ff5566778899", "Nightwing"}));
    EXPECT_EQ(result.playerName, "Nightwing");
    EXPECT_EQ(result.availableProfiles.size(), 2u);
    EXPECT_EQ(result.userId, "u-4711");
    EXPECT_EQ(result.username, "alex@example.org");
}

TEST_F(YggdrasilClient, RefreshFallsBackToTheRequestedRole) {
    // The answer names no selection: the requested role stands, even with roles listed.
    server.Serve(kRefreshPath, Json(200, R"({"accessToken":"new","availableProfiles":[)"
                                         R"({"id":"r1","name":"RoleOne"}]})"));
    const AuthResult result = Refresh(Site(), "old", "client", Profile{"r7", "Seventh"});
    ASSERT_TRUE(result.success);
    EXPECT_EQ(result.accessToken, "new");
    EXPECT_EQ(result.clientToken, "client");
    EXPECT_EQ(result.selectedProfile, (Profile{"r7", "Seventh"}));
    EXPECT_EQ(result.playerName, "Seventh");
    ASSERT_EQ(result.availableProfiles.size(), 1u);
    EXPECT_EQ(result.availableProfiles[0], (Profile{"r1", "RoleOne"}));
    EXPECT_EQ(result.userId, "");
    EXPECT_EQ(result.username, "Seventh");
}

TEST_F(YggdrasilClient, RefreshFailures) {
    server.Serve(kRefreshPath,
                 Json(403, R"({"error":"ForbiddenOperationException","errorMessage":"无效的令牌 \"x\""})"));
    AuthResult result = Refresh(Site(), "old", "client", Profile{"r1", "RoleOne"});
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "无效的令牌 \"x\"");

    server.Serve(kRefreshPath, Json(400, R"({"error":"IllegalArgumentException"})"));
    result = Refresh(Site(), "old", "client", Profile{"r1", "RoleOne"});
    EXPECT_EQ(result.error, "IllegalArgumentException");

    server.Serve(kRefreshPath, Json(200, "not json"));
    result = Refresh(Site(), "old", "client", Profile{"r1", "RoleOne"});
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.error, "切换角色失败");

    server.Serve(kRefreshPath, Json(204, ""));
    result = Refresh(Site(), "old", "client", Profile{"r1", "RoleOne"});
    EXPECT_EQ(result.error, "网络请求失败，请检查网络后重试");

    // Incomplete inputs never reach the site; an empty client token is sent as it is.
    server.ClearLog();
    for (const auto& [token, profile] : std::vector<std::pair<std::string, Profile>>{
             {"", {"r1", "RoleOne"}}, {"old", {"", "RoleOne"}}, {"old", {"r1", ""}}}) {
        result = Refresh(Site(), token, "client", profile);
        EXPECT_FALSE(result.success);
        EXPECT_EQ(result.error, "角色信息不完整，请重新登录");
    }
    EXPECT_TRUE(server.Requests().empty());

    server.Serve(kRefreshPath, Json(200, kFullAnswer));
    result = Refresh(Site(), "old", "", Profile{"r1", "RoleOne"});
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.clientToken, "");
    EXPECT_EQ(OnlyBody(kRefreshPath),
              R"({"accessToken":"old","clientToken":"","selectedProfile":{"id":"r1","name":"RoleOne"},"requestUser":true})");
}

}  // namespace
}  // namespace lumivale::test
