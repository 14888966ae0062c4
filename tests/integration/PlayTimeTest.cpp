// The play-time service with short waits against a stand-in backend that fails on demand; the game launch test
// runs it against the reference backend.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>

#include "AccountTestSupport.h"
#include "HttpTransport.h"
#include "PlayTimeService.h"

namespace lumivale::test {
namespace {

using namespace std::chrono_literals;

// A service holding test key 0 that writes its page events and console lines into one log.
struct Service {
    explicit Service(const std::string& base, int reconnectAttempts = 2) {
        cloud = std::make_shared<CloudClient>(base);
        EXPECT_TRUE(cloud->Keys().ImportPrivateKey(TestKey()));
        const auto add = [this](std::string_view line) {
            std::lock_guard lock(mutex);
            log += std::string(line) + "\n";
        };
        service = PlayTimeService::Create(cloud, add, {10ms, 3, 50ms, reconnectAttempts}, add);
    }
    ~Service() {
        service->Stop();
        CloseHttpConnections();
    }
    bool WaitFor(const std::string& pattern, int count = 1) {
        const std::regex re(pattern, std::regex::multiline);
        return Eventually([&] {
            std::lock_guard lock(mutex);
            return std::distance(std::sregex_iterator(log.begin(), log.end(), re), std::sregex_iterator()) >= count;
        });
    }

    std::mutex mutex;
    std::string log;
    std::shared_ptr<CloudClient> cloud;
    std::shared_ptr<PlayTimeService> service;
};

TEST(PlayTime, RegistrationCooldownsAndTheLock) {
    TestHttpServer site;
    Service s(site.base(), 0);
    // One registration at a time; a failure cools down for 60 s; this reconnect loop gives up at once.
    TestReply slow = TestReply::Ok(R"({"success":false})");
    slow.delay = 200ms;
    site.Serve("/api/register_key", slow);
    s.service->SetAccount({true, "p-1", "A"});
    s.service->EnsureRegistered("p-1");
    s.service->EnsureRegistered("p-1");
    ASSERT_TRUE(s.WaitFor("^公钥注册失败（连接服务端失败，进入重连）：p-1$"));
    EXPECT_TRUE(s.WaitFor("^重连服务端失败（已重连 0 次仍连不上），停止重连$"));
    EXPECT_GE(s.service->CooldownUntil("p-1").value_or(0), NowSeconds() + 55);
    s.service->EnsureRegistered("p-1");
    s.service->StartInitialFetch();  // also asks for a registration: still cooling down
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(site.CountOf("/api/register_key"), 1);

    // Locked: the answer's retry-after, 12 hours when it is below 1.
    site.Serve("/api/register_key", TestReply::Ok(R"({"success":false,"reregister_locked":true,"retry_after":0})"));
    s.service->EnsureRegistered("p-2");
    ASSERT_TRUE(s.WaitFor("^公钥重注册被限流（12h 冷却），43200 秒后重试：p-2$"));
    EXPECT_GE(s.service->CooldownUntil("p-2").value_or(0), NowSeconds() + 43195);
    site.Serve("/api/register_key", TestReply::Ok(R"({"success":false,"reregister_locked":true,"retry_after":7})"));
    s.service->EnsureRegistered("p-3");
    ASSERT_TRUE(s.WaitFor("^公钥重注册被限流（12h 冷却），7 秒后重试：p-3$"));
}

TEST(PlayTime, TheReconnectLoopRegistersThenTotalsArePolledAndGamesUploaded) {
    TestHttpServer site;
    const TestReply refused = TestReply::Ok(R"({"success":false})");
    site.ServeSequence("/api/register_key", {refused, refused, TestReply::Ok(R"({"success":true})")});
    site.Serve("/api/playtime/p-4", TestReply::Ok(R"({"total_seconds":321})"));
    Service s(site.base());
    s.service->SetAccount({true, "p-4", "B"});
    s.service->EnsureRegistered("p-4");
    ASSERT_TRUE(s.WaitFor("^重连服务端成功（账号 p-4）$"));
    EXPECT_TRUE(s.WaitFor(R"(^\{"type":"cloud:playtime:got","total_seconds":321\}$)"));
    EXPECT_EQ(site.CountOf("/api/register_key"), 3);

    // A game of 59.9 seconds counts 59; a clock that went backwards adds nothing.
    s.service->OnGameExit(1'000'000, 1'059'900);
    EXPECT_TRUE(s.WaitFor("^游戏退出，上传时长：账号=p-4 本局=59秒 增量=59秒 结果=成功\\(服务端累计=321\\)$"));
    s.service->OnGameExit(2'000'000, 1'990'000);
    EXPECT_TRUE(s.WaitFor("本局=-10秒 增量=0秒 结果=成功"));
    EXPECT_EQ(site.Requests().back().body, R"({"session_seconds":0,"client_total_seconds":-10})");
    // The poller reports every few ticks; signed out, a finished game uploads nothing.
    s.service->StartPoller();
    EXPECT_TRUE(s.WaitFor(R"("total_seconds":321\}$)", 3));
    s.service->SetAccount({false, "p-4", "B"});
    s.service->OnGameExit(0, 5000);
    EXPECT_TRUE(s.WaitFor("^游戏退出，跳过上传：密钥就绪=是 已登录=否 账号ID=p-4$"));
}

}  // namespace
}  // namespace lumivale::test
