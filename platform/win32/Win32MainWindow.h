#pragma once
// The Win32 main window with the page's WebView2 control, and the sign-in side panel.
#include <windows.h>

#include <memory>
#include <string>

#include "MainWindow.h"
#include "UiLoop.h"
#include "WebView2View.h"
#include "WebViewHost.h"

namespace lumivale::win32 {

class Win32AuthPanel;

// Registers the window classes; false when that fails.
bool RegisterWindowClasses();

class Win32MainWindow : public MainWindow, public WebViewHost {
public:
    Win32MainWindow(std::shared_ptr<UiLoop> loop, std::function<void(const std::string&)> log);
    ~Win32MainWindow() override;

    bool Show(std::function<void()> onDestroyed) override;
    void Minimise() override;
    void Destroy() override;
    void StartMove() override;
    void Raise() override;
    void OpenUrl(const std::string& url) override;
    void PickFolder(const std::string& title, std::function<void(const std::string&)> done) override;
    void PickFile(const std::string& title, std::function<void(const std::string&)> done) override;
    void ShowMessage(const std::string& text, const std::string& caption, MessageKind kind) override;
    std::shared_ptr<AuthPanel> OpenAuthPanel(AuthPanelCallbacks callbacks) override;

    bool Init(WebViewCallbacks callbacks) override;
    void PostJson(const std::string& json) override;
    void Navigate(const std::string& target) override;
    void ReloadWithError(const std::string& message) override;
    void RunScript(const std::string& script) override;
    void Close() override;

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void Pick(bool folders, const std::string& title, std::function<void(const std::string&)> done);
    bool ShouldCancel(const std::string& uri);
    void LoadPage();
    void LoadFallbackFile(const std::string& html);
    void OnLoadFinished();
    void InjectPictures();
    void Defer(std::function<void()> task);
    void Log(const std::string& line) const;

    std::shared_ptr<UiLoop> loop_;
    std::function<void(const std::string&)> log_;
    HWND window_ = nullptr;
    std::unique_ptr<WebView2View> view_;
    WebViewCallbacks callbacks_;
    std::function<void()> onDestroyed_;
    std::string pageHtml_;
    std::string bootError_;    // for the next load of the page only
    std::string fallbackUri_;  // the page written to a file, the one file address let through
    std::weak_ptr<Win32AuthPanel> panel_;
};

}  // namespace lumivale::win32
