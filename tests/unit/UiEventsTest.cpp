// Events reach the page on the UI thread only: at once from the UI thread, queued and in order
// from workers, and not at all once the loop has closed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "JsonFields.h"
#include "RecordingPage.h"
#include "UiEvents.h"
#include "UiLoop.h"
#include "WebViewHost.h"

namespace lumivale {
namespace {

using test::RecordingHost;
using test::UiThread;


std::string Event(int thread, int index) {
    return R"({"type":"test","t":)" + std::to_string(thread) + R"(,"i":)" + std::to_string(index) +
           "}";
}


TEST(UiEvents, OnTheUiThreadDeliveryHappensBeforePostReturns) {
    auto loop = std::make_shared<UiLoop>();
    auto host = std::make_shared<RecordingHost>();
    loop->BindToCurrentThread();
    const UiEvents events(loop, host);

    events.Post(R"({"type":"game:started"})");
    EXPECT_EQ(host->Events(), std::vector<std::string>{R"({"type":"game:started"})"});
    events.Post(R"({"type":"game:stopped"})");
    ASSERT_EQ(host->Count(), 2u);
    EXPECT_EQ(host->Events()[1], R"({"type":"game:stopped"})");

    // Without a loop or a view there is nowhere to deliver to.
    EXPECT_NO_THROW(UiEvents().Post("{}"));
    EXPECT_NO_THROW(UiEvents(loop, nullptr).Post("{}"));
    EXPECT_EQ(host->Count(), 2u);
}

TEST(UiEvents, WorkerEventsAllArriveInEachThreadsOrder) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 500;
    auto loop = std::make_shared<UiLoop>();
    auto host = std::make_shared<RecordingHost>();
    UiThread ui(loop);
    const UiEvents events(loop, host);

    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([events, t] {
            for (int i = 0; i < kPerThread; ++i) events.Post(Event(t, i));
        });
    }
    for (auto& worker : workers) worker.join();
    ASSERT_TRUE(host->WaitFor(kThreads * kPerThread));
    loop->Post([loop] { loop->Quit(); });
    ui.Join();

    const auto received = host->Events();
    ASSERT_EQ(received.size(), static_cast<std::size_t>(kThreads * kPerThread));
    std::vector<int> next(kThreads, 0);
    for (const auto& json : received) {
        const auto t = ReadIntField(json, "t");
        const auto i = ReadIntField(json, "i");
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        ASSERT_EQ(i, next[t]) << "thread " << t << " out of order";
        ++next[t];
    }
    // The view was touched by the UI thread alone.
    for (const auto& id : host->Threads()) ASSERT_EQ(id, ui.Id());
}

// Workers keep posting until told to stop; returns when they are all running.
class Posters {
public:
    Posters(const UiEvents& events, int count) {
        for (int t = 0; t < count; ++t) {
            threads_.emplace_back([this, events, t] {
                for (int i = 0; !stop_; ++i) {
                    events.Post(Event(t, i));
                    if (i % 64 == 0) std::this_thread::yield();
                }
            });
        }
    }
    ~Posters() { Stop(); }
    void Stop() {
        stop_ = true;
        for (auto& thread : threads_) {
            if (thread.joinable()) thread.join();
        }
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

TEST(UiEvents, ShutdownWhileWorkersPost) {
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        // The window goes away on the UI thread itself: nothing is delivered after Quit.
        {
            auto loop = std::make_shared<UiLoop>();
            auto host = std::make_shared<RecordingHost>();
            UiThread ui(loop);
            const UiEvents events(loop, host);
            Posters posters(events, 4);
            ASSERT_TRUE(host->WaitFor(200));
            std::promise<std::size_t> atQuit;
            auto quitCount = atQuit.get_future();
            loop->Post([&] {
                loop->Quit();
                atQuit.set_value(host->Count());
                events.Post(R"({"type":"late"})");  // on the UI thread, after closing
            });
            ui.Join();
            const std::size_t delivered = quitCount.get();
            // Workers go on posting into the closed loop for a while.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            loop->RunPending();
            posters.Stop();
            loop->RunPending();
            EXPECT_EQ(host->Count(), delivered);
        }
        // Quit from another thread: at most the event being delivered at that moment follows.
        {
            auto loop = std::make_shared<UiLoop>();
            auto host = std::make_shared<RecordingHost>();
            UiThread ui(loop);
            const UiEvents events(loop, host);
            Posters posters(events, 4);
            ASSERT_TRUE(host->WaitFor(200));
            loop->Quit();
            const std::size_t delivered = host->Count();
            ui.Join();
            posters.Stop();
            EXPECT_LE(host->Count(), delivered + 1);
            EXPECT_TRUE(loop->IsClosed());
        }
    }
}

TEST(UiEvents, PostingAfterTheLoopClosedIsDropped) {
    auto loop = std::make_shared<UiLoop>();
    auto host = std::make_shared<RecordingHost>();
    int wakes = 0;
    loop->SetWakeHook([&] { ++wakes; });
    loop->BindToCurrentThread();
    const UiEvents events(loop, host);

    // Queued from a worker, then the loop closes before the UI thread runs it.
    std::thread([events] { events.Post(R"({"type":"queued"})"); }).join();
    EXPECT_EQ(wakes, 1);
    loop->Quit();
    loop->RunPending();
    std::thread([events] { events.Post(R"({"type":"after"})"); }).join();
    events.Post(R"({"type":"after-on-ui"})");
    loop->RunPending();
    EXPECT_EQ(host->Count(), 0u);
    EXPECT_EQ(wakes, 1);  // a refused task wakes nobody
    EXPECT_FALSE(loop->Post([] { FAIL() << "ran after Quit"; }));
}

}  // namespace
}  // namespace lumivale
