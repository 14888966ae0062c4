// The UI loop driven by a host's own loop, as the window's GLib loop drives it.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "UiLoop.h"

namespace lumivale {
namespace {

// A host loop of its own: sleeps until woken, then lets the UI loop run what is queued.
struct HostLoop {
    std::mutex mutex;
    std::condition_variable signal;
    bool woken = false;
    int runs = 0;
    int quits = 0;

    void Attach(UiLoop& loop) {
        UiLoop::Driver driver;
        driver.run = [this, &loop] {
            ++runs;
            while (!loop.IsClosed()) {
                {
                    std::unique_lock lock(mutex);
                    signal.wait(lock, [this] { return woken; });
                    woken = false;
                }
                loop.RunPending();
            }
        };
        driver.quit = [this] {
            std::lock_guard lock(mutex);
            ++quits;
            woken = true;
            signal.notify_all();
        };
        driver.wake = [this] {
            std::lock_guard lock(mutex);
            woken = true;
            signal.notify_all();
        };
        loop.SetDriver(std::move(driver));
    }
};

TEST(UiLoopDriver, TasksFromWorkersRunInOrderOnTheUiThreadAndQuitEndsTheHostLoop) {
    UiLoop loop;
    HostLoop host;
    host.Attach(loop);
    loop.BindToCurrentThread();

    std::vector<int> seen;
    bool allOnUiThread = true;
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) {
            loop.Post([&, i] {
                allOnUiThread = allOnUiThread && loop.IsUiThread();
                seen.push_back(i);
                if (i == 199) loop.Quit();
            });
        }
    });
    loop.Run();
    worker.join();

    ASSERT_EQ(seen.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
    EXPECT_TRUE(allOnUiThread);
    EXPECT_EQ(host.runs, 1);
    EXPECT_GE(host.quits, 1);
    EXPECT_FALSE(loop.Post([] {})) << "a closed loop takes no tasks";
}

TEST(UiLoopDriver, QuitBeforeRunNeverStartsTheHostLoop) {
    UiLoop loop;
    HostLoop host;
    host.Attach(loop);
    loop.Quit();
    loop.Run();  // returns at once instead of waiting for a wake that never comes
    EXPECT_EQ(host.runs, 0);
    EXPECT_EQ(host.quits, 1);
}

}  // namespace
}  // namespace lumivale
