#pragma once
// The headless host: page messages arrive as lines on standard input, events and host actions
// leave as lines on standard output. It stands in for both the window and the web view.
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "MainWindow.h"
#include "UiLoop.h"
#include "WebViewHost.h"

namespace lumivale {

class StdioHost : public WebViewHost, public MainWindow {
public:
    // Reads lines from `inputFd`, writes lines to `output`; `log` receives the host's own notes.
    StdioHost(std::shared_ptr<UiLoop> loop, int inputFd, std::FILE* output,
              std::function<void(const std::string&)> log);
    // The host on the process's standard input and output.
    static std::shared_ptr<StdioHost> OnStandardStreams(std::shared_ptr<UiLoop> loop,
                                                        std::function<void(const std::string&)> log);

    bool Init(WebViewCallbacks callbacks) override;
    void PostJson(const std::string& json) override;
    void Navigate(const std::string& target) override;
    void ReloadWithError(const std::string& message) override;
    void Close() override {}

    bool Show(std::function<void()> onDestroyed) override;
    void Minimise() override;
    void Destroy() override;
    void StartMove() override;
    void Raise() override {}
    void OpenUrl(const std::string& url) override;
    void PickFolder(const std::string& title, std::function<void(const std::string&)> done) override;
    void PickFile(const std::string& title, std::function<void(const std::string&)> done) override;
    void ShowMessage(const std::string& text, const std::string& caption, MessageKind kind) override;

private:
    void HandleLine(const std::string& line);
    void WriteLine(const std::string& line);
    void Pick(const char* kind, const std::string& title, std::function<void(const std::string&)> done);
    void EndOfInput();

    std::shared_ptr<UiLoop> loop_;
    int inputFd_;
    std::FILE* output_;
    std::function<void(const std::string&)> log_;
    std::mutex outputMutex_;
    WebViewCallbacks callbacks_;
    std::function<void()> onDestroyed_;
    std::function<void(const std::string&)> pendingPick_;
    bool destroyed_ = false;
};

}  // namespace lumivale
