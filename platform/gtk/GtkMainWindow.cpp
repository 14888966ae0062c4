#include "GtkMainWindow.h"

#include <glib-unix.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "GtkAuthPanel.h"
#include "PageScripts.h"
#include "Paths.h"
#include "Resources.h"
#include "WebViewRules.h"

namespace lumivale {

namespace {

constexpr const char* kTitle = "Lumivale启动器";
constexpr int kWidth = 1280;
constexpr int kHeight = 800;
constexpr int kCornerRadius = 8;
// The page is served by the web view itself under a scheme of its own: it has an origin (and
// storage) of its own, a reload loads it again, and nothing it names by a relative address
// reaches the network.
constexpr const char* kPageScheme = "lumivale-app";
constexpr const char* kPageAddress = "lumivale-app://page/";

// The bytes of a picture resource as a base64 text, read once per run.
const std::string& PictureBase64(int id) {
    static const std::string background = [] {
        auto bytes = GetResource(IDR_BG_PNG);
        if (bytes.empty()) return std::string();
        gchar* text = g_base64_encode(bytes.data(), bytes.size());
        std::string result = text;
        g_free(text);
        return result;
    }();
    static const std::string logo = [] {
        auto bytes = GetResource(IDR_LOGO_PNG);
        if (bytes.empty()) return std::string();
        gchar* text = g_base64_encode(bytes.data(), bytes.size());
        std::string result = text;
        g_free(text);
        return result;
    }();
    return id == IDR_BG_PNG ? background : logo;
}

// The window icon from the logo picture, when the build carried one.
GList* IconList() {
    auto bytes = GetResource(IDR_LOGO_PNG);
    if (bytes.empty()) return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    GList* icons = nullptr;
    if (gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), nullptr) &&
        gdk_pixbuf_loader_close(loader, nullptr)) {
        if (GdkPixbuf* logo = gdk_pixbuf_loader_get_pixbuf(loader)) {
            for (int size : {16, 32, 48, 64, 128}) {
                icons = g_list_append(icons, gdk_pixbuf_scale_simple(logo, size, size, GDK_INTERP_BILINEAR));
            }
        }
    } else {
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
    return icons;
}

// Rounded corners by the window's shape: works on any X server, composited or not.
void RoundCorners(GtkWidget* window) {
    cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_A1, kWidth, kHeight);
    cairo_t* cr = cairo_create(mask);
    const double r = kCornerRadius;
    cairo_new_sub_path(cr);
    cairo_arc(cr, kWidth - r, r, r, -G_PI / 2, 0);
    cairo_arc(cr, kWidth - r, kHeight - r, r, 0, G_PI / 2);
    cairo_arc(cr, r, kHeight - r, r, G_PI / 2, G_PI);
    cairo_arc(cr, r, r, r, G_PI, 3 * G_PI / 2);
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_region_t* region = gdk_cairo_region_create_from_surface(mask);
    gtk_widget_shape_combine_region(window, region);
    cairo_region_destroy(region);
    cairo_surface_destroy(mask);
}

}  // namespace

GtkMainWindow::GtkMainWindow(std::function<void(const std::string&)> log) : log_(std::move(log)) {}

GtkMainWindow::~GtkMainWindow() {
    for (guint source : signalSources_) g_source_remove(source);
    if (auto panel = panel_.lock()) panel->Close();
    view_.reset();
    if (window_) {
        g_signal_handlers_disconnect_by_data(window_, this);
        gtk_widget_destroy(window_);
    }
}

void GtkMainWindow::Log(const std::string& line) const {
    if (log_) log_(line);
}

