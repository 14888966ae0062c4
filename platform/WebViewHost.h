#pragma once
// Hosts the UI page: delivers the page's messages to the App and the App's events to the page.
// The window implementation shows a real web view; the stdio implementation speaks lines.
#include <functional>
#include <string>

namespace lumivale {

enum class Refusal { FileNavigation, Download };

struct WebViewCallbacks {
    std::function<void(const std::string&)> onMessage;           // every string the page posts
    std::function<bool(const std::string&)> onSchemeNavigation;  // a lumivale:// navigation
    std::function<void()> onControllerReady;
    std::function<void()> onPageReady;                           // after every completed load
    std::function<void(Refusal, const std::string&)> onRefused;  // a guard turned this away
};

class WebViewHost {
public:
    virtual ~WebViewHost() = default;
    // Starts the host and loads the page; false when it cannot start.
    virtual bool Init(WebViewCallbacks callbacks) = 0;
    // Delivers one event (a JSON object text) to the page. UI thread only.
    virtual void PostJson(const std::string& json) = 0;
    virtual void Navigate(const std::string& target) = 0;
    // Reloads the page; a non-empty message is shown by the page as a start-up error.
    virtual void ReloadWithError(const std::string& message) = 0;
    // Runs a script in the page (the self-test's probes); a host without a page ignores it.
    virtual void RunScript(const std::string& /*script*/) {}
    virtual void Close() = 0;
};

}  // namespace lumivale
