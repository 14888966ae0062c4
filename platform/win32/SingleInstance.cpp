// Windows: the named mutex "LumivaleLauncher_SingleInstance_<folder key>" marks the first start;
// later starts set the named event "..._Wake_<folder key>", which the first one waits on.
#include "SingleInstance.h"

#include <thread>

#include "Text.h"

namespace lumivale {

struct SingleInstance::State {
    win32::Handle mutex;
    bool first = false;
    std::wstring wakeName;
    win32::Handle wake;
    win32::Handle stop;
    std::thread listener;
};

SingleInstance::SingleInstance(const std::filesystem::path& programFolder) : state_(std::make_unique<State>()) {
    const std::wstring key = win32::Wide(InstanceKey(programFolder));
    state_->wakeName = L"LumivaleLauncher_Wake_" + key;
    state_->mutex.Reset(CreateMutexW(nullptr, FALSE, (L"LumivaleLauncher_SingleInstance_" + key).c_str()));
    // The handle stays open while the launcher runs; a second start sees the name taken.
    state_->first = state_->mutex.Valid() && GetLastError() != ERROR_ALREADY_EXISTS;
    if (!state_->first) state_->mutex.Reset();
}

SingleInstance::~SingleInstance() {
    State& s = *state_;
    if (s.stop.Valid()) SetEvent(s.stop.Get());
    if (s.listener.joinable()) s.listener.join();
}

bool SingleInstance::IsFirst() const { return state_->first; }

void SingleInstance::ListenForWake(std::function<void()> onWake) {
    State& s = *state_;
    if (!s.first || s.listener.joinable()) return;
    s.wake.Reset(CreateEventW(nullptr, FALSE, FALSE, s.wakeName.c_str()));
    s.stop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!s.wake.Valid() || !s.stop.Valid()) return;
    s.listener = std::thread([&s, onWake = std::move(onWake)] {
        const HANDLE events[2] = {s.stop.Get(), s.wake.Get()};
        while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            if (onWake) onWake();
        }
    });
}

bool SingleInstance::WakeFirst() const {
    win32::Handle wake(OpenEventW(EVENT_MODIFY_STATE, FALSE, state_->wakeName.c_str()));
    return wake.Valid() && SetEvent(wake.Get());
}

}  // namespace lumivale
