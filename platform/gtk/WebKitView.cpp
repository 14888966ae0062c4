#include "WebKitView.h"

#include <system_error>

#include "Files.h"

namespace lumivale {

namespace {

constexpr const char* kChannel = "lumivale";

}  // namespace

WebKitView::WebKitView(WebKitViewConfig config) : config_(std::move(config)) {
    // The web view's storage (the page's and the sign-in site's) is the user's alone.
    if (!MakeOwnerOnlyFolder(config_.dataFolder)) Log("无法创建网页数据目录：" + config_.dataFolder.string());
    const std::string data = config_.dataFolder.string();
    const std::string cache = (config_.dataFolder / "cache").string();
    WebKitWebsiteDataManager* manager = webkit_website_data_manager_new(
        "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr);
    context_ = webkit_web_context_new_with_website_data_manager(manager);
    g_object_unref(manager);
    g_signal_connect(context_, "download-started", G_CALLBACK(OnDownloadStarted), this);

    content_ = webkit_user_content_manager_new();
    if (config_.onMessage) {
        webkit_user_content_manager_register_script_message_handler(content_, kChannel);
        g_signal_connect(content_, "script-message-received::lumivale", G_CALLBACK(OnScriptMessage),
                         this);
    }

    view_ = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_,
                                    "user-content-manager", content_, nullptr));
    g_object_ref_sink(view_);
    WebKitSettings* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view_));
    webkit_settings_set_enable_developer_extras(settings, FALSE);
    webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
    webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
    webkit_settings_set_zoom_text_only(settings, FALSE);

    g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(view_, "load-failed", G_CALLBACK(OnLoadFailed), this);
    g_signal_connect(view_, "destroy", G_CALLBACK(OnDestroyed), this);
    // No context menu (and with it no "inspect element").
    g_signal_connect(view_, "context-menu", G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu*,
                                                            GdkEvent*, WebKitHitTestResult*,
                                                            gpointer) -> gboolean { return TRUE; }),
                     nullptr);
    // No zoom: whatever changes the level, it goes back to 1.
    g_signal_connect(view_, "notify::zoom-level",
                     G_CALLBACK(+[](GObject* view, GParamSpec*, gpointer) {
                         if (webkit_web_view_get_zoom_level(WEBKIT_WEB_VIEW(view)) != 1.0) {
                             webkit_web_view_set_zoom_level(WEBKIT_WEB_VIEW(view), 1.0);
                         }
                     }),
                     nullptr);
    g_signal_connect(view_, "scroll-event", G_CALLBACK(+[](GtkWidget*, GdkEventScroll* event,
                                                            gpointer) -> gboolean {
                         return (event->state & GDK_CONTROL_MASK) != 0;
                     }),
                     nullptr);
}

WebKitView::~WebKitView() {
    Close();
    if (content_) g_object_unref(content_);
    if (context_) {
        g_signal_handlers_disconnect_by_data(context_, this);
        g_object_unref(context_);
    }
}

void WebKitView::Log(const std::string& line) const {
    if (config_.log) config_.log(line);
}

void WebKitView::Close() {
    if (!view_) return;
    GtkWidget* view = view_;
    g_signal_handlers_disconnect_by_data(view, this);
    view_ = nullptr;
    gtk_widget_destroy(view);
    g_object_unref(view);
    if (content_) g_signal_handlers_disconnect_by_data(content_, this);
}

void WebKitView::OnDestroyed(GtkWidget*, gpointer self) {
    // The container went away with the view inside it.
    auto* view = static_cast<WebKitView*>(self);
    view->Close();
}

void WebKitView::AddStartScript(const std::string& source) {
    startScripts_ += source;
    startScripts_ += '\n';
    RebuildScripts();
}

void WebKitView::SetNextLoadScript(const std::string& source) {
    nextLoadScript_ = source;
    nextLoadScriptArmed_ = !source.empty();
    nextLoadStarted_ = false;
    RebuildScripts();
}

void WebKitView::RebuildScripts() {
    webkit_user_content_manager_remove_all_scripts(content_);
    const std::string source = startScripts_ + (nextLoadScriptArmed_ ? nextLoadScript_ : "");
    if (source.empty()) return;
    WebKitUserScript* script = webkit_user_script_new(
        source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
        WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content_, script);
    webkit_user_script_unref(script);
}

void WebKitView::ServePage(const std::string& scheme, std::function<std::string()> page) {
    page_ = std::move(page);
    webkit_web_context_register_uri_scheme(context_, scheme.c_str(), OnSchemeRequest, this, nullptr);
    // A secure context, like a page served over https.
    webkit_security_manager_register_uri_scheme_as_secure(
        webkit_web_context_get_security_manager(context_), scheme.c_str());
}

