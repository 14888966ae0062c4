// The LittleSkin account in the headless launcher against a loopback site, and the site's certificate check.
#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "AccountTestSupport.h"
#include "HttpTransport.h"
#include "SignIn.h"
#include "Subprocess.h"
#include "TempHome.h"
#include "Yggdrasil.h"

namespace lumivale::test {
namespace {

constexpr const char* kAuthenticate = "/api/yggdrasil/authserver/authenticate";
constexpr const char* kRefresh = "/api/yggdrasil/authserver/refresh";

std::string Role(const std::string& id, const std::string& name) {
    return R"({"id":")" + id + R"(","name":")" + name + R"("})";
}
const std::string kAlex = Role("1b2c3d4e5f60718293a4b5c6d7e8f901", "Alex_K");
const std::string kNight = Role("aa00bb11cc22dd33ee44ff5566778899", "Nightwing");

std::string Event(const std::string& type, const std::string& name, const std::string& profiles,
                  const std::string& profile) {
    return R"({"type":")" + type + R"(","name":")" + name + R"(","profiles":)" + profiles + R"(,"profile":)" +
           profile + "}";
}

// The site's answer, chosen by the user name sent ("full": a role without an id, nested objects before the id).
TestReply AuthenticateAnswer(const TestRequest& request) {
    const auto user = [&](const std::string& name) { return request.body.find('"' + name + '"') != request.body.npos; };
    if (user("full")) {
        return JsonReply(200, R"({"accessToken":"tok-full","clientToken":"not-ours","availableProfiles":[)" + kAlex +
                                  "," + Role("", "NoId") + "," + kNight + R"(],"selectedProfile":)" + kNight +
                                  R"(,"user":{"properties":[{"name":"a","value":"b"}],"id":"u-4711",)"
                                  R"("username":"alex@example.org"}})");
    }
    if (user("limited")) return JsonReply(429, R"({"errorMessage":"","error":"TooManyRequestsException"})");
    if (user("emptytoken")) return JsonReply(200, R"({"accessToken":"","availableProfiles":[]})");
    if (user("html")) return TestReply::Status(502, "<html><body>502 Bad Gateway</body></html>");
    if (user("down")) return TestReply::Status(500);
    if (user("nouser")) return JsonReply(200, R"({"accessToken":"t2","selectedProfile":)" + Role("s", "Solo") + "}");
    if (user("noselected")) {
        return JsonReply(200, R"({"accessToken":"t3","availableProfiles":[)" + Role("p1", "First") + "," +
                                  Role("p2", "Second") + R"(],"user":{"id":"u-3"}})");
    }
    if (user("norole")) return JsonReply(200, R"({"accessToken":"t4","user":{"id":"u-4","username":"bob"}})");
    return JsonReply(403, R"({"error":"ForbiddenOperationException","errorMessage":"凭据无效 \"请重试\""})");
}

class Launcher {
public:
    Launcher(const TempHome& home, const TestHttpServer& site)
        : home_(home),
          process_(LUMIVALE_EXE, {"--headless", "--home", home.program().string()},
                   {"XDG_DATA_HOME=" + home.data().string(), "LUMIVALE_LITTLESKIN_BASE=" + site.Url(""),
                    "LUMIVALE_BACKEND_BASE=http://127.0.0.1:9"}) {}  // no backend: registration fails quietly

    void Send(const std::string& line) { process_.Send(line); }
    std::string Next() { return process_.ReadLine().value_or("<no line>"); }
    void Sync() {  // every command sent before has been handled once this answer arrives
        Send(R"({"type":"game:stop"})");
        EXPECT_EQ(Next(), R"({"type":"game:stopped"})");
    }
    // A page load: the account report (when there is one), then the four system reports.
    std::string LoadPage() {
        Send(R"({"type":"host:loaded"})");
        const std::string sys = R"({"type":"sys:)", first = Next();
        for (int i = first.starts_with(sys); i < 4; ++i) EXPECT_TRUE(Next().starts_with(sys));
        return first;
    }
    std::string SignIn(const std::string& user, const std::string& password = "pw") {
        Send(R"({"type":"yggdrasil:login","username":")" + user + R"(","password":")" + password + R"("})");
        EXPECT_EQ(Next(), R"({"type":"yggdrasil:starting"})");
        const std::string outcome = Next();
        return outcome == R"({"type":"host:reload","error":""})" ? LoadPage() : outcome;
    }
    // Ends the launcher; no access token reached its console or its diagnostic log.
    std::string Finish() {
        process_.CloseInput();
        EXPECT_EQ(process_.Wait(), 0);
        const std::string logs = process_.Stderr() + DiagLogText(home_);
        for (const char* token : {"tok-full", "tok-renewed", "oauth-tok"}) EXPECT_EQ(logs.find(token), logs.npos);
        return process_.Stderr();
    }

    Subprocess& process() { return process_; }

private:
    const TempHome& home_;
    Subprocess process_;
};

nlohmann::json Account(const TempHome& home) { return nlohmann::json::parse(ReadFile(home.store())).at("littleskin"); }

