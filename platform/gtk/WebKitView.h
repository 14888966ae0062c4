#pragma once
// One WebKitGTK web view with the launcher's guards: its own data folder, no context menu, no
// developer tools, no zoom, no downloads, every navigation shown to its owner first.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace lumivale {

struct WebKitViewConfig {
    std::filesystem::path dataFolder;
    std::function<void(const std::string&)> log;
    // Every navigation about to start (main frame, links, new-window requests); true cancels it.
    // Decides only: it must not change the view.
    std::function<bool(const std::string& uri)> shouldCancel;
    // The same address handed to the owner just after the decision, outside WebKit's signal, so
    // that the owner may load another page or close the view.
    std::function<void(const std::string& uri)> onNavigation;
    // Strings posted to the "lumivale" message channel; null: the channel is not offered.
    std::function<void(const std::string&)> onMessage;
    // After every load of the main frame, successful or not.
    std::function<void()> onLoadFinished;
    // The load of the main frame failed (not a cancelled one).
    std::function<void(const std::string& uri)> onLoadFailed;
    // A download was refused (none ever starts).
    std::function<void()> onDownloadRefused;
};

class WebKitView {
public:
    explicit WebKitView(WebKitViewConfig config);
    ~WebKitView();
    WebKitView(const WebKitView&) = delete;
    WebKitView& operator=(const WebKitView&) = delete;

    // The widget to put into a container; null after Close.
    GtkWidget* Widget() const { return view_; }

    // Scripts run before any page script, in every load from now on.
    void AddStartScript(const std::string& source);
    // A script run before any page script of the next completed load only.
    void SetNextLoadScript(const std::string& source);

    // Answers SCHEME://page/ with the text `page` gives (an HTML page, UTF-8); a reload asks
    // again. Any other address of the scheme is not found. Call before the first load.
    void ServePage(const std::string& scheme, std::function<std::string()> page);
    void LoadUri(const std::string& uri);
    void RunScript(const std::string& script);
    // Destroys the web view; safe to call twice.
    void Close();

private:
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType,
                                   gpointer self);
    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent, gpointer self);
    static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError*, gpointer self);
    static void OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult*, gpointer self);
    static void OnDownloadStarted(WebKitWebContext*, WebKitDownload*, gpointer self);
    static void OnDestroyed(GtkWidget*, gpointer self);
    static void OnSchemeRequest(WebKitURISchemeRequest*, gpointer self);
    void RebuildScripts();
    void Log(const std::string& line) const;

    WebKitViewConfig config_;
    WebKitWebContext* context_ = nullptr;
    WebKitUserContentManager* content_ = nullptr;
    GtkWidget* view_ = nullptr;
    std::function<std::string()> page_;
    std::string startScripts_;
    std::string nextLoadScript_;
    bool nextLoadScriptArmed_ = false;
    bool nextLoadStarted_ = false;
    // Lives as long as the view: a deferred call made after the view went away is dropped.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace lumivale
