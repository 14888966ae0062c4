#include "GtkHost.h"

#include <gtk/gtk.h>

#include "GtkMainWindow.h"

namespace lumivale {

namespace {

// The UI loop turns on GLib: tasks posted from any thread run from an idle callback of the
// default main context, and Run iterates that context until the loop is closed.
void DriveByGlib(const std::shared_ptr<UiLoop>& loop) {
    std::weak_ptr<UiLoop> weak = loop;
    UiLoop* raw = loop.get();
    UiLoop::Driver driver;
    driver.run = [raw] {
        while (!raw->IsClosed()) g_main_context_iteration(nullptr, TRUE);
    };
    driver.quit = [] { g_main_context_wakeup(nullptr); };
    driver.wake = [weak] {
        g_idle_add_full(
            G_PRIORITY_DEFAULT_IDLE,
            +[](gpointer data) -> gboolean {
                if (auto alive = static_cast<std::weak_ptr<UiLoop>*>(data)->lock()) alive->RunPending();
                return G_SOURCE_REMOVE;
            },
            new std::weak_ptr<UiLoop>(weak),
            +[](gpointer data) { delete static_cast<std::weak_ptr<UiLoop>*>(data); });
    };
    loop->SetDriver(std::move(driver));
}

}  // namespace

std::optional<DesktopHost> OpenGtkHost(std::shared_ptr<UiLoop> loop,
                                       std::function<void(const std::string&)> log) {
    // The window's class is what the desktop groups and finds the launcher by.
    g_set_prgname("lumivale");
    if (!gtk_init_check(nullptr, nullptr)) return std::nullopt;
    gdk_set_program_class("LumivaleLauncher");  // after the start, which sets its own

    DriveByGlib(loop);
    auto window = std::make_shared<GtkMainWindow>(std::move(log));
    return DesktopHost{window, window};
}

}  // namespace lumivale

// The library's entry, found by the launcher by name (kDesktopHostEntry).
extern "C" __attribute__((visibility("default"))) lumivale::DesktopHostOpener LumivaleDesktopHost() {
    return &lumivale::OpenGtkHost;
}
