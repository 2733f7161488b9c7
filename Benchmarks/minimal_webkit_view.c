/* The floor for the client's start-up and memory: one GtkWindow of the
 * client's default size with one WebKitWebView showing the URL given on the
 * command line, and nothing else. Runs until its window is closed or it is
 * ended. Usage: minimal_webkit_view <url> */

#include <gdk/gdkx.h>
#include <glob.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

/* The same test as the engine's (WebViewGtk.cpp): no usable render node, or
 * an X server without direct rendering, means only software GL, so WebKit
 * is told not to composite with it. The comparison is unfair otherwise. */
static gboolean software_rendering_only(void) {
  glob_t found;
  gboolean render_node = FALSE;
  if (glob("/dev/dri/renderD*", 0, NULL, &found) == 0) {
    for (size_t i = 0; i < found.gl_pathc && !render_node; ++i) {
      render_node = access(found.gl_pathv[i], R_OK | W_OK) == 0;
    }
  }
  globfree(&found);
  if (!render_node) {
    return TRUE;
  }
  GdkDisplay* display = gdk_display_get_default();
  if (display && GDK_IS_X11_DISPLAY(display)) {
    Display* x = gdk_x11_display_get_xdisplay(display);
    static const char* const extensions[] = {"DRI3", "DRI2", "NV-GLX"};
    for (size_t i = 0; i < G_N_ELEMENTS(extensions); ++i) {
      int opcode = 0;
      int event = 0;
      int error = 0;
      if (XQueryExtension(x, extensions[i], &opcode, &event, &error)) {
        return FALSE;
      }
    }
    return TRUE;
  }
  return FALSE;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s <url>\n", argv[0]);
    return 2;
  }
  if (!gtk_init_check(&argc, &argv)) {
    fprintf(stderr, "no display\n");
    return 1;
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 400, 700);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);

  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_hardware_acceleration_policy(settings, software_rendering_only()
                                                                 ? WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER
                                                                 : WEBKIT_HARDWARE_ACCELERATION_POLICY_ON_DEMAND);
  GtkWidget* view = webkit_web_view_new_with_settings(settings);
  g_object_unref(settings);
  gtk_container_add(GTK_CONTAINER(window), view);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
