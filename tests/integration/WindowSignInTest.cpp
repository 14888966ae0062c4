// The real window on a private X server: the sign-in panel docked right, the site inside it, its redirect signing in.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "AccountTestSupport.h"
#include "Subprocess.h"
#include "TempHome.h"
#include "TestHttpServer.h"

namespace lumivale::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kXvfb = "/usr/bin/Xvfb";

std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        ::pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

std::string Pixel(const std::filesystem::path& shot, int x, int y) {
    return Capture("convert '" + shot.string() + "' -format '%[pixel:p{" + std::to_string(x) + "," +
                   std::to_string(y) + "}]' info:");
}


// The launcher's page: asks for the sign-in once, closes the window once the account is signed in.
constexpr const char* kLauncherPage = R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"><script>
var webview = window.chrome.webview, post = function (m) { webview.postMessage(JSON.stringify(m)); };
webview.addEventListener('message', function (event) {
  if (event.data.type === 'sys:config' && !localStorage.getItem('asked')) post({ type: 'oauth:login' });
  if (event.data.type === 'sys:config') localStorage.setItem('asked', '1');
  if (event.data.type === 'yggdrasil:success') post({ type: 'window', action: 'close' });
});
</script></head><body style="margin:0;background:rgb(255,240,246)"></body></html>)HTML";

// The site's sign-in page: one flat colour; goes on to the approval once the test says so.
constexpr const char* kAuthorizePage = R"HTML(<!DOCTYPE html><html><head><meta charset="utf-8"></head>
<body style="margin:0;height:100vh;background:rgb(0,200,120)"><script>
setInterval(function () {
  fetch('/oauth/go').then(function (r) { if (r.status === 200) location.href = '/oauth/approve'; });
}, 200);
</script></body></html>)HTML";

TEST(WindowSignIn, PanelDocksRightShowsTheSiteAndItsRedirectSignsIn) {
    if (!std::filesystem::exists(kXvfb)) GTEST_SKIP() << "Xvfb is not installed";
    Subprocess xserver(kXvfb, {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    const std::string display = ":" + xserver.ReadLine(60s).value_or("");
    ASSERT_NE(display, ":");

    TempHome home;
    const std::filesystem::path temp = home.root() / "tmp";
    std::filesystem::create_directories(temp);
    WriteFile(home.root() / "page.html", kLauncherPage);

    TestHttpServer site;
    std::atomic<bool> approved{false};
    TestReply authorizePage = TestReply::Ok(kAuthorizePage);
    authorizePage.contentType = "text/html; charset=utf-8";
    site.Serve("/oauth/authorize", authorizePage);
    site.Handle("/oauth/go",
                [&](const TestRequest&) { return approved ? TestReply::Ok("go") : TestReply::Status(204); });
    site.Serve("/oauth/approve", TestReply::Redirect(302, "lumivale://oauth/callback?code=panel-c0de&state=7"));
    site.Serve("/oauth/token", JsonReply(200, R"({"access_token":"panel-tok","token_type":"Bearer"})"));
    site.Handle("/api/user", [](const TestRequest& request) {  // the account is read with the new token
        return request.Header("Authorization") == "Bearer panel-tok"
                   ? JsonReply(200, R"({"id":"u-panel","email":"","username":"lin"})")
                   : TestReply::Status(401);
    });

    Subprocess launcher(LUMIVALE_EXE, {"--home", home.program().string()},
                        {"DISPLAY=" + display, "XDG_DATA_HOME=" + home.data().string(),
                         "TMPDIR=" + temp.string(), "XDG_CACHE_HOME=" + (home.root() / "cache").string(),
                         "LUMIVALE_LITTLESKIN_BASE=" + site.base(),
                         "LUMIVALE_UI_PAGE=" + (home.root() / "page.html").string()});

    // The panel shows the site's page, which keeps asking whether to go on.
    ASSERT_TRUE(Eventually([&] { return site.CountOf("/oauth/go") >= 2; }, 120s)) << "the panel never showed the site";
    const auto authorize = site.Requests().front();
    EXPECT_EQ(authorize.path, "/oauth/authorize");
    EXPECT_EQ(authorize.query,
              "client_id=0000&redirect_uri=lumivale%3A%2F%2Foauth%2Fcallback&response_type=code"
              "&scope=User.Read+Yggdrasil.PlayerProfiles.Read+Yggdrasil.MinecraftToken.Create");

    // The main window fills the screen at 0,0; the panel covers its right 460 pixels.
    const std::filesystem::path shot = std::filesystem::path(LUMIVALE_ARTIFACTS) / "lumivale-auth-panel.png";
    std::filesystem::create_directories(shot.parent_path());
    const int left = 1280 - 460;
    const bool painted = Eventually([&] {
        Capture("DISPLAY=" + display + " import -window root '" + shot.string() + "'");
        return Pixel(shot, left + 230, 400) == "srgb(0,200,120)";
    }, 60s);
    std::printf("auth panel screenshot: %s\n", shot.c_str());
    EXPECT_TRUE(painted) << "the site's page is not in the panel";
    EXPECT_EQ(Pixel(shot, 400, 400), "srgb(255,240,246)") << "the launcher's page left of the panel";
    EXPECT_EQ(Pixel(shot, left + 440, 24), "srgb(40,26,70)") << "the header band";
    EXPECT_EQ(Pixel(shot, left + 2, 46), "srgb(40,26,70)") << "the header band";
    EXPECT_EQ(Pixel(shot, left + 230, 47 + 2), "srgb(0,200,120)") << "the web view starts below the band";
    EXPECT_NE(Pixel(shot, left + 14 + 38, 8 + 16), "srgb(40,26,70)") << "the back button";
    const std::string titleColours = Capture("convert '" + shot.string() + "' -crop 120x24+" +
                                             std::to_string(left + 100) + "+12 -format %k info:");
    EXPECT_GT(std::atoi(titleColours.c_str()), 2) << "the title text";

    // The site approves: its redirect closes the panel, the code is exchanged, the page hears of the account.
    approved = true;
    EXPECT_EQ(launcher.Wait(120s), 0);
    ASSERT_EQ(site.CountOf("/oauth/token"), 1);
    for (const auto& request : site.Requests()) {
        if (request.path != "/oauth/token") continue;
        EXPECT_EQ(request.body, "grant_type=authorization_code&client_id=0000&client_secret=" + std::string(40, '0') +
                                    "&code=panel-c0de&redirect_uri=lumivale://oauth/callback");
        EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
    }
    const std::string store = ReadFile(home.store());
    EXPECT_NE(store.find(R"("access_token": "panel-tok")"), std::string::npos) << store;
    EXPECT_NE(store.find(R"("account_id": "u-panel")"), std::string::npos) << store;
    // The web views keep their data in the user's own cache folder, readable by the user alone.
    for (const char* view : {"WebView", "WebViewAuth"}) {
        const auto folder = home.root() / "cache" / "LumivaleLauncher" / view;
        EXPECT_EQ(std::filesystem::status(folder).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_all) << view;
    }
}

}  // namespace
}  // namespace lumivale::test
