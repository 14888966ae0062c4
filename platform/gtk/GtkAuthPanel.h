#pragma once
// The sign-in side panel: a 460 px wide window docked to the right edge of the main window, a
// 48 px header band with the back button and the title, and a web view of its own.
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

#include "MainWindow.h"
#include "WebKitView.h"

namespace lumivale {

class GtkAuthPanel : public AuthPanel {
public:
    static std::shared_ptr<GtkAuthPanel> Open(GtkWindow* owner, AuthPanelCallbacks callbacks,
                                              std::function<void(const std::string&)> log);
    GtkAuthPanel(AuthPanelCallbacks callbacks, std::function<void(const std::string&)> log);
    ~GtkAuthPanel() override;

    void Navigate(const std::string& url) override;
    void Close() override;
    bool IsOpen() const { return window_ != nullptr; }

private:
    void Build(GtkWindow* owner);
    static gboolean OnDraw(GtkWidget*, cairo_t*, gpointer self);
    static void OnDestroyed(GtkWidget*, gpointer self);

    AuthPanelCallbacks callbacks_;
    std::function<void(const std::string&)> log_;
    GtkWidget* window_ = nullptr;
    std::unique_ptr<WebKitView> view_;
};

}  // namespace lumivale
