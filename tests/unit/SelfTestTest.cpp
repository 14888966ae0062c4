// The self-test's verdicts against a stand-in web view playing a page and a runtime that behave well or badly.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "SelfTest.h"

namespace lumivale {
namespace {

struct Behaviour {
    bool starts = true;          // the web view starts at all
    bool answers = true;         // the page's listener answers pings
    bool guardsFile = true;      // the guard reports and cancels a file: navigation
    bool fileLoads = false;      // ... otherwise the file: address replaces the page
    bool fileReloads = false;    // ... or the page loads anew
    bool guardsDownload = true;  // the guard reports and cancels a download
};

class StandInView : public WebViewHost {
public:
    StandInView(std::shared_ptr<UiLoop> loop, Behaviour behaviour) : loop_(std::move(loop)), behaviour_(behaviour) {}

    bool Init(WebViewCallbacks callbacks) override {
        if (!behaviour_.starts) return false;
        callbacks_ = std::move(callbacks);
        loop_->Post([this] { callbacks_.onPageReady(); });
        return true;
    }
    void RunScript(const std::string& script) override {
        if (script == kSelfTestListenerScript) {
            listening_ = true;
        } else if (script == kSelfTestFileScript) {
            if (behaviour_.guardsFile) {
                callbacks_.onRefused(Refusal::FileNavigation, "file:///lumivale-self-test.txt");
            } else if (behaviour_.fileLoads) {
                listening_ = false;  // another document: nobody listens
            } else if (behaviour_.fileReloads) {
                listening_ = false;
                ++document_;
                loop_->Post([this] { callbacks_.onPageReady(); });
            }
        } else if (script == kSelfTestDownloadScript && behaviour_.guardsDownload) {
            callbacks_.onRefused(Refusal::Download, "");
        }
    }
    void PostJson(const std::string& json) override {
        const auto ping = nlohmann::json::parse(json);
        if (!listening_ || !behaviour_.answers || ping["type"] != "selftest:ping") return;
        const std::string pong = nlohmann::json{{"type", "selftest:pong"},
                                                {"token", ping["token"]},
                                                {"document", std::to_string(document_)}}
                                     .dump();
        loop_->Post([this, pong] { callbacks_.onMessage(R"({"type":"config"})"); callbacks_.onMessage(pong); });
    }
    void Navigate(const std::string&) override {}
    void ReloadWithError(const std::string&) override {}
    void Close() override {}

private:
    std::shared_ptr<UiLoop> loop_;
    Behaviour behaviour_;
    WebViewCallbacks callbacks_;
    bool listening_ = false;
    int document_ = 1;
};

SelfTestResult RunAgainst(Behaviour behaviour) {
    auto loop = std::make_shared<UiLoop>();
    loop->BindToCurrentThread();
    auto view = std::make_shared<StandInView>(loop, behaviour);
    SelfTestResult result;
    int calls = 0;
    StartSelfTest(loop, view, true, {std::chrono::milliseconds(50), std::chrono::seconds(30)},
                  [&](const SelfTestResult& outcome) {
                      result = outcome;
                      ++calls;
                      loop->Quit();
                  });
    if (calls == 0) loop->Run();
    EXPECT_EQ(calls, 1);
    return result;
}

TEST(SelfTest, EveryCheckMustHoldAndTheFirstThatFailsIsNamed) {
    const struct {
        const char* name;
        Behaviour behaviour;
        bool bridge, fileRefused, fileGuarded, downloadRefused;
        const char* failure;
    } cases[] = {
        {"all well", {}, true, true, true, true, ""},
        {"the runtime refuses the file by itself", {.guardsFile = false}, true, true, false, true, ""},
        {"the file replaces the page", {.guardsFile = false, .fileLoads = true}, true, false, false, false,
         "file: 导航之后页面不再回应"},
        {"the page loads anew", {.guardsFile = false, .fileReloads = true}, true, false, false, false,
         "file: 导航没有被拦截：页面被重新加载"},
        {"the page does not answer", {.answers = false}, false, false, false, false, "页面没有回应桥接消息"},
        {"the download goes ahead", {.guardsDownload = false}, true, true, true, false, "下载没有被拦截"},
        {"no web view", {.starts = false}, false, false, false, false, "网页视图无法启动（WebView2 运行库缺失？）"},
    };
    for (const auto& c : cases) {
        const SelfTestResult result = RunAgainst(c.behaviour);
        EXPECT_EQ(result.page, c.behaviour.starts) << c.name;
        EXPECT_EQ(result.bridge, c.bridge) << c.name;
        EXPECT_EQ(result.fileNavigationRefused, c.fileRefused) << c.name;
        EXPECT_EQ(result.fileNavigationGuarded, c.fileGuarded) << c.name;
        EXPECT_EQ(result.downloadRefused, c.downloadRefused) << c.name;
        EXPECT_EQ(result.failure, c.failure) << c.name;
        EXPECT_EQ(result.Passed(), std::string(c.failure).empty()) << c.name;
        const auto json = nlohmann::json::parse(result.ToJson());
        EXPECT_EQ(json["passed"], result.Passed()) << c.name;
        EXPECT_EQ(json["failure"], c.failure) << c.name;
    }
}

}  // namespace
}  // namespace lumivale
