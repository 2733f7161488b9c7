#include <gtk/gtk.h>

#include "GadgetInternal.h"

namespace velto::platform {

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

}  // namespace velto::platform