bool GtkMainWindow::Show(std::function<void()> onDestroyed) {
    onDestroyed_ = std::move(onDestroyed);
    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), kTitle);
    gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(window_), kWidth, kHeight);
    gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    if (GList* icons = IconList()) {
        gtk_window_set_icon_list(GTK_WINDOW(window_), icons);
        g_list_free_full(icons, g_object_unref);
    }

    // Centred in the primary monitor's work area; integer division, and a work area smaller
    // than the window gives negative offsets.
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (!monitor) monitor = gdk_display_get_monitor(display, 0);
    if (monitor) {
        GdkRectangle area;
        gdk_monitor_get_workarea(monitor, &area);
        const int left = area.x;
        const int top = area.y;
        const int right = area.x + area.width;
        const int bottom = area.y + area.height;
        gtk_window_move(GTK_WINDOW(window_), left + (right - left - kWidth) / 2,
                        top + (bottom - top - kHeight) / 2);
    }

    g_signal_connect(window_, "destroy", G_CALLBACK(OnWindowDestroyed), this);
    // A polite end (a session logging out, `kill`) closes the window like its close button.
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        signalSources_.push_back(g_unix_signal_add(
            signal,
            +[](gpointer self) -> gboolean {
                static_cast<GtkMainWindow*>(self)->Destroy();
                return G_SOURCE_CONTINUE;
            },
            this));
    }
    RoundCorners(window_);
    gtk_widget_show(window_);
    return true;
}

void GtkMainWindow::OnWindowDestroyed(GtkWidget*, gpointer self) {
    auto* host = static_cast<GtkMainWindow*>(self);
    host->window_ = nullptr;
    if (auto panel = host->panel_.lock()) panel->Close();
    if (host->onDestroyed_) {
        auto done = std::move(host->onDestroyed_);
        host->onDestroyed_ = nullptr;
        done();
    }
}

gboolean GtkMainWindow::OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self) {
    auto* host = static_cast<GtkMainWindow*>(self);
    host->pressButton_ = event->button;
    host->pressX_ = static_cast<gint>(event->x_root);
    host->pressY_ = static_cast<gint>(event->y_root);
    host->pressTime_ = event->time;
    return FALSE;  // the page gets the press as well
}

void GtkMainWindow::Minimise() {
    if (window_) gtk_window_iconify(GTK_WINDOW(window_));
}

void GtkMainWindow::Destroy() {
    if (window_) gtk_widget_destroy(window_);
}

void GtkMainWindow::StartMove() {
    if (!window_ || pressButton_ == 0) return;
    gtk_window_begin_move_drag(GTK_WINDOW(window_), static_cast<gint>(pressButton_), pressX_,
                               pressY_, pressTime_);
}

void GtkMainWindow::Raise() {
    if (!window_) return;
    Log("SingleInstance: 另一次启动请求显示窗口");
    gtk_window_deiconify(GTK_WINDOW(window_));
    gtk_window_present(GTK_WINDOW(window_));
}

void GtkMainWindow::OpenUrl(const std::string& url) {
    GError* error = nullptr;
    if (!gtk_show_uri_on_window(window_ ? GTK_WINDOW(window_) : nullptr, url.c_str(),
                                GDK_CURRENT_TIME, &error)) {
        Log("OpenUrl: 无法打开 " + url + ": " + (error ? error->message : ""));
        g_clear_error(&error);
    }
}

void GtkMainWindow::Pick(GtkFileChooserAction action, const std::string& title,
                         std::function<void(const std::string&)> done) {
    GtkFileChooserNative* chooser = gtk_file_chooser_native_new(
        title.c_str(), window_ ? GTK_WINDOW(window_) : nullptr, action, nullptr, nullptr);
    gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser), TRUE);
    auto* pending = new std::function<void(const std::string&)>(std::move(done));
    g_signal_connect_data(
        chooser, "response",
        G_CALLBACK(+[](GtkNativeDialog* dialog, gint response, gpointer data) {
            auto* callback = static_cast<std::function<void(const std::string&)>*>(data);
            std::string path;
            if (response == GTK_RESPONSE_ACCEPT) {
                if (gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
                    path = name;
                    g_free(name);
                }
            }
            auto finish = std::move(*callback);
            *callback = nullptr;
            g_object_unref(dialog);
            if (finish) finish(path);
        }),
        pending,
        +[](gpointer data, GClosure*) {
            delete static_cast<std::function<void(const std::string&)>*>(data);
        },
        G_CONNECT_DEFAULT);
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser));
}

