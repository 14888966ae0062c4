// What every desktop host lets through and the scripts it runs: the guards of the real windows.
#include <gtest/gtest.h>

#include "WebViewRules.h"

namespace lumivale {
namespace {

TEST(WebViewRules, NavigationsAreSortedIntoLauncherBlockedFileAndOrdinary) {
    const std::string fallback = "file:///C:/Users/p/AppData/Local/Temp/lvl1A2.html";
    const struct {
        const char* uri;
        NavigationVerdict verdict;
    } cases[] = {
        {"lumivale://oauth?code=abc&state=1", NavigationVerdict::ToLauncher},
        {"lumivale://", NavigationVerdict::ToLauncher},
        {"LUMIVALE://oauth?code=abc", NavigationVerdict::Proceed},  // the redirect is matched exactly
        {"file:///C:/Windows/win.ini", NavigationVerdict::BlockedFile},
        {"FILE:///C:/Windows/win.ini", NavigationVerdict::BlockedFile},
        {"file://server/share/x.jar", NavigationVerdict::BlockedFile},
        {"file:/etc/passwd", NavigationVerdict::BlockedFile},
        {"file:///C:/Users/p/AppData/Local/Temp/lvl1A2.html", NavigationVerdict::Proceed},  // the host's own page
        {"file:///C:/Users/p/AppData/Local/Temp/lvl1A2.html?x", NavigationVerdict::BlockedFile},
        {"https://littleskin.cn/oauth/authorize", NavigationVerdict::Proceed},
        {"http://127.0.0.1:8080/", NavigationVerdict::Proceed},
        {"data:text/html,<p>x</p>", NavigationVerdict::Proceed},
        {"about:blank", NavigationVerdict::Proceed},
        {"", NavigationVerdict::Proceed},
    };
    for (const auto& c : cases) EXPECT_EQ(JudgeNavigation(c.uri, fallback), c.verdict) << c.uri;
    // Without a page file of its own, no file address at all gets through.
    EXPECT_EQ(JudgeNavigation(fallback, ""), NavigationVerdict::BlockedFile);
}

TEST(WebViewRules, NavigateTakesAddressesAsGivenAndEverythingElseAsAPath) {
    for (const char* target : {"http://a", "HTTPS://littleskin.cn/x", "Lumivale://oauth?code=1"}) {
        EXPECT_TRUE(IsAddressTarget(target)) << target;
    }
    for (const char* target : {"C:\\Users\\p\\page.html", "/tmp/page.html", "ftp://a", "https:/a", "http", ""}) {
        EXPECT_FALSE(IsAddressTarget(target)) << target;
    }
    for (const char* address : {"https://littleskin.cn/user", "HTTP://a"}) EXPECT_TRUE(IsBrowserAddress(address)) << address;
    for (const char* address : {"file:///C:/Windows/System32/calc.exe", "C:\\Windows\\notepad.exe", "lumivale://x",
                                "ms-settings:", "javascript:alert(1)", ""}) {
        EXPECT_FALSE(IsBrowserAddress(address)) << address;
    }
    EXPECT_EQ(FileAddressOfWindowsPath("C:\\Users\\玩家\\AppData\\Local\\Temp\\lvl3F.html"),
              "file:///C:/Users/玩家/AppData/Local/Temp/lvl3F.html");
}

TEST(WebViewRules, ScriptsCarryDataThatCannotBecomeCode) {
    EXPECT_EQ(PictureScript("--bg", "iVBORw0KGgo="),
              "document.documentElement.style.setProperty('--bg','url(\"data:image/png;base64,iVBORw0KGgo=\")')");
    EXPECT_EQ(PictureScript("--logo", ""), "") << "a missing picture sets nothing";

    EXPECT_EQ(BootErrorScript("token 换取失败，请重试"), "window.__bootError=\"token 换取失败，请重试\";");
    EXPECT_EQ(BootErrorScript("a\"b\\c\nd</script><script>alert(1)"),
              "window.__bootError=\"a\\\"b\\\\c\\nd\\u003c/script>\\u003cscript>alert(1)\";");

    const struct {
        const char* page;
        const char* withScript;
    } pages[] = {
        {"<!DOCTYPE html><html><head><title>x</title>", "<!DOCTYPE html><html><head><script>S</script><title>x</title>"},
        {"<HTML><HEAD lang=\"zh\">", "<HTML><HEAD lang=\"zh\"><script>S</script>"},
        {"<body><header>h</header><head>", "<body><header>h</header><head><script>S</script>"},
        {"<p>no head</p>", "<script>S</script><p>no head</p>"},
        {"<head", "<script>S</script><head"},
    };
    for (const auto& c : pages) EXPECT_EQ(PageWithFirstScript(c.page, "S"), c.withScript) << c.page;

    EXPECT_EQ(DeliveryScript(R"({"type":"oauth:starting"})"),
              R"(window.__lumivaleDeliver&&window.__lumivaleDeliver({"type":"oauth:starting"});)");
    for (const char* notJson : {"", "{", "1);alert(1", R"({"a":1});alert(1);({)", "undefined"}) {
        EXPECT_EQ(DeliveryScript(notJson), "") << notJson;
    }
}

}  // namespace
}  // namespace lumivale
