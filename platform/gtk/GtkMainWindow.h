#pragma once
// The main window on GTK 3: borderless, 1280 x 800, centred in the work area, with the UI page in
// a WebKitGTK view. It is both the window and the page's host.
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

#include "MainWindow.h"
#include "WebKitView.h"
#include "WebViewHost.h"

namespace lumivale {

class GtkAuthPanel;

class GtkMainWindow : public MainWindow, public WebViewHost {
public:
    explicit GtkMainWindow(std::function<void(const std::string&)> log);
    ~GtkMainWindow() override;

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

private:
    static void OnWindowDestroyed(GtkWidget*, gpointer self);
    static gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self);
    // A file drag over the view: accepted here, the page told to show its drop zone; the drop's
    // first local file goes to the launcher as "modpack:drop".
    static gboolean OnDragMotion(GtkWidget*, GdkDragContext* context, gint, gint, guint time, gpointer self);
    static void OnDragLeave(GtkWidget* widget, GdkDragContext* context, guint, gpointer self);
    static gboolean OnDragDrop(GtkWidget* widget, GdkDragContext* context, gint, gint, guint time, gpointer self);
    static void OnDragData(GtkWidget* widget, GdkDragContext* context, gint, gint, GtkSelectionData* data, guint,
                           guint time, gpointer self);
    void ShowDropZone(bool over);
    void Pick(GtkFileChooserAction action, const std::string& title,
              std::function<void(const std::string&)> done);
    bool ShouldCancel(const std::string& uri);
    void OnLoadFinished();
    void LoadPage();
    void LoadFallbackFile();
    void InjectPictures();
    void Log(const std::string& line) const;

    std::function<void(const std::string&)> log_;
    GtkWidget* window_ = nullptr;
    std::unique_ptr<WebKitView> view_;
    WebViewCallbacks callbacks_;
    std::function<void()> onDestroyed_;
    std::string pageHtml_;
    std::string fallbackUri_;       // the page written to a file, the one file:// address let through
    bool loadingPage_ = false;      // the embedded page's load is under way
    std::weak_ptr<GtkAuthPanel> panel_;
    // The file drag over the view (only compared, never used) and whether it was dropped.
    GdkDragContext* dragContext_ = nullptr;
    bool dropping_ = false;
    std::vector<guint> signalSources_;
    // The last button press on the page: a "drag" request moves the window from there.
    guint pressButton_ = 0;
    gint pressX_ = 0;
    gint pressY_ = 0;
    guint32 pressTime_ = 0;
};

}  // namespace lumivale
