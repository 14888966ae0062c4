// The play-time service against a failing stand-in and the reference backend: long games, clock skew, two runs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>

#include "AccountTestSupport.h"
#include "BackendEndpoints.h"
#include "BackendServer.h"
#include "HttpTransport.h"
#include "PlayTimeService.h"

namespace lumivale::test {
namespace {

using namespace std::chrono_literals;

// A service holding test key 0 that writes its page events and console lines into one log.
struct Service {
    Service(const std::string& base, const std::filesystem::path& queue, int reconnectAttempts = 2) {
        cloud = std::make_shared<CloudClient>(base);
        EXPECT_TRUE(cloud->Keys().ImportPrivateKey(TestKey()));
        const auto add = [this](std::string_view line) {
            std::lock_guard lock(mutex);
            log += std::string(line) + "\n";
        };
        service = PlayTimeService::Create(cloud, add, {10ms, 3, 50ms, reconnectAttempts}, add, queue);
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

// The reference backend on a file of the test's folder, its clock `shift` seconds ahead.
struct Backend {
    Backend(const TempHome& home, std::int64_t shift)
        : server((home.root() / "backend.sqlite").string(), {{}, [shift] { return NowSeconds() + shift; }}) {
        EXPECT_TRUE(server.Start("127.0.0.1", 0));
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(server.Port()); }
    backend::BackendServer server;
};

TEST(PlayTime, RegistrationCooldownsAndTheLock) {
    TempHome home;
    TestHttpServer site;
    Service s(site.base(), home.root() / "queue.json", 0);
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
    TempHome home;
    TestHttpServer site;
    const TestReply refused = TestReply::Ok(R"({"success":false})");
    site.ServeSequence("/api/register_key", {refused, refused, TestReply::Ok(R"({"success":true})")});
    site.Serve("/api/playtime/p-4", TestReply::Ok(R"({"total_seconds":321})"));
    Service s(site.base(), home.root() / "queue.json");
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
    EXPECT_FALSE(std::filesystem::exists(home.root() / "queue.json"));
}

TEST(PlayTime, AGameLongerThanADayReachesABackendWhoseClockIsAnHourAhead) {
    TempHome home;
    Backend backend(home, 3600);
    Service s(backend.Base(), home.root() / "queue.json");
    s.service->SetAccount({true, "p-long", "L"});
    s.service->EnsureRegistered("p-long");
    ASSERT_TRUE(Eventually([&] { return s.service->IsRegistered("p-long"); })) << s.log;
    s.service->OnGameExit(0, 200'000'500);
    EXPECT_TRUE(s.WaitFor("^游戏退出，上传时长：账号=p-long 本局=200000秒 增量=200000秒 结果=成功\\(服务端累计=200000\\)$"))
        << s.log;
    EXPECT_EQ(GetPlaytime(*s.cloud, "p-long", ""), 200000);
}

TEST(PlayTime, OneInstallRunningTwiceUploadsTwiceInOneSecondAndBothCount) {
    TempHome home;
    Backend backend(home, 0);
    CloudClient first(backend.Base()), second(backend.Base());
    const std::int64_t second0 = NowSeconds();
    for (CloudClient* client : {&first, &second}) {
        ASSERT_TRUE(client->Keys().ImportPrivateKey(TestKey()));
        client->SetClock([second0] { return second0; });  // both launchers start in the same second
    }
    std::int64_t retry = 0;
    ASSERT_EQ(RegisterPublicKey(first, "p-twice", "", retry), RegisterResult::Registered);
    EXPECT_EQ(UploadPlaytime(first, "p-twice", 10, 10, ""), 10);
    EXPECT_EQ(UploadPlaytime(second, "p-twice", 20, 20, ""), 30);  // its first two seconds were taken
}

TEST(PlayTime, AGameTheBackendMissedWaitsBesideTheCredentialsUntilTheNextStart) {
    TempHome home;
    const std::filesystem::path queue = home.root() / "user" / "playtime-queue.json";
    WriteFile(queue, "{\"uploads\":[{\"player_id\":7}]}");  // damaged by hand: kept aside, not lost
    {
        TestHttpServer down;
        down.Serve("/api/playtime/p-q", JsonReply(503, R"({"error":"maintenance"})"));
        Service s(down.base(), queue);
        s.service->SetAccount({true, "p-q", "Q"});
        s.service->OnGameExit(0, 100'000'000);
        EXPECT_TRUE(s.WaitFor("结果=失败\\(服务端未注册或不可达\\)\n本局未上传的 100000 秒已存入待上传队列")) << s.log;
    }
    EXPECT_EQ(ReadFile(queue.string() + ".damaged"), "{\"uploads\":[{\"player_id\":7}]}");
    EXPECT_EQ(ReadFile(queue), R"({"uploads":[{"client_total_seconds":86400,"player_id":"p-q","session_seconds":86400},)"
                               R"({"client_total_seconds":13600,"player_id":"p-q","session_seconds":13600}]})");
    EXPECT_EQ(std::filesystem::status(queue).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    Backend backend(home, 0);
    Service s(backend.Base(), queue);
    s.service->SetAccount({true, "p-q", "Q"});
    s.service->EnsureRegistered("p-q");
    EXPECT_TRUE(s.WaitFor("^已补传待上传队列中的游戏时长：账号=p-q 补传=100000秒 服务端累计=100000$")) << s.log;
    EXPECT_TRUE(s.WaitFor(R"(^\{"type":"cloud:playtime:got","total_seconds":100000\}$)"));
    EXPECT_EQ(ReadFile(queue), R"({"uploads":[]})");
}

}  // namespace
}  // namespace lumivale::test
