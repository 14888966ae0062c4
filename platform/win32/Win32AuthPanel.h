#pragma once
// The sign-in side panel: a narrow popup docked to the right edge of the main window, a header
// band with a back button, and its own WebView2 control with its own data folder.
#include <windows.h>

#include <memory>
#include <string>

#include "MainWindow.h"
#include "UiLoop.h"
#include "WebView2View.h"

namespace lumivale::win32 {

bool RegisterAuthPanelClass();

class Win32AuthPanel : public AuthPanel {
public:
    // Null when the panel window cannot be made.
    static std::shared_ptr<Win32AuthPanel> Open(HWND owner, std::shared_ptr<UiLoop> loop, AuthPanelCallbacks callbacks,
                                                std::function<void(const std::string&)> log);
    Win32AuthPanel(std::shared_ptr<UiLoop> loop, AuthPanelCallbacks callbacks,
                   std::function<void(const std::string&)> log);
    ~Win32AuthPanel() override;

    // Before the control is ready, the address waits for it.
    void Navigate(const std::string& url) override;
    void Close() override;
    bool IsOpen() const { return window_ != nullptr; }

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    bool Build(HWND owner);
    void Paint();

    std::shared_ptr<UiLoop> loop_;
    AuthPanelCallbacks callbacks_;
    std::function<void(const std::string&)> log_;
    HWND window_ = nullptr;
    std::unique_ptr<WebView2View> view_;
    std::string pending_;
};

}  // namespace lumivale::win32
