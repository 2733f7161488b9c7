#include <gtk/gtk.h>

#include <algorithm>

#include "GadgetInternal.h"
#include "System/Files.h"
#include "Window/WindowNativeGtk.h"

namespace velto::platform {

namespace {

constexpr char kGadgetIdKey[] = "QX_ID";

// What Windows does at WM_NCDESTROY. Connected before the container's own
// destroy handler runs, so the engine's widget is still inside the host.
void on_host_destroy(GtkWidget* host, gpointer) {
  const auto number = reinterpret_cast<ObjectNumber>(g_object_get_data(G_OBJECT(host), kGadgetIdKey));
  Registry<GadgetRecord>* gadgets = gadget_state().registry;
  const GadgetRecord* record = gadgets ? registry_get(*gadgets, number) : nullptr;
  if (record && record->handle == host) {
    gadget_host_destroyed(number);
  }
}

// GTK refuses sizes below -1 and reads -1 as "natural size"; a negative size
// shows nothing, as on Windows.
int size_for_gtk(int size) noexcept {
  return std::max(size, 0);
}

}  // namespace

// GTK widgets take their font from the theme.
void* default_gadget_font() {
  return nullptr;
}

// No common-control classes or COM exist here.
void common_controls_init() {}
void com_init() {}

void gadget_destroy_host(void* host) {
  gtk_widget_destroy(static_cast<GtkWidget*>(host));
}

// Hosts are plain GtkFixed widgets; there is no class to register.
void host_class_register() {}

Text browser_temp_directory() {
  return temp_directory();
}

TextView cache_directory_suffix() noexcept {
  return u"/WebView2_Cache";
}

void* host_create(void* container, int x, int y, int width, int height) {
  GtkFixed* area = window_client_area(container);
  if (!area) {
    return nullptr;
  }
  GtkWidget* host = gtk_fixed_new();
  gtk_widget_set_size_request(host, size_for_gtk(width), size_for_gtk(height));
  gtk_fixed_put(area, host, x, y);
  gtk_widget_show(host);
  return host;
}

// The controller is the WebKitWebView itself.
void* browser_open(void* controller) {
  return controller;
}

void browser_release(void*) noexcept {}

// The engine's defaults already allow script dialogs and page messages.
void browser_settings_apply(void*) {}

void browser_show(void* controller) {
  gtk_widget_show(static_cast<GtkWidget*>(controller));
}

void host_attach(ObjectNumber number, GadgetRecord& record) {
  GObject* host = G_OBJECT(record.handle);
  g_object_set_data(host, kGadgetIdKey, reinterpret_cast<gpointer>(number));
  g_signal_connect(host, "destroy", G_CALLBACK(on_host_destroy), nullptr);
}

void host_detach(void* host) {
  g_signal_handlers_disconnect_by_func(host, reinterpret_cast<gpointer>(on_host_destroy), nullptr);
  g_object_set_data(G_OBJECT(host), kGadgetIdKey, nullptr);
}

Rect host_geometry(void* host) {
  GtkWidget* widget = static_cast<GtkWidget*>(host);
  Rect rect;
  if (GtkWidget* parent = gtk_widget_get_parent(widget); parent && GTK_IS_FIXED(parent)) {
    gtk_container_child_get(GTK_CONTAINER(parent), widget, "x", &rect.x, "y", &rect.y, nullptr);
  }
  gtk_widget_get_size_request(widget, &rect.width, &rect.height);
  return rect;
}

void host_move(void* host, int x, int y, int width, int height) {
  GtkWidget* widget = static_cast<GtkWidget*>(host);
  if (GtkWidget* parent = gtk_widget_get_parent(widget); parent && GTK_IS_FIXED(parent)) {
    gtk_fixed_move(GTK_FIXED(parent), widget, x, y);
  }
  gtk_widget_set_size_request(widget, size_for_gtk(width), size_for_gtk(height));
}

void widget_fit(void* widget) {
  GtkWidget* view = static_cast<GtkWidget*>(widget);
  GtkWidget* host = gtk_widget_get_parent(view);
  if (!host || !GTK_IS_FIXED(host)) {
    return;
  }
  int width = 0;
  int height = 0;
  gtk_widget_get_size_request(host, &width, &height);
  gtk_fixed_move(GTK_FIXED(host), view, 0, 0);
  gtk_widget_set_size_request(view, width, height);
}

}  // namespace velto::platform
