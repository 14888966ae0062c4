// The LittleSkin account in the headless launcher against a loopback site: sign-ins, role switch, the stored
// sign-in renewed at start, sign-out and OAuth redirects, with the page's events and the credential store.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "AccountTestSupport.h"
#include "Subprocess.h"
#include "TempHome.h"

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

// The site's answer to a sign-in, chosen by the user name sent.
TestReply AuthenticateAnswer(const TestRequest& request) {
    const auto user = [&](const std::string& name) { return request.body.find("\"" + name + "\"") != std::string::npos; };
    if (user("full")) {
        return JsonReply(200, R"({"accessToken":"tok-full","clientToken":"not-ours","availableProfiles":[)" + kAlex +
                                  "," + kNight + R"(],"selectedProfile":)" + kNight +
                                  R"(,"user":{"id":"u-4711","username":"alex@example.org"}})");
    }
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
        const std::string first = Next();
        for (int i = first.starts_with(R"({"type":"sys:)"); i < 4; ++i) EXPECT_TRUE(Next().starts_with(R"({"type":"sys:)"));
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
        const auto diag = home_.program() / "log" / "diag.log";
        const std::string logs = process_.Stderr() + (std::filesystem::exists(diag) ? ReadFile(diag) : "");
        for (const char* token : {"tok-full", "tok-renewed", "oauth-tok"}) EXPECT_EQ(logs.find(token), std::string::npos);
        return process_.Stderr();
    }
    Subprocess& process() { return process_; }

private:
    const TempHome& home_;
    Subprocess process_;
};

nlohmann::json Stored(const TempHome& home) { return nlohmann::json::parse(ReadFile(home.store())); }
nlohmann::json Account(const TempHome& home) { return Stored(home).at("littleskin"); }

