#include "GtkAuthPanel.h"

#include "Paths.h"
#include "WebViewRules.h"

namespace lumivale {

namespace {

constexpr int kPanelWidth = 460;
constexpr int kHeaderHeight = 48;

void SetSourceRgb(cairo_t* cr, int r, int g, int b) {
    cairo_set_source_rgb(cr, r / 255.0, g / 255.0, b / 255.0);
}

}  // namespace

std::shared_ptr<GtkAuthPanel> GtkAuthPanel::Open(GtkWindow* owner, AuthPanelCallbacks callbacks,
                                                 std::function<void(const std::string&)> log) {
    auto panel = std::make_shared<GtkAuthPanel>(std::move(callbacks), std::move(log));
    panel->Build(owner);
    return panel;
}

GtkAuthPanel::GtkAuthPanel(AuthPanelCallbacks callbacks, std::function<void(const std::string&)> log)
    : callbacks_(std::move(callbacks)), log_(std::move(log)) {}

GtkAuthPanel::~GtkAuthPanel() { Close(); }

void GtkAuthPanel::Build(GtkWindow* owner) {
    int x = 0, y = 0, width = 0, height = 0;
    gtk_window_get_position(owner, &x, &y);
    gtk_window_get_size(owner, &width, &height);

    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), "");
    gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
    gtk_window_set_transient_for(GTK_WINDOW(window_), owner);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(window_), TRUE);
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window_), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(window_), kPanelWidth, height);
    gtk_window_move(GTK_WINDOW(window_), x + width - kPanelWidth, y);
    // The panel paints its own background and header band; the children draw on top.
    gtk_widget_set_app_paintable(window_, TRUE);
    g_signal_connect(window_, "draw", G_CALLBACK(OnDraw), this);
    g_signal_connect(window_, "destroy", G_CALLBACK(OnDestroyed), this);

    GtkWidget* layout = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(window_), layout);

    GtkWidget* back = gtk_button_new_with_label("← 返回");
    gtk_widget_set_size_request(back, 76, 32);
    gtk_fixed_put(GTK_FIXED(layout), back, 14, 8);
    g_signal_connect(back, "clicked", G_CALLBACK(+[](GtkButton*, gpointer self) {
                         // A copy: the owner closes (and may drop) the panel from inside it.
                         const auto onBack = static_cast<GtkAuthPanel*>(self)->callbacks_.onBack;
                         if (onBack) onBack();
                     }),
                     this);

    WebKitViewConfig config;
    config.dataFolder = UserCacheFolder() / "WebViewAuth";
    config.log = log_;
    // Every address goes to the owner; the launcher's own scheme is never loaded here.
    config.shouldCancel = [](const std::string& uri) {
        return JudgeNavigation(uri, "") != NavigationVerdict::Proceed;
    };
    config.onNavigation = [this](const std::string& uri) {
        const auto onNavigation = callbacks_.onNavigation;  // the owner may drop the panel
        if (onNavigation) onNavigation(uri);
    };
    view_ = std::make_unique<WebKitView>(std::move(config));
    // From the header band down to 48 px above the bottom edge.
    gtk_widget_set_size_request(view_->Widget(), kPanelWidth,
                                std::max(0, height - 2 * kHeaderHeight));
    gtk_fixed_put(GTK_FIXED(layout), view_->Widget(), 0, kHeaderHeight);

    gtk_widget_show_all(window_);
}

gboolean GtkAuthPanel::OnDraw(GtkWidget* widget, cairo_t* cr, gpointer) {
    const int width = gtk_widget_get_allocated_width(widget);
    const int height = gtk_widget_get_allocated_height(widget);
    SetSourceRgb(cr, 26, 16, 48);
    cairo_rectangle(cr, 0, 0, width, height);
    cairo_fill(cr);
    SetSourceRgb(cr, 40, 26, 70);
    cairo_rectangle(cr, 0, 0, width, kHeaderHeight);
    cairo_fill(cr);

    // The title: left 100 to 16 px before the right edge, one line, centred in the band.
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_text(layout, "LittleSkin 授权登录", -1);
    PangoFontDescription* font =
        pango_font_description_from_string("Microsoft YaHei UI, WenQuanYi Micro Hei, sans-serif");
    pango_font_description_set_absolute_size(font, 15 * PANGO_SCALE);
    pango_font_description_set_weight(font, PANGO_WEIGHT_SEMIBOLD);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_width(layout, std::max(0, width - 16 - 100) * PANGO_SCALE);
    pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
    int textWidth = 0, textHeight = 0;
    pango_layout_get_pixel_size(layout, &textWidth, &textHeight);
    SetSourceRgb(cr, 253, 251, 255);
    cairo_move_to(cr, 100, (kHeaderHeight - textHeight) / 2);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    return FALSE;
}

void GtkAuthPanel::OnDestroyed(GtkWidget*, gpointer self) {
    // Gone with the main window: nothing is left to close.
    auto* panel = static_cast<GtkAuthPanel*>(self);
    panel->window_ = nullptr;
    panel->view_.reset();
}

void GtkAuthPanel::Navigate(const std::string& url) {
    if (view_) view_->LoadUri(url);
}

void GtkAuthPanel::Close() {
    view_.reset();
    if (!window_) return;
    GtkWidget* window = window_;
    window_ = nullptr;
    g_signal_handlers_disconnect_by_data(window, this);
    gtk_widget_destroy(window);
}

}  // namespace lumivale