void WebKitView::OnSchemeRequest(WebKitURISchemeRequest* request, gpointer self) {
    auto* view = static_cast<WebKitView*>(self);
    const char* path = webkit_uri_scheme_request_get_path(request);
    const char* host = webkit_uri_scheme_request_get_uri(request);
    const bool isPage = view->page_ && host && g_str_has_suffix(host, "://page/") && path &&
                        g_str_equal(path, "/");
    if (!isPage) {
        GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "not found");
        webkit_uri_scheme_request_finish_error(request, error);
        g_error_free(error);
        return;
    }
    const std::string page = view->page_();
    GInputStream* stream = g_memory_input_stream_new_from_data(
        g_memdup2(page.data(), page.size()), static_cast<gssize>(page.size()), g_free);
    WebKitURISchemeResponse* response =
        webkit_uri_scheme_response_new(stream, static_cast<gint64>(page.size()));
    webkit_uri_scheme_response_set_content_type(response, "text/html; charset=utf-8");
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    g_object_unref(stream);
}

void WebKitView::LoadUri(const std::string& uri) {
    if (view_) webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view_), uri.c_str());
}

void WebKitView::RunScript(const std::string& script) {
    if (!view_) return;
    webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view_), script.c_str(),
                                        static_cast<gssize>(script.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
}

gboolean WebKitView::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                    WebKitPolicyDecisionType type, gpointer self) {
    auto* view = static_cast<WebKitView*>(self);
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
        // A response the view cannot show would become a download: refused here already.
        auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        if (!webkit_response_policy_decision_is_mime_type_supported(response)) {
            view->Log("[DL] ★ DownloadStarting FIRED");
            if (view->config_.onDownloadRefused) view->config_.onDownloadRefused();
            webkit_policy_decision_ignore(decision);
            return TRUE;
        }
        return FALSE;
    }
    auto* navigation = WEBKIT_NAVIGATION_POLICY_DECISION(decision);
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(navigation);
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    const std::string address = uri ? uri : "";
    const bool cancel = view->config_.shouldCancel && view->config_.shouldCancel(address);
    if (view->config_.onNavigation) {
        struct Pending {
            std::weak_ptr<int> alive;
            WebKitView* view;
            std::string uri;
        };
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            +[](gpointer data) -> gboolean {
                auto* pending = static_cast<Pending*>(data);
                if (pending->alive.expired()) return G_SOURCE_REMOVE;
                // A copy: the owner may close (and so destroy) the view from inside the call.
                const auto onNavigation = pending->view->config_.onNavigation;
                if (onNavigation) onNavigation(pending->uri);
                return G_SOURCE_REMOVE;
            },
            new Pending{view->alive_, view, address},
            +[](gpointer data) { delete static_cast<Pending*>(data); });
    }
    // No second window ever opens: a page that asks for one gets nothing.
    if (cancel || type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    return FALSE;
}

void WebKitView::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    auto* view = static_cast<WebKitView*>(self);
    if (event == WEBKIT_LOAD_STARTED && view->nextLoadScriptArmed_) view->nextLoadStarted_ = true;
    if (event != WEBKIT_LOAD_FINISHED) return;
    // The one-load script has reached the document of a load that started after it was set
    // (the end of a load it cut short does not count).
    if (view->nextLoadScriptArmed_ && view->nextLoadStarted_) view->SetNextLoadScript("");
    if (view->config_.onLoadFinished) view->config_.onLoadFinished();
}

gboolean WebKitView::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error,
                                  gpointer self) {
    auto* view = static_cast<WebKitView*>(self);
    const bool cancelled =
        g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
        g_error_matches(error, WEBKIT_POLICY_ERROR,
                        WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE);
    if (!cancelled) {
        view->Log(std::string("WebView: 页面加载失败: ") + (uri ? uri : "") + " (" +
                  (error ? error->message : "") + ")");
        if (view->config_.onLoadFailed) view->config_.onLoadFailed(uri ? uri : "");
    }
    return FALSE;
}

void WebKitView::OnScriptMessage(WebKitUserContentManager*, WebKitJavascriptResult* result,
                                 gpointer self) {
    auto* view = static_cast<WebKitView*>(self);
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    // Only strings are messages; anything else the page posts is ignored.
    if (!value || !jsc_value_is_string(value)) return;
    gchar* text = jsc_value_to_string(value);
    std::string message = text ? text : "";
    g_free(text);
    if (view->config_.onMessage) view->config_.onMessage(message);
}

void WebKitView::OnDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer self) {
    auto* view = static_cast<WebKitView*>(self);
    view->Log("[DL] ★ DownloadStarting FIRED");
    webkit_download_cancel(download);
    if (view->config_.onDownloadRefused) view->config_.onDownloadRefused();
}

}  // namespace lumivale