TEST(SignIn, PasswordSignInsSendEscapedCredentialsReportEveryKindOfAnswerAndStoreTheAccount) {
    TempHome home;
    TestHttpServer site;
    site.Handle(kAuthenticate, AuthenticateAnswer);
    Launcher launcher(home, site);
    // Failures change nothing; the page hears why. No password: no request.
    for (const auto& [user, reason] : std::vector<std::pair<std::string, std::string>>{
             {"wrong", R"(凭据无效 \"请重试\")"}, {"limited", "TooManyRequestsException"},
             {"emptytoken", kYggLoginFailed}, {"html", kYggLoginFailed}, {"down", kYggNetworkFailed}}) {
        EXPECT_EQ(launcher.SignIn(user), R"({"type":"yggdrasil:fail","reason":")" + reason + R"("})");
    }
    EXPECT_EQ(launcher.SignIn("full", ""), R"({"type":"yggdrasil:fail","reason":"请输入账号和密码"})");
    EXPECT_EQ(site.CountOf(kAuthenticate), 5);

    // Quotes, backslashes and control bytes are escaped, UTF-8 goes as it is, with a fresh client token each time.
    const std::string password = R"(p\"a\\ss\t\u0001玩)", both = "[" + kAlex + "," + kNight + "]";
    EXPECT_EQ(launcher.SignIn("full", password), Event("yggdrasil:success", "Nightwing", both, kNight));
    EXPECT_EQ(launcher.LoadPage(), Event("yggdrasil:restored", "Nightwing", both, kNight));  // the notice comes once
    const TestRequest sent = site.Requests().back();
    std::smatch token;
    const std::regex uuidShaped(R"re("clientToken":"([0-9a-f]{8}(?:-[0-9a-f]{4}){3}-[0-9a-f]{12})")re");
    ASSERT_TRUE(std::regex_search(sent.body, token, uuidShaped)) << sent.body;
    EXPECT_EQ(token.prefix().str() + "<token>" + token.suffix().str(),
              R"({"agent":{"name":"Minecraft","version":1},"username":"full","password":")" + password +
                  R"(",<token>,"requestUser":true})");
    EXPECT_EQ(sent.Header("Content-Type") + "|" + sent.Header("Accept"), "application/json|application/json");
    const nlohmann::json full = Account(home);
    const std::vector<std::string> stored = {full["access_token"],      full["client_token"], full["current_role"],
                                             full["available_profiles"], full["account_id"],   full["account_name"]};
    EXPECT_EQ(stored, (std::vector<std::string>{"tok-full", token[1].str(), "Nightwing", both, "u-4711",
                                                "alex@example.org"}));  // our client token, not the echoed one

    // No selection: the first role. No role list: the selection is the list. No user: the role's name.
    const std::string first = Role("p1", "First"), solo = Role("s", "Solo");
    EXPECT_EQ(launcher.SignIn("noselected"),
              Event("yggdrasil:success", "First", "[" + first + "," + Role("p2", "Second") + "]", first));
    EXPECT_EQ(launcher.SignIn("nouser"), Event("yggdrasil:success", "Solo", "[" + solo + "]", solo));
    EXPECT_EQ(Account(home)["account_id"], "");
    EXPECT_EQ(Account(home)["account_name"], "Solo");
    EXPECT_EQ(launcher.SignIn("norole"), Event("yggdrasil:success", "Steve_Vorn", "[]", Role("", "")));
    launcher.SignIn("full");
    EXPECT_NE(Account(home)["client_token"], token[1].str());
    EXPECT_NE(launcher.Finish().find("警告：LittleSkin 未返回账号 UUID"), std::string::npos);
}

