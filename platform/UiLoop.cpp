#include "UiLoop.h"

namespace lumivale {

void UiLoop::BindToCurrentThread() {
    std::lock_guard lock(mutex_);
    uiThread_ = std::this_thread::get_id();
}

bool UiLoop::IsUiThread() const {
    std::lock_guard lock(mutex_);
    return uiThread_ == std::this_thread::get_id();
}

bool UiLoop::Post(Task task) {
    std::function<void()> wake;
    {
        std::lock_guard lock(mutex_);
        if (closed_) return false;
        tasks_.push_back(std::move(task));
        wake = wake_;
    }
    ready_.notify_one();
    if (wake) wake();
    return true;
}

bool UiLoop::RunOne(std::unique_lock<std::mutex>& lock) {
    if (closed_ || tasks_.empty()) return false;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    task = nullptr;  // captured values die outside the lock
    lock.lock();
    return true;
}

void UiLoop::Run() {
    std::unique_lock lock(mutex_);
    if (run_) {
        if (closed_) return;
        auto run = run_;
        lock.unlock();
        run();
        return;
    }
    while (!closed_) {
        ready_.wait(lock, [this] { return closed_ || !tasks_.empty(); });
        while (RunOne(lock)) {
        }
    }
}

void UiLoop::RunPending() {
    std::unique_lock lock(mutex_);
    for (std::size_t n = tasks_.size(); n > 0 && RunOne(lock); --n) {
    }
}

void UiLoop::Quit() {
    std::deque<Task> dropped;
    std::function<void()> quit;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        dropped.swap(tasks_);
        quit = quit_;
    }
    ready_.notify_all();
    if (quit) quit();
}

bool UiLoop::IsClosed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

void UiLoop::SetWakeHook(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
}

void UiLoop::SetDriver(Driver driver) {
    std::lock_guard lock(mutex_);
    run_ = std::move(driver.run);
    quit_ = std::move(driver.quit);
    wake_ = std::move(driver.wake);
}

}  // namespace lumivale
