#include "platform/gtk/layer_window.h"

#include <gtk-layer-shell/gtk-layer-shell.h>

#include <cmath>

namespace vimbrel {

void LayerWindow::Attach(GtkWindow* window) {
    window_ = window;
    gtk_layer_init_for_window(window);
    gtk_layer_set_namespace(window, "vimbrel");
    gtk_layer_set_layer(window, GTK_LAYER_SHELL_LAYER_TOP);
    gtk_layer_set_keyboard_mode(window, GTK_LAYER_SHELL_KEYBOARD_MODE_NONE);
    gtk_layer_set_exclusive_zone(window, 0);
    // Anchored to the bottom edge alone, the compositor centres it.
    gtk_layer_set_anchor(window, GTK_LAYER_SHELL_EDGE_BOTTOM, TRUE);
}

GdkRectangle LayerWindow::Screen() const {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = nullptr;
    if (GdkWindow* gw = gtk_widget_get_window(GTK_WIDGET(window_)); gw && gtk_widget_get_mapped(GTK_WIDGET(window_)))
        monitor = gdk_display_get_monitor_at_window(display, gw);
    if (!monitor) monitor = gdk_display_get_monitor(display, 0);
    GdkRectangle screen{0, 0, 0, 0};
    if (monitor) gdk_monitor_get_geometry(monitor, &screen);
    return screen;
}

GdkRectangle LayerWindow::Surface() const {
    GdkRectangle surface{0, 0, 0, 0};
    gtk_window_get_size(window_, &surface.width, &surface.height);
    if (at_) {
        surface.x = at_->x;
        surface.y = at_->y;
    }
    return surface;
}

void LayerWindow::BeginDrag(double x, double y) {
    dragFrom_ = GdkPoint{static_cast<int>(x), static_cast<int>(y)};
    dragStart_ = at_;
}

void LayerWindow::SetMargin(int edge, int margin) {
    const auto e = static_cast<GtkLayerShellEdge>(edge);
    if (gtk_layer_get_margin(window_, e) == margin) return;
    gtk_layer_set_margin(window_, e, margin);
    moved_ = true;
}

// The bottom margin always; a left margin, against the left edge, only where
// the surface is not centred (it was dragged).
void LayerWindow::MoveTo(int left, int top) {
    const GdkRectangle screen = Screen();
    const GdkRectangle surface = Surface();
    at_ = GdkPoint{left, top};
    const bool centred = std::abs(2 * left + surface.width - screen.width) <= 1;
    if (gtk_layer_get_anchor(window_, GTK_LAYER_SHELL_EDGE_LEFT) == centred) {
        gtk_layer_set_anchor(window_, GTK_LAYER_SHELL_EDGE_LEFT, !centred);
        moved_ = true;
    }
    SetMargin(GTK_LAYER_SHELL_EDGE_LEFT, centred ? 0 : left);
    SetMargin(GTK_LAYER_SHELL_EDGE_BOTTOM, screen.height - top - surface.height);
}

void LayerWindow::DragTo(double x, double y) {
    if (!dragFrom_ || !dragStart_) return;
    MoveTo(dragStart_->x + static_cast<int>(x) - dragFrom_->x, dragStart_->y + static_cast<int>(y) - dragFrom_->y);
}

bool LayerWindow::TakeMoveDraw() {
    const bool moved = moved_;
    moved_ = false;
    return moved;
}

}  // namespace vimbrel
