#pragma once
// The UI thread's task queue. Workers never touch the page or the window; they post tasks here
// and the UI thread runs them in the order posted.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace lumivale {

class UiLoop {
public:
    using Task = std::function<void()>;

    // The calling thread becomes the UI thread.
    void BindToCurrentThread();
    bool IsUiThread() const;

    // Queues a task for the UI thread; false (task dropped) once the loop was closed.
    bool Post(Task task);

    // Runs tasks on the calling thread until Quit. With a driver, runs the driver's loop instead.
    void Run();
    // Runs what is queued now and returns (for a host whose own loop drives the UI thread).
    void RunPending();
    // Ends Run, drops queued tasks and refuses new ones. Safe from any thread.
    void Quit();
    bool IsClosed() const;

    // Called after every successful Post, for a host loop that must be woken.
    void SetWakeHook(std::function<void()> wake);

    // A host whose own loop must turn on the UI thread (the GLib main loop of a window) drives
    // this one: Run calls `run`, Quit also calls `quit` (from any thread, possibly before `run`
    // started), and each Post calls `wake`, after which the host loop calls RunPending.
    struct Driver {
        std::function<void()> run;
        std::function<void()> quit;
        std::function<void()> wake;
    };
    void SetDriver(Driver driver);

private:
    bool RunOne(std::unique_lock<std::mutex>& lock);

    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Task> tasks_;
    std::function<void()> wake_;
    std::function<void()> run_;
    std::function<void()> quit_;
    std::thread::id uiThread_;
    bool closed_ = false;
};

}  // namespace lumivale
