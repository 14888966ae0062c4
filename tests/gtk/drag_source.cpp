// Drags one file onto whatever window lies under the screen's centre, as a file manager would:
// a small GTK window offers the file as text/uri-list, and XTest moves the pointer with the button
// held from this window to the centre and lets go there.
// Usage: lumivale_drag_source FILE   (exit 0 once the drag ended, 1 when it never began)
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <X11/extensions/XTest.h>

namespace {

gchar* fileUri = nullptr;
int step = 0;
bool dragBegan = false;

void OnDataGet(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint, guint, gpointer) {
    gchar* uris[] = {fileUri, nullptr};
    gtk_selection_data_set_uris(data, uris);
}

// One pointer step every 50 ms: press inside this window, travel to the centre, release.
gboolean NextStep(gpointer) {
    Display* display = GDK_DISPLAY_XDISPLAY(gdk_display_get_default());
    const int width = DisplayWidth(display, DefaultScreen(display));
    const int height = DisplayHeight(display, DefaultScreen(display));
    const int travel = 20;
    if (step == 0) {
        XTestFakeMotionEvent(display, -1, 40, 40, CurrentTime);
    } else if (step == 1) {
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
    } else if (step < 2 + travel) {
        const int k = step - 1;
        XTestFakeMotionEvent(display, -1, 40 + (width / 2 - 40) * k / travel, 40 + (height / 2 - 40) * k / travel, CurrentTime);
    } else if (step < 2 + travel + 10) {
        // Resting over the target lets it ask for the data before the drop.
        XTestFakeMotionEvent(display, -1, width / 2 + (step % 2), height / 2, CurrentTime);
    } else if (step == 2 + travel + 10) {
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
    } else if (step > 2 + travel + 100) {
        gtk_main_quit();  // the drag never ended: give up
        return G_SOURCE_REMOVE;
    }
    XFlush(display);
    step++;
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    if (argc != 2) return 2;
    GFile* file = g_file_new_for_path(argv[1]);
    fileUri = g_file_get_uri(file);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_window_move(GTK_WINDOW(window), 0, 0);
    gtk_window_set_default_size(GTK_WINDOW(window), 100, 100);
    GtkWidget* box = gtk_event_box_new();
    gtk_container_add(GTK_CONTAINER(window), box);
    GtkTargetEntry target = {const_cast<gchar*>("text/uri-list"), 0, 0};
    gtk_drag_source_set(box, GDK_BUTTON1_MASK, &target, 1, GDK_ACTION_COPY);
    g_signal_connect(box, "drag-data-get", G_CALLBACK(OnDataGet), nullptr);
    g_signal_connect(box, "drag-begin", G_CALLBACK(+[](GtkWidget*, GdkDragContext*, gpointer) { dragBegan = true; }), nullptr);
    g_signal_connect(box, "drag-end", G_CALLBACK(+[](GtkWidget*, GdkDragContext*, gpointer) { gtk_main_quit(); }), nullptr);
    g_signal_connect(box, "drag-failed", G_CALLBACK(+[](GtkWidget*, GdkDragContext*, GtkDragResult result, gpointer) {
                         g_printerr("drag_source: the drop did not happen (GtkDragResult %d)\n", static_cast<int>(result));
                         return FALSE;
                     }), nullptr);
    gtk_widget_show_all(window);
    g_timeout_add(50, NextStep, nullptr);
    gtk_main();
    return dragBegan ? 0 : 1;
}