TEST(SignIn, PasswordSignInsReportEveryKindOfAnswerAndStoreTheAccount) {
    TempHome home;
    TestHttpServer site;
    site.Handle(kAuthenticate, AuthenticateAnswer);
    Launcher launcher(home, site);
    // Failures change nothing; the page hears the reason, the site's quote decoded. No password: no request.
    EXPECT_EQ(launcher.SignIn("wrong"), R"({"type":"yggdrasil:fail","reason":"凭据无效 \"请重试\""})");
    EXPECT_EQ(launcher.SignIn("full", ""), R"({"type":"yggdrasil:fail","reason":"请输入账号和密码"})");
    EXPECT_EQ(site.CountOf(kAuthenticate), 1);

    const std::string both = "[" + kAlex + "," + kNight + "]";
    EXPECT_EQ(launcher.SignIn("full"), Event("yggdrasil:success", "Nightwing", both, kNight));
    EXPECT_EQ(launcher.LoadPage(), Event("yggdrasil:restored", "Nightwing", both, kNight));  // the notice comes once
    std::smatch sent;
    const std::string body = site.Requests().back().body;
    ASSERT_TRUE(std::regex_search(body, sent, std::regex(R"re("clientToken":"([^"]+)")re")));
    const nlohmann::json full = Account(home);
    const std::vector<std::string> stored = {full["access_token"],      full["client_token"], full["current_role"],
                                             full["available_profiles"], full["account_id"],   full["account_name"]};
    EXPECT_EQ(stored, (std::vector<std::string>{"tok-full", sent[1].str(), "Nightwing", both, "u-4711",
                                                "alex@example.org"}));  // our client token, not the echoed one
    EXPECT_FALSE(Stored(home)["cloud"]["private_key"].get<std::string>().empty());

    // No selection: the first role. No role list: the selection is the list. No user: the role's name.
    const std::string first = Role("p1", "First"), solo = Role("s", "Solo");
    EXPECT_EQ(launcher.SignIn("noselected"),
              Event("yggdrasil:success", "First", "[" + first + "," + Role("p2", "Second") + "]", first));
    EXPECT_EQ(launcher.SignIn("nouser"), Event("yggdrasil:success", "Solo", "[" + solo + "]", solo));
    EXPECT_EQ(Account(home)["account_id"], "");
    EXPECT_EQ(Account(home)["account_name"], "Solo");
    EXPECT_EQ(launcher.SignIn("norole"), Event("yggdrasil:success", "Steve_Vorn", "[]", Role("", "")));
    EXPECT_NE(launcher.Finish().find("警告：LittleSkin 未返回账号 UUID"), std::string::npos);
}

TEST(SignIn, RoleSwitchStoredSignInRenewalAndSignOut) {
    TempHome home;
    TestHttpServer site;
    site.Handle(kAuthenticate, AuthenticateAnswer);
    std::atomic<bool> refuse{false};
    site.Handle(kRefresh, [&](const TestRequest& request) {  // renews and confirms the role asked for
        if (refuse) return JsonReply(403, R"({"error":"ForbiddenOperationException","errorMessage":"令牌已失效"})");
        const bool alex = request.body.find("Alex_K") != std::string::npos;
        return JsonReply(200, R"({"accessToken":"tok-renewed","selectedProfile":)" + (alex ? kAlex : kNight) + "}");
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
        // Unknown names are ignored; a refused switch says why and changes nothing.
        launcher.Send(R"({"type":"role:change","name":"Nobody"})");
        launcher.Sync();
        refuse = true;
        launcher.Send(R"({"type":"role:change","id":"aa00bb11cc22dd33ee44ff5566778899","name":"Nightwing"})");
        EXPECT_EQ(launcher.Next(), R"({"type":"role:changed","error":"令牌已失效"})");
        EXPECT_EQ(Account(home)["current_role"], "Alex_K");
        launcher.Finish();
    }
    const std::string stored = Account(home)["available_profiles"], key = Stored(home)["cloud"]["private_key"];
    {
        // Renewal at start fails: the stored sign-in stays in use as it is, and so does the key.
        Launcher launcher(home, site);
        EXPECT_EQ(launcher.LoadPage(), Event("yggdrasil:restored", "Alex_K", stored, kAlex));
        EXPECT_TRUE(launcher.process().WaitForStderr("[Lumivale] 自动登录刷新令牌失败，沿用已存登录态"));
        launcher.Finish();
        EXPECT_EQ(Account(home)["access_token"], "tok-renewed");
        EXPECT_EQ(Stored(home)["cloud"]["private_key"], key);
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
    launcher.Send(R"({"type":"role:change","name":"Nightwing"})");  // no sign-in in this run: an unknown name
    launcher.Sync();
    EXPECT_EQ(site.CountOf(kRefresh), refreshes + 1);

    launcher.Send(R"({"type":"logout"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"game:stopped"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:reload","error":""})");
    EXPECT_TRUE(launcher.LoadPage().starts_with(R"({"type":"sys:java")"));  // nobody to report
    launcher.Finish();
    for (const char* emptied : {"access_token", "client_token", "current_role", "current_role_id", "available_profiles"}) {
        EXPECT_EQ(Account(home)[emptied], "") << emptied;
    }
    EXPECT_EQ(Account(home)["account_id"], "u-4711");
}

// Headless, the site's page opens in the main view and the redirect comes back as a "lumivale://" line.
TEST(SignIn, OAuthRedirectsExchangeTheCodeOrReportWhyNot) {
    TempHome home;
    TestHttpServer site;
    std::atomic<bool> refuse{false};
    site.Handle("/oauth/token", [&](const TestRequest&) {
        return refuse ? JsonReply(400, R"({"error":"invalid_grant"})")
                      : JsonReply(200, R"({"access_token":"oauth-tok","token_type":"Bearer"})");
    });
    site.Serve("/api/user", JsonReply(200, R"({"id":"u-oauth","email":"kim@example.org","username":"kim"})"));
    Launcher launcher(home, site);
    launcher.Send(R"({"type":"oauth:login"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"oauth:starting"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"oauth:starting"})");
    EXPECT_TRUE(launcher.Next().starts_with(R"({"type":"host:navigate","url":")" + site.Url("/oauth/authorize?")));

    // The site refused: its description as it stands, else the error's name; neither: nothing happens.
    for (const auto& [query, reason] : std::vector<std::pair<std::string, std::string>>{
             {"error=access_denied&error_description=User%20said%20no&state=1", "User%20said%20no"},
             {"state=1&error=access_denied", "OAuth 错误: access_denied"}}) {
        launcher.Send("lumivale://oauth/callback?" + query);
        EXPECT_EQ(launcher.Next(), R"({"type":"oauth:fail","reason":")" + reason + R"("})");
        EXPECT_EQ(launcher.Next(), R"({"type":"host:reload","error":")" + reason + R"("})");
    }
    launcher.Send("lumivale://oauth/callback?state=1");
    launcher.Sync();
    EXPECT_EQ(site.CountOf("/oauth/token"), 0);

    // A code, followed by more of the query, is exchanged and the account read with the token.
    launcher.Send("lumivale://oauth/callback?code=c0de-42&state=1");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:reload","error":""})");
    EXPECT_EQ(launcher.LoadPage(), Event("yggdrasil:success", "", "[]", Role("", "")));
    const std::vector<TestRequest> requests = site.Requests();
    EXPECT_EQ(requests[requests.size() - 2].body,
              "grant_type=authorization_code&client_id=0000&client_secret=0000000000000000000000000000000000000000"
              "&code=c0de-42&redirect_uri=lumivale://oauth/callback");
    EXPECT_EQ(requests[requests.size() - 2].Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests.back().Header("Authorization"), "Bearer oauth-tok");
    EXPECT_EQ(Account(home)["account_name"], "kim@example.org");

    refuse = true;  // a refused exchange says so and keeps the account
    launcher.Send("lumivale://oauth/callback?code=bad");
    EXPECT_EQ(launcher.Next(), R"({"type":"oauth:fail","reason":"token 换取失败"})");
    EXPECT_EQ(launcher.Next(), R"({"type":"host:reload","error":"token 换取失败，请重试"})");
    EXPECT_EQ(Account(home)["access_token"], "oauth-tok");
    launcher.Finish();
}

}  // namespace
}  // namespace lumivale::test
