#pragma once
// One launcher per program folder. The first start holds a lock and listens for later starts,
// which ask it to come to the front and then leave. Linux: a lock file and an abstract socket;
// Windows: a named mutex and a named event, both named after the folder.
#include <filesystem>
#include <functional>
#include <memory>

namespace lumivale {

class SingleInstance {
public:
    explicit SingleInstance(const std::filesystem::path& programFolder);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process is the only launcher on its program folder.
    bool IsFirst() const;

    // First instance: `onWake` runs on a listener thread each time a later start knocks.
    void ListenForWake(std::function<void()> onWake);

    // Later start: asks the first instance to come to the front; false when nobody answered.
    bool WakeFirst() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The key both systems name a program folder's lock by: a hash of its canonical UTF-8 path
// (compared without letter case on Windows, where the file system ignores it too).
std::string InstanceKey(const std::filesystem::path& programFolder);

}  // namespace lumivale
