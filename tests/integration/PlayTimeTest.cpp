// The play-time service with short waits: against the reference backend (registration, the
// first total, uploads at game end, a locked re-registration, the poller, the probe) and against
// a loopback stand-in that fails on demand (one registration at a time, cooldowns, the reconnect
// loop's success and its end).
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "BackendEndpoints.h"
#include "BackendServer.h"
#include "HttpTransport.h"
#include "PlayTimeService.h"
#include "TempHome.h"
#include "TestHttpServer.h"

namespace lumivale::test {
namespace {

using namespace std::chrono_literals;

std::int64_t NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

const std::string& SharedKeyText() {
    static const std::string key = [] {
        KeyStore store;
        store.GenerateKey();
        return store.ExportPrivateKeyBase64();
    }();
    return key;
}

// What the service sent and logged, waited for without fixed sleeps.
class Recorder {
public:
    void Event(std::string json) { Add(events_, std::move(json)); }
    void Line(std::string_view line) { Add(lines_, std::string(line)); }

    // True once some event or line matches; false after a generous limit.
    bool WaitForEvent(const std::string& text, int count = 1) { return WaitFor(events_, text, count); }
    bool WaitForLine(const std::string& pattern) { return WaitFor(lines_, pattern, 1, true); }
    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::string> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    void Add(std::vector<std::string>& to, std::string text) {
        {
            std::lock_guard lock(mutex_);
            to.push_back(std::move(text));
        }
        changed_.notify_all();
    }
    bool WaitFor(const std::vector<std::string>& in, const std::string& text, int count, bool regex = false) {
        const std::regex pattern(regex ? text : std::string("^$"));
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] {
            int seen = 0;
            for (const auto& item : in) seen += regex ? std::regex_search(item, pattern) : item == text;
            return seen >= count;
        });
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    std::vector<std::string> lines_;
};

PlayTimeWaits ShortWaits() {
    PlayTimeWaits waits;
    waits.tick = 10ms;
    waits.pollTicks = 3;
    waits.reconnectDelay = 50ms;
    waits.fetchRetry = 500ms;  // as in the launcher: registration may be slow on a busy machine
    return waits;
}

struct Service {
    Service(const std::string& base, PlayTimeWaits waits = ShortWaits()) {
        cloud = std::make_shared<CloudClient>(base);
        EXPECT_TRUE(cloud->Keys().ImportPrivateKey(SharedKeyText()));
        service = PlayTimeService::Create(
            cloud, [this](std::string json) { record.Event(std::move(json)); }, waits,
            [this](std::string_view line) { record.Line(line); });
    }
    ~Service() {
        service->Stop();
        CloseHttpConnections();
    }
    bool WaitRegistered(const std::string& id) {
        for (int i = 0; i < 3000 && !service->IsRegistered(id); ++i) std::this_thread::sleep_for(10ms);
        return service->IsRegistered(id);
    }

