// Events reach the page on the UI thread only, in each worker's order, and not once the loop has closed.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "JsonFields.h"
#include "RecordingPage.h"
#include "UiEvents.h"

namespace lumivale {
namespace {

struct Page {
    std::shared_ptr<UiLoop> loop = std::make_shared<UiLoop>();
    std::shared_ptr<test::RecordingHost> host = std::make_shared<test::RecordingHost>();
    UiEvents events{loop, host};
};

TEST(UiEvents, WorkerEventsAllArriveOnTheUiThreadInEachThreadsOrder) {
    constexpr int kThreads = 4, kPerThread = 500;
    Page page;
    test::UiThread ui(page.loop);
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([events = page.events, t] {
            for (int i = 0; i < kPerThread; ++i) events.Post(R"({"t":)" + std::to_string(t) + R"(,"i":)" + std::to_string(i) + "}");
        });
    }
    for (auto& worker : workers) worker.join();
    ASSERT_TRUE(page.host->WaitFor(kThreads * kPerThread));
    ASSERT_EQ(page.host->Events().size(), static_cast<std::size_t>(kThreads * kPerThread));
    std::vector<std::int64_t> next(kThreads, 0);
    for (const auto& json : page.host->Events()) {
        const auto t = static_cast<std::size_t>(ReadIntField(json, "t"));
        ASSERT_EQ(ReadIntField(json, "i"), next.at(t)++) << "thread " << t << " out of order";
    }
    for (const auto& id : page.host->Threads()) ASSERT_EQ(id, ui.Id());
}

TEST(UiEvents, NothingIsDeliveredOnceTheLoopClosed) {
    Page page;
    int wakes = 0;
    page.loop->SetWakeHook([&] { ++wakes; });
    page.loop->BindToCurrentThread();
    // Queued from a worker, then the loop closes before the UI thread runs it.
    std::thread([&] { page.events.Post(R"({"type":"queued"})"); }).join();
    EXPECT_EQ(wakes, 1);
    page.loop->Quit();
    page.loop->RunPending();
    std::thread([&] { page.events.Post(R"({"type":"after"})"); }).join();
    page.events.Post(R"({"type":"after-on-ui"})");
    page.loop->RunPending();
    EXPECT_EQ(page.host->Events().size(), 0u);
    EXPECT_EQ(wakes, 1);  // a refused task wakes nobody
    EXPECT_FALSE(page.loop->Post([] { FAIL() << "ran after Quit"; }));
    // Without a loop or a view there is nowhere to deliver to.
    EXPECT_NO_THROW(UiEvents().Post("{}"));
    EXPECT_NO_THROW(UiEvents(page.loop, nullptr).Post("{}"));
}

}  // namespace
}  // namespace lumivale
