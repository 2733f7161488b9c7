#include <gtk/gtk.h>

#include <cstdlib>

#include "FakeWebViewInternal.h"

namespace fake {

// The widget stands in for the WebKitWebView: a hidden child of the host
// GtkFixed at 0,0 with zero size, which is also the "controller".
bool widget_create(Instance& instance, void* window) {
  auto* parent = *static_cast<GtkWidget**>(window);
  if (!parent || !GTK_IS_FIXED(parent)) {
    return false;
  }
  GtkWidget* widget = gtk_drawing_area_new();
  gtk_widget_set_size_request(widget, 0, 0);
  gtk_fixed_put(GTK_FIXED(parent), widget, 0, 0);
  // Ours until webview_destroy, whoever destroys the host first.
  instance.widget = g_object_ref(widget);
  return true;
}

void widget_destroy(Instance& instance) {
  if (auto* widget = static_cast<GtkWidget*>(instance.widget)) {
    gtk_widget_destroy(widget);
    g_object_unref(widget);
    instance.widget = nullptr;
  }
}

void* native_handle(const Instance& instance, webview_native_handle_kind_t kind) {
  auto* widget = static_cast<GtkWidget*>(instance.widget);
  switch (kind) {
    case WEBVIEW_NATIVE_HANDLE_KIND_UI_WINDOW:
      return widget ? gtk_widget_get_toplevel(widget) : nullptr;
    case WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET:
    case WEBVIEW_NATIVE_HANDLE_KIND_BROWSER_CONTROLLER:
      return widget;
  }
  return nullptr;
}

std::string environment_arguments() {
  const char* value = std::getenv("WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS");
  return value ? value : "";
}

int browser_references(const Instance&) {
  return 0;
}

}  // namespace fake
