// The page gets the keyboard as soon as its window shows, and the keys the
// Windows browser handles by itself do the same here.

#include "GtkPageInput.h"

#include <gdk/gdkkeysyms.h>

namespace velto::webview::gtk {

namespace {

Key key_of(guint keyval) noexcept {
  switch (gdk_keyval_to_lower(keyval)) {
    case GDK_KEY_plus:
      return Key::Plus;
    case GDK_KEY_equal:
      return Key::Equal;
    case GDK_KEY_minus:
      return Key::Minus;
    case GDK_KEY_0:
      return Key::Zero;
    case GDK_KEY_KP_Add:
      return Key::KeypadPlus;
    case GDK_KEY_KP_Subtract:
      return Key::KeypadMinus;
    case GDK_KEY_KP_0:
      return Key::KeypadZero;
    case GDK_KEY_r:
      return Key::R;
    case GDK_KEY_F5:
      return Key::F5;
    default:
      return Key::Other;
  }
}

Key key_of(const GdkEventKey* event) {
  const Key key = key_of(event->keyval);
  if (key != Key::Other || event->group == 0 || !event->window) {
    return key;
  }
  // Another layout is active (Cyrillic, say): the key as the first layout
  // has it, as the Windows browser takes Ctrl+R wherever the R key is.
  guint keyval = 0;
  GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_window_get_display(event->window));
  if (!gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, static_cast<GdkModifierType>(event->state),
                                           0, &keyval, nullptr, nullptr, nullptr)) {
    return key;
  }
  return key_of(keyval);
}

Modifiers modifiers_of(guint state) noexcept {
  return Modifiers{
      .control = (state & GDK_CONTROL_MASK) != 0,
      .shift = (state & GDK_SHIFT_MASK) != 0,
      .alt = (state & GDK_MOD1_MASK) != 0,
      .super = (state & (GDK_SUPER_MASK | GDK_HYPER_MASK | GDK_META_MASK | GDK_MOD4_MASK)) != 0,
  };
}

void carry_out(WebKitWebView* view, PageAction action) {
  switch (action) {
    case PageAction::ZoomIn:
    case PageAction::ZoomOut:
    case PageAction::ZoomReset:
      webkit_web_view_set_zoom_level(view, zoom_after(action, webkit_web_view_get_zoom_level(view)));
      break;
    case PageAction::Reload:
      webkit_web_view_reload(view);
      break;
    case PageAction::ReloadBypassingCache:
      webkit_web_view_reload_bypass_cache(view);
      break;
    case PageAction::Nothing:
      break;
  }
}

}  // namespace

PageInput::PageInput(WebKitWebView* view) : view_(view) {
  map_handler_ = g_signal_connect(view, "map", G_CALLBACK(on_first_map), this);
  // A key reaches the page first; WebKit gives back what the page left
  // alone (it did not call preventDefault, no field took it) and only then
  // does the view's own handler run, as the Windows browser lets a page
  // keep its keys.
  g_signal_connect_after(view, "key-press-event", G_CALLBACK(on_unhandled_key), this);
  // The wheel goes first to us: WebKit scrolls the page with Ctrl held and
  // gives nothing back.
  g_signal_connect(view, "scroll-event", G_CALLBACK(on_scroll), this);
}

PageInput::~PageInput() {
  g_signal_handlers_disconnect_by_data(view_, this);
}

void PageInput::on_first_map(GtkWidget* widget, gpointer self) {
  auto* input = static_cast<PageInput*>(self);
  g_signal_handler_disconnect(widget, input->map_handler_);
  input->map_handler_ = 0;
  // Typing right away reaches the page, also when the window shows before
  // the page has loaded: WebKit hands the keyboard to the page's focused
  // field once there is one. A widget the program has focused keeps it.
  GtkWidget* top = gtk_widget_get_toplevel(widget);
  if (GTK_IS_WINDOW(top) && !gtk_window_get_focus(GTK_WINDOW(top))) {
    gtk_widget_grab_focus(widget);
  }
}

gboolean PageInput::on_unhandled_key(GtkWidget*, GdkEventKey* event, gpointer self) {
  const PageAction action = key_action(key_of(event), modifiers_of(event->state));
  if (action == PageAction::Nothing) {
    return FALSE;
  }
  carry_out(static_cast<PageInput*>(self)->view_, action);
  return TRUE;
}

gboolean PageInput::on_scroll(GtkWidget*, GdkEventScroll* event, gpointer self) {
  if (!modifiers_of(event->state).control) {
    return FALSE;
  }
  auto* input = static_cast<PageInput*>(self);
  int steps = 0;
  switch (event->direction) {
    case GDK_SCROLL_UP:
      steps = input->wheel_.turn(-1.0);
      break;
    case GDK_SCROLL_DOWN:
      steps = input->wheel_.turn(1.0);
      break;
    case GDK_SCROLL_SMOOTH:
      if (event->delta_y == 0.0) {
        return FALSE;  // sideways
      }
      steps = input->wheel_.turn(event->delta_y);
      break;
    case GDK_SCROLL_LEFT:
    case GDK_SCROLL_RIGHT:
      return FALSE;
  }
  for (; steps > 0; --steps) {
    carry_out(input->view_, PageAction::ZoomIn);
  }
  for (; steps < 0; ++steps) {
    carry_out(input->view_, PageAction::ZoomOut);
  }
  return TRUE;
}

}  // namespace velto::webview::gtk
