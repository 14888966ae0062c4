#pragma once
// The way to the page for any thread. A copy is cheap and safe to keep in a worker: once the UI
// loop has closed, events are dropped instead of reaching a page that is gone.
#include <memory>
#include <string>

#include "UiLoop.h"
#include "WebViewHost.h"

namespace lumivale {

class UiEvents {
public:
    UiEvents() = default;
    UiEvents(std::shared_ptr<UiLoop> loop, std::shared_ptr<WebViewHost> view)
        : loop_(std::move(loop)), view_(std::move(view)) {}

    // On the UI thread the event is delivered before this returns; from any other thread it is
    // queued and delivered in the order that thread sent it.
    void Post(std::string json) const {
        if (!loop_ || !view_) return;
        if (loop_->IsUiThread()) {
            if (!loop_->IsClosed()) view_->PostJson(json);
            return;
        }
        loop_->Post([view = view_, json = std::move(json)] { view->PostJson(json); });
    }

private:
    std::shared_ptr<UiLoop> loop_;
    std::shared_ptr<WebViewHost> view_;
};

}  // namespace lumivale
