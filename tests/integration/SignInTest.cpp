// The LittleSkin account in the running launcher, driven headless against a loopback site that
// answers like LittleSkin: password sign-ins with every kind of answer and the events the page
// gets for them, the role switch, the stored sign-in taken up again (its token renewed or not)
// and sign-out, with the credential store checked after each step.
#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "Subprocess.h"
#include "TempHome.h"
#include "TestHttpServer.h"

namespace lumivale::test {
namespace {

constexpr const char* kAlexId = "1b2c3d4e5f60718293a4b5c6d7e8f901";
constexpr const char* kNightId = "aa00bb11cc22dd33ee44ff5566778899";

TestReply Json(int status, std::string body) {
    TestReply reply = TestReply::Status(status, std::move(body));
    reply.contentType = "application/json; charset=utf-8";
    return reply;
}

// The site's answers to a sign-in, chosen by the user name the launcher sent.
TestReply AuthenticateAnswer(const TestRequest& request) {
    const auto user = [&](const char* name) {
        return request.body.find(std::string("\"username\":\"") + name + "\"") != std::string::npos;
    };
    if (user("full")) {
        return Json(200, std::string(R"({"accessToken":"tok-full","clientToken":"not-ours","availableProfiles":[)") +
                             R"({"id":")" + kAlexId + R"(","name":"Alex_K"},{"id":")" + kNightId +
                             R"(","name":"Nightwing"}],"selectedProfile":{"id":")" + kNightId +
                             R"(","name":"Nightwing"},"user":{"id":"u-4711","username":"alex@example.org"}})");
    }
    if (user("nouser")) return Json(200, R"({"accessToken":"tok-2","selectedProfile":{"id":"id-solo","name":"Solo"}})");
    if (user("noselected")) {
        return Json(200, R"({"accessToken":"tok-3","availableProfiles":[{"id":"p1","name":"First"},)"
                         R"({"id":"p2","name":"Second"}],"user":{"id":"u-3"}})");
    }
    if (user("norole")) return Json(200, R"({"accessToken":"tok-4","user":{"id":"u-4","username":"bob"}})");
    return Json(403, R"({"error":"ForbiddenOperationException","errorMessage":"凭据无效 \"请重试\""})");
}

class Launcher {
public:
    Launcher(const TempHome& home, const TestHttpServer& site)
        : process_(LUMIVALE_EXE, {"--headless", "--home", home.program().string()},
                   {"XDG_DATA_HOME=" + home.data().string(), "LUMIVALE_LITTLESKIN_BASE=" + site.Url(""),
                    // No backend here: registration fails quietly and nothing reaches the page.
                    "LUMIVALE_BACKEND_BASE=http://127.0.0.1:9"}) {}

