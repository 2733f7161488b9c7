#pragma once

// Keyboard focus for the page, and the browser keys WebKitGTK lacks: zoom
// (keys and Ctrl with the wheel) and reload.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "Keys.h"

namespace velto::webview::gtk {

class PageInput {
 public:
  // `view` must outlive this object.
  explicit PageInput(WebKitWebView* view);
  ~PageInput();
  PageInput(const PageInput&) = delete;
  PageInput& operator=(const PageInput&) = delete;

 private:
  static void on_first_map(GtkWidget* widget, gpointer self);
  static gboolean on_unhandled_key(GtkWidget* widget, GdkEventKey* event, gpointer self);
  static gboolean on_scroll(GtkWidget* widget, GdkEventScroll* event, gpointer self);

  WebKitWebView* view_;
  gulong map_handler_ = 0;
  WheelZoom wheel_;
};

}  // namespace velto::webview::gtk
