#pragma once
// One WebView2 control with the launcher's guards: its own data folder, no context menu, no
// developer tools, no status bar, no zoom, no browser keys, no downloads, no files dropped on it,
// every navigation shown to its owner first. It only forwards: what to let through comes from
// its owner (WebViewRules).
#include <windows.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "ComCall.h"

namespace lumivale::win32 {

struct WebView2Config {
    HWND parent = nullptr;
    bool hasFixedBounds = false;  // else the parent's client rectangle
    RECT fixedBounds{};
    std::filesystem::path dataFolder;
    std::function<void(const std::string&)> log;
    // Every navigation about to start; true cancels it. Decides only: it must not change the view.
    std::function<bool(const std::string& uri)> shouldCancel;
    // The same address, handed over just after the decision through `defer`, so that the owner
    // may load another page or close the view.
    std::function<void(const std::string& uri)> onNavigation;
    // Strings the page posts; anything else it posts is dropped.
    std::function<void(const std::string&)> onMessage;
    std::function<void()> onReady;         // the controller exists and is set up
    std::function<void()> onLoadFinished;  // after every navigation, successful or not
    std::function<void()> onDownloadRefused;
    // Runs a task on the UI thread after the current event.
    std::function<void(std::function<void()>)> defer;
};

class WebView2View {
public:
    explicit WebView2View(WebView2Config config);
    ~WebView2View();
    WebView2View(const WebView2View&) = delete;
    WebView2View& operator=(const WebView2View&) = delete;

    // Starts creating the control; false (with `why`) when no WebView2 runtime could be used.
    bool Start(std::string& why);
    bool Ready() const { return static_cast<bool>(webview_); }
    bool NavigateToString(const std::string& html);
    bool Navigate(const std::string& uri);
    void RunScript(const std::string& script);
    bool PostJson(const std::string& json);
    void Resize();
    // Closes the control; safe to call twice.
    void Close();

private:
    HRESULT OnController(HRESULT result, void* controller);
    void Configure();
    void RevokeDrops();
    void Log(const std::string& line) const;

    WebView2Config config_;
    ComRef controller_;
    ComRef webview_;
    // Lives as long as the view: a handler called after the view went away does nothing.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace lumivale::win32