TEST(SignIn, RoleSwitchStoredSignInRenewalAndSignOut) {
    TempHome home;
    TestHttpServer site;
    site.Handle(kAuthenticate, AuthenticateAnswer);
    std::atomic<bool> refuse{false};
    site.Handle(kRefresh, [&](const TestRequest&) {  // renews without naming a role: the one asked for stands
        return refuse ? JsonReply(403, R"({"error":"ForbiddenOperationException","errorMessage":"令牌已失效"})")
                      : JsonReply(200, R"({"accessToken":"tok-renewed"})");
    });
    {
        Launcher launcher(home, site);
        launcher.SignIn("full");
        const std::string client = Account(home)["client_token"];
        // A name alone picks the role from this run's sign-in; the tokens go along.
        launcher.Send(R"({"type":"role:change","name":"Alex_K"})");
        EXPECT_EQ(launcher.Next(), R"({"type":"role:changed","profile":)" + kAlex + "}");
        EXPECT_EQ(site.Requests().back().body, R"({"accessToken":"tok-full","clientToken":")" + client +
                                                   R"(","selectedProfile":)" + kAlex + R"(,"requestUser":true})");
        EXPECT_EQ(Account(home)["access_token"], "tok-renewed");
        EXPECT_EQ(Account(home)["client_token"], client);
        // An unknown name, and a refused switch, say why and change nothing.
        launcher.Send(R"({"type":"role:change","name":"Nobody"})");
        EXPECT_EQ(launcher.Next(), std::string(R"({"type":"role:changed","error":")") + kUnknownRoleMessage + "\"}");
        refuse = true;
        launcher.Send(R"({"type":"role:change","id":"aa00bb11cc22dd33ee44ff5566778899","name":"Nightwing"})");
        EXPECT_EQ(launcher.Next(), R"({"type":"role:changed","error":"令牌已失效"})");
        EXPECT_EQ(Account(home)["current_role"], "Alex_K");
        launcher.Finish();
    }
    const std::string stored = Account(home)["available_profiles"];
    {
        // Renewal at start fails: the stored sign-in stays in use as it is.
        Launcher launcher(home, site);
        EXPECT_EQ(launcher.LoadPage(), Event("yggdrasil:restored", "Alex_K", stored, kAlex));
        EXPECT_TRUE(launcher.process().WaitForStderr("[Lumivale] 自动登录刷新令牌失败，沿用已存登录态"));
        launcher.Finish();
        EXPECT_EQ(Account(home)["access_token"], "tok-renewed");
    }
    refuse = false;
    Launcher launcher(home, site);
    const int refreshes = site.CountOf(kRefresh);
    launcher.Send(R"({"type":"host:loaded"})");  // the renewal's event and the page load come in either order
    std::set<std::string> events;
    for (int i = 0; i < 6; ++i) {
        const std::string line = launcher.Next();
        if (!line.starts_with(R"({"type":"sys:)")) events.insert(line);
    }
    EXPECT_EQ(events, (std::set<std::string>{Event("yggdrasil:restored", "Alex_K", stored, kAlex),
                                             R"({"type":"yggdrasil:profiles:refreshed","profiles":)" + stored +
                                                 R"(,"profile":)" + kAlex + "}"}));
    EXPECT_EQ(site.CountOf(kRefresh), refreshes + 1);

    launcher.Send(R"({"type":"logout"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"game:stopped"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:reload","error":""})");
    EXPECT_TRUE(launcher.LoadPage().starts_with(R"({"type":"sys:java")"));  // nobody to report
    launcher.Finish();
    for (const char* field : {"access_token", "client_token", "current_role", "current_role_id", "available_profiles"})
        EXPECT_EQ(Account(home)[field], "") << field;
    EXPECT_EQ(Account(home)["account_id"], "u-4711");
}

// Headless, the site opens in the main view and its redirect comes back as a line; the window test exchanges a code.
TEST(SignIn, OAuthRedirectsThatCarryNoUsableCodeSayWhy) {
    TempHome home;
    TestHttpServer site;
    site.Serve("/oauth/token", JsonReply(400, R"({"error":"invalid_grant"})"));
    Launcher launcher(home, site);
    launcher.Send(R"({"type":"oauth:login"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"oauth:starting"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"oauth:starting"})");
    EXPECT_TRUE(launcher.Next().starts_with(R"({"type":"host:navigate","url":")" + site.Url("/oauth/authorize?")));
    // The site refused: its description as it stands, else the error's name; a refused exchange.
    for (const auto& [query, reason, shown] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"error=access_denied&error_description=User%20said%20no&state=1", "User%20said%20no", ""},
             {"state=1&error=access_denied", "OAuth 错误: access_denied", ""},
             {"code=bad&state=1", "token 换取失败", "token 换取失败，请重试"}}) {
        launcher.Send("lumivale://oauth/callback?" + query);
        EXPECT_EQ(launcher.Next(), R"({"type":"oauth:fail","reason":")" + reason + R"("})");
        EXPECT_EQ(launcher.Next(), R"({"type":"host:reload","error":")" + (shown.empty() ? reason : shown) + R"("})");
    }
    launcher.Send("lumivale://oauth/callback?state=1");  // neither: nothing happens
    launcher.Sync();
    EXPECT_EQ(site.CountOf("/oauth/token"), 1);
    // A site that sends the account id as a number.
    site.Serve("/oauth/token", JsonReply(200, R"({"access_token":"oauth-tok"})"));
    site.Serve("/api/user", JsonReply(200, R"({"id":4711,"email":"p@example.com","username":"p"})"));
    launcher.Send("lumivale://oauth/callback?code=good&state=1");
    std::string line;
    do line = launcher.Next(); while (line != R"({"type":"host:reload","error":""})" && line != "<no line>");
    launcher.Finish();
    EXPECT_EQ(Account(home)["account_id"], "4711");
}

TEST(SignInTls, TheSiteIsTrustedOnlyWithItsCertificate) {
    TempHome home;
    const TestCertificate certificate = TestCertificate::Create(home.root());
    TestHttpServer site(certificate);
    site.Serve(kAuthenticate, JsonReply(200, R"({"accessToken":"t"})"));
    const std::string root = site.Url("/api/yggdrasil");
    EXPECT_TRUE(Authenticate({root, certificate.certificateFile.string()}, "a", "p").success);
    // The system store does not know the test's certificate: no answer at all.
    EXPECT_EQ(Authenticate({root, {}}, "a", "p").error, kYggNetworkFailed);
    CloseHttpConnections();
}

}  // namespace
}  // namespace lumivale::test