    void Send(const std::string& line) { process_.Send(line); }
    std::string Next() { return process_.ReadLine().value_or("<no line>"); }
    // Every command sent before has been handled once this answer arrives.
    void Sync() {
        Send(R"({"type":"game:stop"})");
        EXPECT_EQ(Next(), R"({"type":"game:stopped"})");
    }
    // A page load: the account report (when there is one), then the four system reports.
    std::string LoadPage() {
        Send(R"({"type":"host:loaded"})");
        std::string first = Next();
        if (!first.starts_with(R"({"type":"sys:java")")) {
            EXPECT_TRUE(Next().starts_with(R"({"type":"sys:java")"));
        }
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(Next().starts_with(R"({"type":"sys:)"));
        return first;
    }
    std::string SignIn(const std::string& user) {
        Send(R"({"type":"yggdrasil:login","username":")" + user + R"(","password":"pw"})");
        EXPECT_EQ(Next(), R"({"type":"yggdrasil:starting"})");
        const std::string outcome = Next();
        if (outcome != R"({"type":"host:reload","error":""})") return outcome;
        return LoadPage();
    }
    std::string Finish() {
        process_.CloseInput();
        EXPECT_EQ(process_.Wait(), 0);
        return process_.Stderr();
    }

    Subprocess& process() { return process_; }

private:
    Subprocess process_;
};

nlohmann::json Account(const TempHome& home) {
    return nlohmann::json::parse(ReadFile(home.store())).at("littleskin");
}

std::string ClientTokenSent(const TestHttpServer& site) {
    std::string token;
    for (const TestRequest& request : site.Requests()) {
        static const std::regex pattern(R"re("clientToken":"([^"]*)")re");
        std::smatch match;
        if (std::regex_search(request.body, match, pattern)) token = match[1].str();
    }
    return token;
}

TEST(SignIn, PasswordSignInsReportEveryKindOfAnswerAndStoreTheAccount) {
    TempHome home;
    TestHttpServer site;
    site.Handle("/api/yggdrasil/authserver/authenticate", AuthenticateAnswer);
    Launcher launcher(home, site);

    // Failures change nothing and the page only hears the reason, the site's quote decoded.
    EXPECT_EQ(launcher.SignIn("wrong"), R"({"type":"yggdrasil:fail","reason":"凭据无效 \"请重试\""})");
    launcher.Send(R"({"type":"yggdrasil:login","username":"full","password":""})");
    EXPECT_EQ(launcher.Next(), R"({"type":"yggdrasil:starting"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"yggdrasil:fail","reason":"请输入账号和密码"})");
    EXPECT_EQ(site.CountOf("/api/yggdrasil/authserver/authenticate"), 1);

    const std::string alex = std::string(R"({"id":")") + kAlexId + R"(","name":"Alex_K"})";
    const std::string night = std::string(R"({"id":")") + kNightId + R"(","name":"Nightwing"})";
    EXPECT_EQ(launcher.SignIn("full"),
              R"({"type":"yggdrasil:success","name":"Nightwing","profiles":[)" + alex + "," + night +
                  R"(],"profile":)" + night + "}");
    // The notice is given once; later loads restore from what is stored.
    EXPECT_EQ(launcher.LoadPage(), R"({"type":"yggdrasil:restored","name":"Nightwing","profiles":[)" + alex + "," +
                                       night + R"(],"profile":)" + night + "}");
    nlohmann::json account = Account(home);
    EXPECT_EQ(account["access_token"], "tok-full");
    EXPECT_EQ(account["client_token"], ClientTokenSent(site));  // ours, not the one the site echoed
    EXPECT_EQ(account["client_token"].get<std::string>().size(), 36u);
    EXPECT_EQ(account["current_role"], "Nightwing");
    EXPECT_EQ(account["current_role_id"], kNightId);
    EXPECT_EQ(account["available_profiles"], "[" + alex + "," + night + "]");
    EXPECT_EQ(account["account_id"], "u-4711");
    EXPECT_EQ(account["account_name"], "alex@example.org");
    EXPECT_FALSE(nlohmann::json::parse(ReadFile(home.store()))["cloud"]["private_key"].get<std::string>().empty());

    // No "selectedProfile": the first role is chosen.
    EXPECT_EQ(launcher.SignIn("noselected"),
              R"({"type":"yggdrasil:success","name":"First","profiles":[{"id":"p1","name":"First"},)"
              R"({"id":"p2","name":"Second"}],"profile":{"id":"p1","name":"First"}})");
    EXPECT_EQ(Account(home)["account_name"], "First");

    // No role list: the selected role is the list. No "user": no account id, the role's name.
    EXPECT_EQ(launcher.SignIn("nouser"), R"({"type":"yggdrasil:success","name":"Solo","profiles":)"
                                         R"([{"id":"id-solo","name":"Solo"}],"profile":{"id":"id-solo","name":"Solo"}})");
    account = Account(home);
    EXPECT_EQ(account["account_id"], "");
    EXPECT_EQ(account["account_name"], "Solo");

    // No role at all.
    EXPECT_EQ(launcher.SignIn("norole"), R"({"type":"yggdrasil:success","name":"Steve_Vorn","profiles":[],)"
                                         R"("profile":{"id":"","name":""}})");
    account = Account(home);
    EXPECT_EQ(account["current_role"], "");
    EXPECT_EQ(account["available_profiles"], "[]");
    EXPECT_EQ(account["account_id"], "u-4");

    const std::string log = launcher.Finish();
    EXPECT_NE(log.find("[Lumivale] 警告：LittleSkin 未返回账号 UUID，云端游玩时长统计本次不可用（不回退用户名/角色名）"),
              std::string::npos);
}

TEST(SignIn, RoleSwitchStoredSignInRenewalAndSignOut) {
    TempHome home;
    TestHttpServer site;
    site.Handle("/api/yggdrasil/authserver/authenticate", AuthenticateAnswer);
    std::atomic<int> refreshMode{0};
    site.Handle("/api/yggdrasil/authserver/refresh", [&](const TestRequest& request) {
        if (refreshMode == 1) return Json(403, R"({"error":"ForbiddenOperationException","errorMessage":"令牌已失效"})");
        // The site renews the token and confirms the requested role.
        const bool alex = request.body.find("Alex_K") != std::string::npos;
        return Json(200, std::string(R"({"accessToken":"tok-renewed","selectedProfile":{"id":")") +
                             (alex ? kAlexId : kNightId) + R"(","name":")" + (alex ? "Alex_K" : "Nightwing") +
                             R"("}})");
    });

    {
        Launcher launcher(home, site);
        launcher.SignIn("full");
        const std::string clientToken = Account(home)["client_token"];

        // A name alone picks the role from this run's sign-in; the tokens go along unchanged.
        launcher.Send(R"({"type":"role:change","name":"Alex_K"})");
        EXPECT_EQ(launcher.Next(),
                  std::string(R"({"type":"role:changed","profile":{"id":")") + kAlexId + R"(","name":"Alex_K"}})");
        const TestRequest refresh = site.Requests().back();
        EXPECT_EQ(refresh.body, std::string(R"({"accessToken":"tok-full","clientToken":")") + clientToken +
                                    R"(","selectedProfile":{"id":")" + kAlexId +
                                    R"(","name":"Alex_K"},"requestUser":true})");
        nlohmann::json account = Account(home);
        EXPECT_EQ(account["access_token"], "tok-renewed");
        EXPECT_EQ(account["client_token"], clientToken);
        EXPECT_EQ(account["current_role"], "Alex_K");
        EXPECT_EQ(account["current_role_id"], kAlexId);

        // Unknown names are ignored without a word; a refused switch says why.
        launcher.Send(R"({"type":"role:change","name":"Nobody"})");
        launcher.Sync();
        refreshMode = 1;
        launcher.Send(std::string(R"({"type":"role:change","id":")") + kNightId + R"(","name":"Nightwing"})");
        EXPECT_EQ(launcher.Next(), R"({"type":"role:changed","error":"令牌已失效"})");
        EXPECT_EQ(Account(home)["current_role"], "Alex_K");
        launcher.Finish();
    }
    const std::string stored = Account(home)["available_profiles"];
    const std::string alex = std::string(R"({"id":")") + kAlexId + R"(","name":"Alex_K"})";

    {
        // Renewal at start fails: the stored sign-in stays in use as it is.
        Launcher launcher(home, site);
        EXPECT_EQ(launcher.LoadPage(),
                  R"({"type":"yggdrasil:restored","name":"Alex_K","profiles":)" + stored + R"(,"profile":)" + alex + "}");
        EXPECT_TRUE(launcher.process().WaitForStderr("[Lumivale] 自动登录刷新令牌失败，沿用已存登录态"));
        launcher.Finish();
        EXPECT_EQ(Account(home)["access_token"], "tok-renewed");
    }

    refreshMode = 0;
    {
        Launcher launcher(home, site);
        const int refreshesBefore = site.CountOf("/api/yggdrasil/authserver/refresh");
        // The renewal's answer and the page load arrive in either order.
        launcher.Send(R"({"type":"host:loaded"})");
        std::set<std::string> account;
        int reports = 0;
        for (int i = 0; i < 6; ++i) {  // the two account events and the four system reports
            const std::string line = launcher.Next();
            if (line.find(R"("type":"sys:)") == std::string::npos) account.insert(line);
            else ++reports;
        }
        EXPECT_EQ(reports, 4);
        EXPECT_EQ(account, (std::set<std::string>{
                               R"({"type":"yggdrasil:restored","name":"Alex_K","profiles":)" + stored +
                                   R"(,"profile":)" + alex + "}",
                               R"({"type":"yggdrasil:profiles:refreshed","profiles":)" + stored +
                                   R"(,"profile":)" + alex + "}"}));
        EXPECT_EQ(site.CountOf("/api/yggdrasil/authserver/refresh"), refreshesBefore + 1);
        launcher.Sync();

        // Without a sign-in in this run, a name alone names no known role.
        launcher.Send(R"({"type":"role:change","name":"Nightwing"})");
        launcher.Sync();
        EXPECT_EQ(site.CountOf("/api/yggdrasil/authserver/refresh"), refreshesBefore + 1);

        launcher.Send(R"({"type":"logout"})");
        EXPECT_EQ(launcher.Next(), R"({"type":"game:stopped"})");  // the stop that comes first
        EXPECT_EQ(launcher.Next(), R"({"type":"host:reload","error":""})");
        EXPECT_TRUE(launcher.LoadPage().starts_with(R"({"type":"sys:java")"));  // nobody to report
        launcher.Finish();
    }
    const nlohmann::json account = Account(home);
    for (const char* emptied : {"access_token", "client_token", "current_role", "current_role_id", "available_profiles"}) {
        EXPECT_EQ(account[emptied], "") << emptied;
    }
    EXPECT_EQ(account["account_id"], "u-4711");
    EXPECT_EQ(account["account_name"], "alex@example.org");
}

// Without a panel (headless) the site's page opens in the main view; the redirect comes back as
// a "lumivale://" line.
TEST(SignIn, OAuthRedirectsExchangeTheCodeOrReportWhyNot) {
    TempHome home;
    TestHttpServer site;
    std::atomic<int> tokenMode{0};
    site.Handle("/oauth/token", [&](const TestRequest&) {
        return tokenMode == 0 ? Json(200, R"({"access_token":"oauth-tok","token_type":"Bearer"})")
                              : Json(400, R"({"error":"invalid_grant"})");
    });
    site.ServeSequence("/api/user", {Json(200, R"({"id":"u-oauth","email":"kim@example.org","username":"kim"})"),
                                     TestReply::Status(500, "<html>oops</html>")});
    Launcher launcher(home, site);

    launcher.Send(R"({"type":"oauth:login"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"oauth:starting"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"oauth:starting"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:navigate","url":")" + site.Url("") +
                                   R"(/oauth/authorize?client_id=0000&redirect_uri=lumivale%3A%2F%2Foauth%2Fcallback)"
                                   R"(&response_type=code&scope=User.Read+Yggdrasil.PlayerProfiles.Read+)"
                                   R"(Yggdrasil.MinecraftToken.Create"})");

    // The site refused: its description as it stands, or the error's name.
    launcher.Send("lumivale://oauth/callback?error=access_denied&error_description=User%20said%20no&state=1");
    EXPECT_EQ(launcher.Next(), R"({"type":"oauth:fail","reason":"User%20said%20no"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:reload","error":"User%20said%20no"})");
    launcher.Send("lumivale://oauth/callback?state=1&error=access_denied");
    EXPECT_EQ(launcher.Next(), R"({"type":"oauth:fail","reason":"OAuth 错误: access_denied"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:reload","error":"OAuth 错误: access_denied"})");
    launcher.Send("lumivale://oauth/callback?state=1");  // neither: nothing happens
    launcher.Sync();
    EXPECT_EQ(site.CountOf("/oauth/token"), 0);

    // A code, followed by more of the query, is exchanged and the account read.
    launcher.Send("lumivale://oauth/callback?code=c0de-42&state=1");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:reload","error":""})");
    EXPECT_EQ(launcher.LoadPage(), R"({"type":"yggdrasil:success","name":"","profiles":[],"profile":{"id":"","name":""}})");
    const std::vector<TestRequest> requests = site.Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[requests.size() - 2].body,
              "grant_type=authorization_code&client_id=0000&client_secret=0000000000000000000000000000000000000000"
              "&code=c0de-42&redirect_uri=lumivale://oauth/callback");
    EXPECT_EQ(requests[requests.size() - 2].Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests.back().Header("Authorization"), "Bearer oauth-tok");
    nlohmann::json account = Account(home);
    EXPECT_EQ(account["access_token"], "oauth-tok");
    EXPECT_EQ(account["account_id"], "u-oauth");
    EXPECT_EQ(account["account_name"], "kim@example.org");

    // A second code whose account read fails keeps the account; a refused exchange says so.
    launcher.Send("lumivale://oauth/callback?code=again");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:reload","error":""})");
    EXPECT_EQ(Account(home)["account_id"], "u-oauth");
    tokenMode = 1;
    launcher.Send("lumivale://oauth/callback?code=bad");
    EXPECT_EQ(launcher.Next(), R"({"type":"oauth:fail","reason":"token 换取失败"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:reload","error":"token 换取失败，请重试"})");
    EXPECT_EQ(Account(home)["access_token"], "oauth-tok");
    launcher.Finish();
}

}  // namespace
}  // namespace lumivale::test
