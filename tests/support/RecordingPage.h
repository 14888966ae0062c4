#pragma once
// The page side of the App in tests: a web view stand-in that records every event it is given,
// and a UI thread that runs a UiLoop.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "JsonFields.h"
#include "UiLoop.h"
#include "WebViewHost.h"

namespace lumivale::test {

// Records every event and the thread that delivered it.
class RecordingHost : public WebViewHost {
public:
    static constexpr std::chrono::minutes kPatience{1};  // only a stalled loop waits this long

    bool Init(WebViewCallbacks) override { return true; }
    void PostJson(const std::string& json) override {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(json);
            threads_.push_back(std::this_thread::get_id());
        }
        changed_.notify_all();
    }
    void Navigate(const std::string&) override {}
    void ReloadWithError(const std::string&) override {}
    void Close() override {}

    std::vector<std::string> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<std::thread::id> Threads() const {
        std::lock_guard lock(mutex_);
        return threads_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
        threads_.clear();
    }
    // Waits until at least `count` events (of `type`, when one is named) arrived.
    bool WaitFor(std::size_t count, const std::string& type = {}) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] {
            return static_cast<std::size_t>(std::count_if(events_.begin(), events_.end(), [&](const std::string& e) {
                       return type.empty() || ReadTextField(e, "type") == type;
                   })) >= count;
        });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    std::vector<std::thread::id> threads_;
};

// A UI thread running the loop until it is quit; the destructor quits it.
class UiThread {
public:
    explicit UiThread(std::shared_ptr<UiLoop> loop) : loop_(std::move(loop)) {
        std::promise<void> bound;
        auto ready = bound.get_future();
        thread_ = std::thread([this, bound = std::move(bound)]() mutable {
            loop_->BindToCurrentThread();
            bound.set_value();
            loop_->Run();
        });
        ready.wait();
        id_ = thread_.get_id();
    }
    ~UiThread() {
        loop_->Quit();
        Join();
    }
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    // Waits for the loop to end (after someone quit it).
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    std::thread::id Id() const { return id_; }

private:
    std::shared_ptr<UiLoop> loop_;
    std::thread thread_;
    std::thread::id id_;
};

}  // namespace lumivale::test
