#include "Win32Host.h"

#include <windows.h>
#include <objbase.h>

#include "Win32MainWindow.h"

namespace lumivale {

namespace {

constexpr UINT kWake = WM_APP + 1;

// The UI loop turns on the thread's message loop: a message-only window receives a message for
// every task posted from any thread and runs what is queued.
std::weak_ptr<UiLoop>& Driven() {
    static std::weak_ptr<UiLoop> loop;
    return loop;
}

LRESULT CALLBACK WakeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kWake) {
        if (auto loop = Driven().lock()) loop->RunPending();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool DriveByMessages(const std::shared_ptr<UiLoop>& loop) {
    WNDCLASSEXW wake{};
    wake.cbSize = sizeof wake;
    wake.lpfnWndProc = WakeProcedure;
    wake.hInstance = GetModuleHandleW(nullptr);
    wake.lpszClassName = L"LumivaleUiLoop";
    if (!RegisterClassExW(&wake)) return false;
    HWND messages = CreateWindowExW(0, wake.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    wake.hInstance, nullptr);
    if (!messages) return false;
    Driven() = loop;
    UiLoop* raw = loop.get();
    UiLoop::Driver driver;
    driver.run = [raw] {
        MSG message;
        while (!raw->IsClosed() && GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    };
    // Any message wakes GetMessage, which then sees the closed loop.
    driver.quit = [messages] { PostMessageW(messages, WM_NULL, 0, 0); };
    driver.wake = [messages] { PostMessageW(messages, kWake, 0, 0); };
    loop->SetDriver(std::move(driver));
    return true;
}

}  // namespace

std::optional<DesktopHost> OpenWin32Host(std::shared_ptr<UiLoop> loop, std::function<void(const std::string&)> log) {
    // WebView2 and the file dialogs need a single-threaded apartment on the UI thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(com) && com != RPC_E_CHANGED_MODE) return std::nullopt;
    if (!win32::RegisterWindowClasses() || !DriveByMessages(loop)) return std::nullopt;
    auto window = std::make_shared<win32::Win32MainWindow>(loop, std::move(log));
    return DesktopHost{window, window};
}

}  // namespace lumivale
