#pragma once
// Detached workers for work that waits (the network, installers), so the UI thread never does.
#include <functional>
#include <system_error>
#include <thread>

namespace lumivale {

// Starts `task` on a detached thread; false when the system cannot start one now (the caller
// then clears its busy flag and says so).
inline bool StartWorker(std::function<void()> task) {
    try {
        std::thread(std::move(task)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace lumivale
