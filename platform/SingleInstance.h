#pragma once
// One launcher per program folder. The first start holds a lock and listens for later starts,
// which ask it to come to the front and then leave.
#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

namespace lumivale {

class SingleInstance {
public:
    explicit SingleInstance(const std::filesystem::path& programFolder);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process is the only launcher on its program folder.
    bool IsFirst() const { return lockFd_ >= 0; }

    // First instance: `onWake` runs on a listener thread each time a later start knocks.
    void ListenForWake(std::function<void()> onWake);

    // Later start: asks the first instance to come to the front; false when nobody answered.
    bool WakeFirst() const;

private:
    int lockFd_ = -1;
    int listenFd_ = -1;
    std::string socketName_;
    std::atomic<bool> stopping_{false};
    std::thread listener_;
};

}  // namespace lumivale