void GtkMainWindow::PickFolder(const std::string& title, std::function<void(const std::string&)> done) {
    Pick(GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, title, std::move(done));
}

void GtkMainWindow::PickFile(const std::string& title, std::function<void(const std::string&)> done) {
    Pick(GTK_FILE_CHOOSER_ACTION_OPEN, title, std::move(done));
}

void GtkMainWindow::ShowMessage(const std::string& text, const std::string& caption,
                                MessageKind kind) {
    // Also on the console: a box may go unseen (another desktop, a session without a person).
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    GtkWidget* box = gtk_message_dialog_new(
        window_ ? GTK_WINDOW(window_) : nullptr, GTK_DIALOG_MODAL,
        kind == MessageKind::Error ? GTK_MESSAGE_ERROR : GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s",
        text.c_str());
    gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
    gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
    if (!window_) {
        // A box of a start that leaves again (a second start, a failed start) does not wait for
        // a person forever: it goes away by itself after a while. The timer holds a reference
        // to the box, so it may fire after the box was answered.
        g_timeout_add_seconds_full(
            G_PRIORITY_DEFAULT, 5,
            +[](gpointer dialog) -> gboolean {
                if (gtk_widget_get_visible(GTK_WIDGET(dialog))) {
                    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
                }
                return G_SOURCE_REMOVE;
            },
            g_object_ref(box), g_object_unref);
    }
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

std::shared_ptr<AuthPanel> GtkMainWindow::OpenAuthPanel(AuthPanelCallbacks callbacks) {
    if (!window_) return nullptr;
    if (auto open = panel_.lock(); open && open->IsOpen()) return open;
    auto panel = GtkAuthPanel::Open(GTK_WINDOW(window_), std::move(callbacks), log_);
    panel_ = panel;
    return panel;
}

bool GtkMainWindow::Init(WebViewCallbacks callbacks) {
    if (!window_) return false;
    callbacks_ = std::move(callbacks);
    auto page = GetResource(IDR_APP_HTML);
    if (const char* file = std::getenv("LUMIVALE_UI_PAGE"); file && *file) {
        // Page development and tests: another page file instead of the built-in one.
        gchar* text = nullptr;
        gsize length = 0;
        if (g_file_get_contents(file, &text, &length, nullptr)) {
            pageHtml_.assign(text, length);
            g_free(text);
        } else {
            Log(std::string("Init: 无法读取 LUMIVALE_UI_PAGE 指定的页面 ") + file);
        }
    }
    if (pageHtml_.empty() && page.empty()) {
        Log("Init: 未找到内嵌 HTML 资源，显示内置的替代页面");
        pageHtml_ = kStandInPage;
    } else if (pageHtml_.empty()) {
        pageHtml_.assign(reinterpret_cast<const char*>(page.data()), page.size());
    }

    WebKitViewConfig config;
    config.dataFolder = UserCacheFolder() / "WebView";
    config.log = log_;
    config.shouldCancel = [this](const std::string& uri) { return ShouldCancel(uri); };
    config.onNavigation = [this](const std::string& uri) {
        if (uri.starts_with("lumivale://") && callbacks_.onSchemeNavigation) {
            callbacks_.onSchemeNavigation(uri);
        }
    };
    config.onMessage = [this](const std::string& text) {
        if (callbacks_.onMessage) callbacks_.onMessage(text);
    };
    config.onLoadFinished = [this] { OnLoadFinished(); };
    config.onLoadFailed = [this](const std::string&) {
        if (loadingPage_) LoadFallbackFile();
    };
    config.onDownloadRefused = [this] {
        if (callbacks_.onRefused) callbacks_.onRefused(Refusal::Download, "");
    };
    view_ = std::make_unique<WebKitView>(std::move(config));
    view_->AddStartScript(kBridgeScript);
    view_->ServePage(kPageScheme, [this] { return pageHtml_; });
    g_signal_connect(view_->Widget(), "button-press-event", G_CALLBACK(OnButtonPress), this);
    // A page is handed a dropped file without its path, so the window takes file drags itself,
    // before the view sees them, and only asks the page to show where to drop.
    g_signal_connect(view_->Widget(), "drag-motion", G_CALLBACK(OnDragMotion), this);
    g_signal_connect(view_->Widget(), "drag-leave", G_CALLBACK(OnDragLeave), this);
    g_signal_connect(view_->Widget(), "drag-drop", G_CALLBACK(OnDragDrop), this);
    g_signal_connect(view_->Widget(), "drag-data-received", G_CALLBACK(OnDragData), this);
    gtk_container_add(GTK_CONTAINER(window_), view_->Widget());
    gtk_widget_show(view_->Widget());
    Log("拖放：窗口接收拖入的整合包文件并交给启动器，页面只显示放置区域");
    LoadPage();
    if (callbacks_.onControllerReady) callbacks_.onControllerReady();
    return true;
}

namespace {

GdkAtom UriListAtom() { return gdk_atom_intern_static_string("text/uri-list"); }

bool CarriesFiles(GdkDragContext* context) {
    return g_list_find(gdk_drag_context_list_targets(context), UriListAtom()) != nullptr;
}

}  // namespace

gboolean GtkMainWindow::OnDragMotion(GtkWidget*, GdkDragContext* context, gint, gint, guint time, gpointer self) {
    if (!CarriesFiles(context)) return FALSE;  // text and links: the view's own business
    auto* window = static_cast<GtkMainWindow*>(self);
    if (window->dragContext_ != context) {
        window->dragContext_ = context;
        window->ShowDropZone(true);
    }
    gdk_drag_status(context, GDK_ACTION_COPY, time);
    return TRUE;
}

void GtkMainWindow::OnDragLeave(GtkWidget* widget, GdkDragContext* context, guint, gpointer self) {
    auto* window = static_cast<GtkMainWindow*>(self);
    if (context != window->dragContext_) return;
    // Also sent just before a drop: the drop still finds its context below.
    window->ShowDropZone(false);
    g_signal_stop_emission_by_name(widget, "drag-leave");
}

gboolean GtkMainWindow::OnDragDrop(GtkWidget* widget, GdkDragContext* context, gint, gint, guint time, gpointer self) {
    auto* window = static_cast<GtkMainWindow*>(self);
    if (context != window->dragContext_) return FALSE;
    window->dropping_ = true;
    gtk_drag_get_data(widget, context, UriListAtom(), time);
    return TRUE;
}

void GtkMainWindow::OnDragData(GtkWidget* widget, GdkDragContext* context, gint, gint, GtkSelectionData* data, guint,
                               guint time, gpointer self) {
    auto* window = static_cast<GtkMainWindow*>(self);
    if (context != window->dragContext_ || !window->dropping_) return;
    g_signal_stop_emission_by_name(widget, "drag-data-received");
    window->dragContext_ = nullptr;
    window->dropping_ = false;
    window->ShowDropZone(false);
    std::string path;
    if (gchar** uris = gtk_selection_data_get_uris(data)) {
        for (gchar** uri = uris; *uri != nullptr && path.empty(); ++uri) {
            if (gchar* file = g_filename_from_uri(*uri, nullptr, nullptr)) {
                path = file;
                g_free(file);
            }
        }
        g_strfreev(uris);
    }
    gtk_drag_finish(context, !path.empty(), FALSE, time);
    if (path.empty()) {
        window->Log("拖放：拖入的不是本机文件，已忽略");
        return;
    }
    window->Log("拖放：收到文件 " + path);
    // The launcher decides: an import, or a word why not (another import runs, not a pack).
    if (window->callbacks_.onMessage) {
        window->callbacks_.onMessage(nlohmann::json{{"type", "modpack:drop"}, {"path", path}}.dump(
            -1, ' ', false, nlohmann::json::error_handler_t::replace));
    }
}

void GtkMainWindow::ShowDropZone(bool over) {
    PostJson(std::string(R"({"type":"window:drag","over":)") + (over ? "true" : "false") + "}");
}

void GtkMainWindow::LoadPage() {
    if (!view_) return;
    loadingPage_ = true;
    view_->LoadUri(kPageAddress);
}

void GtkMainWindow::LoadFallbackFile() {
    loadingPage_ = false;
    Log("NavigateToString 失败，回退到 file:// 临时文件");
    std::string name = (TempFolder() / "lvlXXXXXX.html").string();
    const int fd = ::mkstemps(name.data(), 5);
    if (fd < 0) return;
    const bool written = ::write(fd, pageHtml_.data(), pageHtml_.size()) ==
                         static_cast<ssize_t>(pageHtml_.size());
    ::close(fd);
    if (!written) return;
    gchar* uri = g_filename_to_uri(name.c_str(), nullptr, nullptr);
    if (!uri) return;
    fallbackUri_ = uri;
    g_free(uri);
    view_->LoadUri(fallbackUri_);
}

bool GtkMainWindow::ShouldCancel(const std::string& uri) {
    switch (JudgeNavigation(uri, fallbackUri_)) {
        case NavigationVerdict::Proceed:
            return false;
        case NavigationVerdict::ToLauncher:
            return true;  // handed to the launcher by onNavigation
        case NavigationVerdict::BlockedFile:
            Log("[DL] Blocked file:// nav");
            if (callbacks_.onRefused) callbacks_.onRefused(Refusal::FileNavigation, uri);
            return true;
    }
    return true;
}

void GtkMainWindow::OnLoadFinished() {
    loadingPage_ = false;
    Log("WebView: 页面加载完成");
    if (callbacks_.onPageReady) callbacks_.onPageReady();
    InjectPictures();
}

void GtkMainWindow::InjectPictures() {
    const struct {
        int id;
        const char* property;
        const char* missing;
    } pictures[] = {
        {IDR_BG_PNG, "--bg", "LoadBackgroundPng: FindResourceW(IDR_BG_PNG, RT_RCDATA) 失败"},
        {IDR_LOGO_PNG, "--logo", "LoadLogoPng: FindResourceW(IDR_LOGO_PNG, RT_RCDATA) 失败"},
    };
    for (const auto& picture : pictures) {
        const std::string& base64 = PictureBase64(picture.id);
        if (base64.empty()) {
            Log(picture.missing);
            continue;
        }
        view_->RunScript(PictureScript(picture.property, base64));
    }
}

void GtkMainWindow::PostJson(const std::string& json) {
    if (!view_) return;
    // Only JSON reaches the page, and it reaches it as a value, never as code.
    const std::string script = DeliveryScript(json);
    if (script.empty()) {
        Log("WebView: 丢弃了一条不是 JSON 的事件: " + json);
        return;
    }
    view_->RunScript(script);
}

void GtkMainWindow::Navigate(const std::string& target) {
    if (!view_) return;
    if (IsAddressTarget(target)) {
        view_->LoadUri(target);
        return;
    }
    gchar* uri = g_filename_to_uri(target.c_str(), nullptr, nullptr);
    view_->LoadUri(uri ? uri : target);
    g_free(uri);
}

void GtkMainWindow::ReloadWithError(const std::string& message) {
    if (!view_) return;
    // The reloaded page reads window.__bootError as it starts, so the value is set by a script
    // that runs in the new document before the page's own.
    if (!message.empty()) {
        view_->SetNextLoadScript(BootErrorScript(message));
    }
    // Always the launcher's page again, also when the view was sent elsewhere.
    LoadPage();
}

void GtkMainWindow::RunScript(const std::string& script) {
    if (view_) view_->RunScript(script);
}

void GtkMainWindow::Close() {
    view_.reset();
}

}  // namespace lumivale