    Recorder record;
    std::shared_ptr<CloudClient> cloud;
    std::shared_ptr<PlayTimeService> service;
};

TEST(PlayTime, AgainstTheBackendRegistersFetchesUploadsAndHonoursTheLock) {
    TempHome home;
    backend::BackendServer backend(home.root() / "backend.sqlite");
    ASSERT_TRUE(backend.Start("127.0.0.1", 0));
    const std::string base = "http://127.0.0.1:" + std::to_string(backend.Port());

    {
        Service s(base);
        s.service->StartReachabilityProbe();
        s.service->SetAccount({true, "player-1", "Alex"});
        s.service->StartInitialFetch();
        EXPECT_TRUE(s.record.WaitForEvent(R"({"type":"cloud:playtime:got","total_seconds":0})"));
        EXPECT_TRUE(s.service->IsRegistered("player-1"));
        EXPECT_TRUE(s.record.WaitForLine("^服务端连通性探测：成功$"));

        // A game of 59.9 seconds counts 59; the backend's total grows.
        s.service->OnGameExit(1'000'000, 1'059'900);
        EXPECT_TRUE(s.record.WaitForLine(
            "^游戏退出，上传时长：账号=player-1 本局=59秒 增量=59秒 结果=成功\\(服务端累计=59\\)$"));
        // A clock that went backwards uploads nothing for the session. (An upload is signed for
        // its second and the backend takes one per player and second: wait for the next one.)
        for (const auto second = NowSeconds(); NowSeconds() == second;) std::this_thread::sleep_for(20ms);
        s.service->OnGameExit(2'000'000, 1'990'000);
        EXPECT_TRUE(s.record.WaitForLine("本局=-10秒 增量=0秒 结果=成功\\(服务端累计=59\\)$"));
        EXPECT_EQ(GetPlaytime(*s.cloud, "player-1", "Alex"), 59);

        // The poller reports every few ticks while all is well, and stops when signed out.
        s.service->StartPoller();
        EXPECT_TRUE(s.record.WaitForEvent(R"({"type":"cloud:playtime:got","total_seconds":59})", 2));
        s.service->SetAccount({false, "player-1", "Alex"});
        s.service->OnGameExit(0, 5000);
        EXPECT_TRUE(s.record.WaitForLine("^游戏退出，跳过上传：密钥就绪=是 已登录=否 账号ID=player-1$"));
        std::this_thread::sleep_for(100ms);  // ten ticks signed out
        const auto quiet = s.record.Events().size();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(s.record.Events().size(), quiet);
    }

    // Another install already holds the player: the registration is locked for the rest of the
    // backend's 12 hours, and no second attempt is made meanwhile.
    {
        CloudClient other(base);
        ASSERT_TRUE(other.Keys().GenerateKey());
        std::int64_t retry = 0;
        ASSERT_EQ(RegisterPublicKey(other, "player-2", "Kim", retry), RegisterResult::Registered);

        Service s(base);
        s.service->SetAccount({true, "player-2", "Kim"});
        s.service->EnsureRegistered("player-2");
        ASSERT_TRUE(s.record.WaitForLine("^公钥重注册被限流（12h 冷却），4\\d{4} 秒后重试：player-2$"));
        const auto until = s.service->CooldownUntil("player-2");
        ASSERT_TRUE(until.has_value());
        EXPECT_GT(*until, NowSeconds() + 43000);
        EXPECT_FALSE(s.service->IsRegistered("player-2"));
    }
}

TEST(PlayTime, RegistrationCooldownsAndTheReconnectLoop) {
    TestHttpServer site;
    const std::string ok = R"({"success":true})";
    const std::string refused = R"({"success":false})";

    {
        // One registration at a time; a failure waits 60 s and the reconnect loop gives up after
        // its attempts (none here).
        PlayTimeWaits waits = ShortWaits();
        waits.reconnectAttempts = 0;
        Service s(site.base(), waits);
        TestReply slow = TestReply::Ok(refused);
        slow.delay = 200ms;
        site.Serve("/api/register_key", slow);
        s.service->SetAccount({true, "p-1", "A"});
        s.service->EnsureRegistered("p-1");
        s.service->EnsureRegistered("p-1");
        ASSERT_TRUE(s.record.WaitForLine("^公钥注册失败（连接服务端失败，进入重连）：p-1$"));
        EXPECT_TRUE(s.record.WaitForLine("^重连服务端失败（已重连 0 次仍连不上），停止重连$"));
        EXPECT_EQ(site.CountOf("/api/register_key"), 1);
        const auto until = s.service->CooldownUntil("p-1");
        ASSERT_TRUE(until.has_value());
        EXPECT_GE(*until, NowSeconds() + 55);
        s.service->EnsureRegistered("p-1");
        s.service->StartInitialFetch();  // also asks for a registration: still cooling down
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(site.CountOf("/api/register_key"), 1);

        // A lock without a usable retry-after: 12 hours; with none at all: 600 seconds.
        site.Serve("/api/register_key", TestReply::Ok(R"({"success":false,"reregister_locked":true,"retry_after":0})"));
        s.service->EnsureRegistered("p-2");
        ASSERT_TRUE(s.record.WaitForLine("^公钥重注册被限流（12h 冷却），43200 秒后重试：p-2$"));
        site.Serve("/api/register_key", TestReply::Ok(R"({"success":false,"reregister_locked":true})"));
        s.service->EnsureRegistered("p-3");
        ASSERT_TRUE(s.record.WaitForLine("^公钥重注册被限流（12h 冷却），600 秒后重试：p-3$"));
        EXPECT_GE(*s.service->CooldownUntil("p-3"), NowSeconds() + 595);
        EXPECT_LE(*s.service->CooldownUntil("p-3"), NowSeconds() + 600);
    }

    {
        // The reconnect loop registers on its second attempt and fetches the total.
        site.ClearLog();
        site.ServeSequence("/api/register_key",
                           {TestReply::Ok(refused), TestReply::Ok(refused), TestReply::Ok(ok)});
        site.Serve("/api/playtime/p-4", TestReply::Ok(R"({"total_seconds":321})"));
        Service s(site.base());
        s.service->SetAccount({true, "p-4", "B"});
        s.service->EnsureRegistered("p-4");
        ASSERT_TRUE(s.record.WaitForLine("^连接服务端失败，将每 0 秒重连一次，最多 2 次$"));
        ASSERT_TRUE(s.record.WaitForLine("^重连服务端成功（账号 p-4）$"));
        EXPECT_TRUE(s.record.WaitForEvent(R"({"type":"cloud:playtime:got","total_seconds":321})"));
        EXPECT_TRUE(s.service->IsRegistered("p-4"));
        EXPECT_FALSE(s.service->CooldownUntil("p-4").has_value());
        EXPECT_EQ(site.CountOf("/api/register_key"), 3);
    }

    {
        // An unreachable backend: two more failures end the loop; a probe says so too.
        Service s("http://127.0.0.1:9");
        s.service->SetAccount({true, "p-5", "C"});
        s.service->StartReachabilityProbe();
        s.service->EnsureRegistered("p-5");
        EXPECT_TRUE(s.record.WaitForLine("^重连服务端失败（已重连 2 次仍连不上），停止重连$"));
        EXPECT_TRUE(s.record.WaitForLine("^服务端连通性探测：失败/不可达$"));
        EXPECT_FALSE(s.service->IsRegistered("p-5"));
    }
}

}  // namespace
}  // namespace lumivale::test
