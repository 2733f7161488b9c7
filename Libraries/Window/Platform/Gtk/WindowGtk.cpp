// GTK 3 backend of the window library. Each library window is a toplevel
// GtkWindow whose only child, a GtkFixed, fills the client area. Talking to
// the window manager (frame extents, mapping, state) goes through X11, the
// only GDK backend on which programs can place their windows.

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Core/Strings.h"
#include "GObjectPtr.h"
#include "Window/WindowNativeGtk.h"
#include "WindowInternal.h"

// After the project's headers: Xlib defines macros such as None and Bool.
#include <X11/Xlib.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

namespace velto::platform {

namespace {

// Object data on every library window: window number + 1, so that a missing
// entry (read as 0) marks a window that is not the library's.
constexpr char kWindowIdKey[] = "QX_WindowID";
// Object data on every window that has become a gadget container.
constexpr char kContainerKey[] = "QX_GadgetStack";

// Window styles the flags may carry besides the library's named bits.
constexpr std::uint32_t kStylePopup = 0x80000000;
constexpr std::uint32_t kStyleBorder = 0x00800000;
constexpr std::uint32_t kStyleDialogFrame = 0x00400000;

using Clock = std::chrono::steady_clock;
// Upper bounds for waiting on the window manager; it normally answers in a
// few milliseconds.
constexpr auto kManageWait = std::chrono::milliseconds(1500);
constexpr auto kExtentsWait = std::chrono::milliseconds(500);
constexpr auto kConfigureWait = std::chrono::milliseconds(500);
constexpr int kDrainLimit = 1000;

struct BackendState {
  bool display = false;  // GTK is initialised and has a display
  GObjectPtr<GdkPixbuf> icon;
};

BackendState& backend() noexcept {
  static BackendState state;
  return state;
}

GtkWidget* widget_of(const WindowRecord& record) noexcept {
  return static_cast<GtkWidget*>(record.handle);
}

GtkWindow* gtk_window_of(const WindowRecord& record) noexcept {
  return GTK_WINDOW(record.handle);
}

// The number of a library window, -1 for any other GtkWindow.
ObjectNumber window_number(GtkWidget* widget) noexcept {
  return reinterpret_cast<ObjectNumber>(g_object_get_data(G_OBJECT(widget), kWindowIdKey)) - 1;
}

// A library window and its record, while the record still belongs to it:
// signals of a closed window may still be on their way when its number has
// been given to a new one.
struct LiveWindow {
  ObjectNumber number = -1;
  WindowRecord* record = nullptr;
  explicit operator bool() const noexcept { return record != nullptr; }
};

LiveWindow live_window(GtkWidget* widget) noexcept {
  const ObjectNumber n = window_number(widget);
  WindowRecord* record = window_record(n);
  return record && record->handle == widget ? LiveWindow{n, record} : LiveWindow{};
}

template <class Done>
bool pump_until(Done done, Clock::duration limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= deadline) {
      return false;
    }
    if (!g_main_context_iteration(nullptr, FALSE)) {
      g_usleep(1000);
    }
  }
  return true;
}

// Handles everything the X server has already sent us.
void drain_events(GdkDisplay* display) {
  gdk_display_sync(display);
  for (int i = 0; i < kDrainLimit && g_main_context_pending(nullptr); ++i) {
    g_main_context_iteration(nullptr, FALSE);
  }
}

// ---- X11 helpers

bool is_x11(GdkWindow* window) noexcept {
  return window && GDK_IS_X11_WINDOW(window);
}

bool wm_supports(GdkWindow* window, const char* hint) {
  return is_x11(window) &&
         gdk_x11_screen_supports_net_wm_hint(gdk_window_get_screen(window), gdk_atom_intern_static_string(hint));
}

struct XFreeDeleter {
  void operator()(unsigned char* data) const noexcept { XFree(data); }
};

// The 32-bit items of a window property; empty when it is absent.
std::vector<long> read_property(GdkWindow* window, const char* name) {
  GdkDisplay* display = gdk_window_get_display(window);
  Atom actual_type = 0;
  int actual_format = 0;
  unsigned long count = 0;
  unsigned long remaining = 0;
  unsigned char* raw = nullptr;
  gdk_x11_display_error_trap_push(display);
  const int status = XGetWindowProperty(GDK_WINDOW_XDISPLAY(window), GDK_WINDOW_XID(window),
                                        gdk_x11_get_xatom_by_name_for_display(display, name), 0, 16, False,
                                        AnyPropertyType, &actual_type, &actual_format, &count, &remaining, &raw);
  gdk_x11_display_error_trap_pop_ignored(display);
  const std::unique_ptr<unsigned char, XFreeDeleter> owned(raw);
  if (status != Success || !raw || actual_format != 32) {
    return {};
  }
  const long* items = reinterpret_cast<const long*>(raw);
  return std::vector<long>(items, items + count);
}

std::optional<FrameExtents> frame_extents_property(GdkWindow* window) {
  const std::vector<long> values = read_property(window, "_NET_FRAME_EXTENTS");
  if (values.size() < 4) {
    return std::nullopt;
  }
  const long scale = std::max(1, gdk_window_get_scale_factor(window));
  return FrameExtents{static_cast<int>(values[0] / scale), static_cast<int>(values[1] / scale),
                      static_cast<int>(values[2] / scale), static_cast<int>(values[3] / scale)};
}

// Asks the window manager which frame it will put around the (realised, not
// yet shown) window, so that the outer size is known before the first show.
FrameExtents request_frame_extents(GdkWindow* window) {
  if (!wm_supports(window, "_NET_REQUEST_FRAME_EXTENTS")) {
    return {};
  }
  GdkDisplay* display = gdk_window_get_display(window);
  Display* xdisplay = GDK_WINDOW_XDISPLAY(window);
  XEvent request{};
  request.xclient.type = ClientMessage;
  request.xclient.window = GDK_WINDOW_XID(window);
  request.xclient.message_type = gdk_x11_get_xatom_by_name_for_display(display, "_NET_REQUEST_FRAME_EXTENTS");
  request.xclient.format = 32;
  XSendEvent(xdisplay, GDK_WINDOW_XID(gdk_screen_get_root_window(gdk_window_get_screen(window))), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &request);
  XFlush(xdisplay);
  // Polled without the main loop: nothing else runs while a window is being made.
  const auto deadline = Clock::now() + kExtentsWait;
  for (;;) {
    if (const auto extents = frame_extents_property(window)) {
      return *extents;
    }
    if (Clock::now() >= deadline) {
      return {};
    }
    g_usleep(1000);
  }
}

// True once a window manager has taken the window on (ICCCM WM_STATE).
bool wm_manages(GdkWindow* window) {
  return !read_property(window, "WM_STATE").empty();
}

// ---- Geometry

Rect screen_rect(GdkDisplay* display) {
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) {
    monitor = gdk_display_get_monitor(display, 0);
  }
  GdkRectangle area{0, 0, 0, 0};
  if (monitor) {
    gdk_monitor_get_geometry(monitor, &area);
  }
  return {area.x, area.y, area.x + area.width, area.y + area.height};
}

// Outer frame of any GtkWindow in root coordinates. A window that is not on
// screen reports where it will go and its size with the frame it will get.
Rect outer_rect_of(GtkWindow* window, const FrameExtents& frame) {
  GtkWidget* widget = GTK_WIDGET(window);
  GdkWindow* gdk_window = gtk_widget_get_window(widget);
  if (gdk_window && gtk_widget_get_mapped(widget)) {
    GdkRectangle outer{0, 0, 0, 0};
    gdk_window_get_frame_extents(gdk_window, &outer);
    return {outer.x, outer.y, outer.x + outer.width, outer.y + outer.height};
  }
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  gtk_window_get_position(window, &x, &y);
  gtk_window_get_size(window, &width, &height);
  return {x, y, x + frame.left + width + frame.right, y + frame.top + height + frame.bottom};
}

// GTK writes its hints only on its next layout; the window manager must have
// them before a request that follows at once (ours or another program's), so
// they go to GDK directly as well and out to the server.
void set_size_hints(GtkWindow* window, GdkGeometry geometry, GdkWindowHints mask) {
  gtk_window_set_geometry_hints(window, nullptr, &geometry, mask);
  if (GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(window))) {
    gdk_window_set_geometry_hints(gdk_window, &geometry, mask);
    gdk_display_flush(gdk_window_get_display(gdk_window));
  }
}

// Min = max size hints: the platform's frame without sizing border.
void set_fixed_size(GtkWindow* window, int width, int height) {
  GdkGeometry geometry{};
  geometry.min_width = geometry.max_width = width;
  geometry.min_height = geometry.max_height = height;
  set_size_hints(window, geometry, static_cast<GdkWindowHints>(GDK_HINT_MIN_SIZE | GDK_HINT_MAX_SIZE));
}

ReportedGeometry current_geometry(GdkWindow* window) {
  ReportedGeometry now;
  gdk_window_get_origin(window, &now.x, &now.y);
  now.width = gdk_window_get_width(window);
  now.height = gdk_window_get_height(window);
  const GdkWindowState state = gdk_window_get_state(window);
  now.iconified = (state & GDK_WINDOW_STATE_ICONIFIED) != 0;
  now.maximized = (state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
  return now;
}

// ---- Decorations

struct FrameStyle {
  GdkWMDecoration decorations;
  GdkWMFunction functions;
};

FrameStyle frame_style(std::uint32_t style) {
  // The platform gives every overlapped (non-popup) top-level window a caption.
  const bool caption = (style & kStylePopup) == 0 || (style & WF_TITLE_BAR) == WF_TITLE_BAR;
  unsigned decorations = 0;
  // Moving stays allowed whatever the frame: the program places its windows,
  // and window managers differ in how they read a missing move function.
  unsigned functions = GDK_FUNC_MOVE;
  if (caption) {
    decorations |= GDK_DECOR_TITLE | GDK_DECOR_BORDER;
  } else if (style & (kStyleBorder | kStyleDialogFrame | WF_SIZE_GADGET)) {
    decorations |= GDK_DECOR_BORDER;
  }
  if (style & WF_SIZE_GADGET) {
    decorations |= GDK_DECOR_RESIZEH;
    functions |= GDK_FUNC_RESIZE;
  }
  if (style & WF_SYSTEM_MENU) {
    decorations |= GDK_DECOR_MENU;
    functions |= GDK_FUNC_CLOSE;
  }
  // Opening minimised or maximised needs the function even without its box.
  if (style & (WF_MINIMIZE_GADGET | WF_MINIMIZE)) {
    functions |= GDK_FUNC_MINIMIZE;
  }
  if (style & WF_MINIMIZE_GADGET) {
    decorations |= GDK_DECOR_MINIMIZE;
  }
  if (style & (WF_MAXIMIZE_GADGET | WF_MAXIMIZE)) {
    functions |= GDK_FUNC_MAXIMIZE;
  }
  if (style & WF_MAXIMIZE_GADGET) {
    decorations |= GDK_DECOR_MAXIMIZE;
  }
  return {static_cast<GdkWMDecoration>(decorations), static_cast<GdkWMFunction>(functions)};
}

// The application icon: a chat bubble drawn at start-up.
GObjectPtr<GdkPixbuf> make_icon() {
  constexpr int kSize = 48;
  GObjectPtr<GdkPixbuf> icon(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, kSize, kSize));
  if (!icon) {
    return icon;
  }
  const int stride = gdk_pixbuf_get_rowstride(icon.get());
  guchar* pixels = gdk_pixbuf_get_pixels(icon.get());
  const auto inside_ellipse = [](double x, double y, double cx, double cy, double rx, double ry) {
    const double dx = (x - cx) / rx;
    const double dy = (y - cy) / ry;
    return dx * dx + dy * dy <= 1.0;
  };
  for (int row = 0; row < kSize; ++row) {
    for (int column = 0; column < kSize; ++column) {
      const double x = column + 0.5;
      const double y = row + 0.5;
      const bool bubble = inside_ellipse(x, y, 24.0, 21.0, 22.0, 18.0);
      // The bubble's tail, pointing down and left.
      const bool tail = y >= 30.0 && y <= 46.0 && x >= 8.0 && x <= 20.0 && (x - 8.0) <= (46.0 - y) * 0.75;
      const bool dot = inside_ellipse(x, y, 13.0, 21.0, 3.5, 3.5) || inside_ellipse(x, y, 24.0, 21.0, 3.5, 3.5) ||
                       inside_ellipse(x, y, 35.0, 21.0, 3.5, 3.5);
      guchar* pixel = pixels + row * stride + column * 4;
      if (dot) {
        pixel[0] = 255, pixel[1] = 255, pixel[2] = 255, pixel[3] = 255;
      } else if (bubble || tail) {
        pixel[0] = 0x2f, pixel[1] = 0x80, pixel[2] = 0xed, pixel[3] = 255;
      } else {
        pixel[0] = pixel[1] = pixel[2] = pixel[3] = 0;
      }
    }
  }
  return icon;
}

// ---- Client area

// The client area asks for no room of its own: its children (sized through
// their size requests, as GtkFixed does) must not become the window's minimum
// size, since a client area may be smaller than the gadgets in it.
void client_area_measure(GtkWidget*, gint* minimum, gint* natural) {
  *minimum = 0;
  *natural = 0;
}

void client_area_class_init(gpointer klass, gpointer) {
  GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(klass);
  widget_class->get_preferred_width = client_area_measure;
  widget_class->get_preferred_height = client_area_measure;
}

GType client_area_type() {
  // Types are registered once per process and never go away.
  static const GType type = [] {
    GTypeQuery fixed{};
    g_type_query(GTK_TYPE_FIXED, &fixed);
    return g_type_register_static_simple(GTK_TYPE_FIXED, "VeltoClientArea", fixed.class_size, client_area_class_init,
                                         fixed.instance_size, nullptr, static_cast<GTypeFlags>(0));
  }();
  return type;
}

// ---- Signals

// State and configure notifications are compared with what the portable side
// was last told, so that only real changes raise events. A window manager
// announces a new state before the configure that goes with it, which gives
// the order maximise (or restore), then size.

void remember_normal_placement(WindowRecord& record) {
  GtkWidget* widget = GTK_WIDGET(record.data.window.get());
  GdkWindow* gdk_window = gtk_widget_get_window(widget);
  if (!gdk_window || !gtk_widget_get_mapped(widget) ||
      (gdk_window_get_state(gdk_window) &
       (GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN))) {
    return;
  }
  const Rect outer = outer_rect_of(GTK_WINDOW(widget), record.data.frame);
  record.data.normal_x = outer.left;
  record.data.normal_y = outer.top;
  record.data.normal_width = gdk_window_get_width(gdk_window);
  record.data.normal_height = gdk_window_get_height(gdk_window);
}

gboolean on_window_state(GtkWidget* widget, GdkEventWindowState* event, gpointer) {
  const LiveWindow live = live_window(widget);
  if (!live || !live.record->ready ||
      !(event->changed_mask & (GDK_WINDOW_STATE_ICONIFIED | GDK_WINDOW_STATE_MAXIMIZED))) {
    return FALSE;
  }
  const ObjectNumber n = live.number;
  ReportedGeometry& reported = live.record->data.reported;
  const bool iconified = (event->new_window_state & GDK_WINDOW_STATE_ICONIFIED) != 0;
  const bool maximized = (event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED) != 0;
  if (iconified == reported.iconified && maximized == reported.maximized) {
    return FALSE;
  }
  const bool was_iconified = reported.iconified;
  reported.iconified = iconified;
  reported.maximized = maximized;
  if (iconified) {
    if (!was_iconified) {
      window_input_size(n, SizeKind::Minimized);
    }
    return FALSE;
  }
  // The configure that follows a new state reports the size separately.
  window_input_size(n, maximized ? SizeKind::Maximized : SizeKind::Restored);
  return FALSE;
}

gboolean on_configure(GtkWidget* widget, GdkEventConfigure* event, gpointer) {
  const LiveWindow live = live_window(widget);
  if (!live || !live.record->ready) {
    return FALSE;
  }
  const ObjectNumber n = live.number;
  ReportedGeometry& reported = live.record->data.reported;
  if (event->x != reported.x || event->y != reported.y) {
    reported.x = event->x;
    reported.y = event->y;
    window_input_move(n);
  }
  if (event->width != reported.width || event->height != reported.height) {
    reported.width = event->width;
    reported.height = event->height;
    if (!reported.iconified) {
      window_input_size(n, SizeKind::Other);
    }
  }
  remember_normal_placement(*live.record);
  return FALSE;
}

gboolean on_map(GtkWidget* widget, GdkEvent*, gpointer) {
  if (const LiveWindow live = live_window(widget)) {
    live.record->data.map_seen = true;
  }
  return FALSE;
}

gboolean on_delete(GtkWidget* widget, GdkEvent*, gpointer) {
  if (const LiveWindow live = live_window(widget)) {
    window_input_close(live.number);
  }
  // The window stays open until the program closes it.
  return TRUE;
}

gboolean on_focus_in(GtkWidget* widget, GdkEventFocus*, gpointer) {
  if (const LiveWindow live = live_window(widget)) {
    window_input_activate(live.number, true);
  }
  return FALSE;
}

gboolean on_focus_out(GtkWidget* widget, GdkEventFocus*, gpointer) {
  if (const LiveWindow live = live_window(widget)) {
    window_input_activate(live.number, false);
  }
  return FALSE;
}

// Clicks on the client area itself; child widgets with windows of their own
// keep theirs, as child windows do on the other platform.
gboolean on_button_press(GtkWidget* widget, GdkEventButton* event, gpointer) {
  if (event->type != GDK_2BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY ||
      event->window != gtk_widget_get_window(widget)) {
    return FALSE;
  }
  if (const LiveWindow live = live_window(widget)) {
    event_post(EVENT_LEFT_DOUBLE_CLICK, 0, live.number, 0);
  }
  return FALSE;
}

gboolean on_button_release(GtkWidget* widget, GdkEventButton* event, gpointer) {
  const LiveWindow live = event->window == gtk_widget_get_window(widget) ? live_window(widget) : LiveWindow{};
  if (!live) {
    return FALSE;
  }
  if (event->button == GDK_BUTTON_PRIMARY) {
    event_post(EVENT_LEFT_CLICK, 0, live.number, 0);
  } else if (event->button == GDK_BUTTON_SECONDARY) {
    event_post(EVENT_RIGHT_CLICK, 0, live.number, 0);
  }
  return FALSE;
}

// Also connected on containers that are not library windows.
void on_container_destroy(GtkWidget* widget, gpointer) {
  if (g_object_get_data(G_OBJECT(widget), kContainerKey)) {
    g_object_set_data(G_OBJECT(widget), kContainerKey, nullptr);
    gadget_container_destroyed(widget);
  }
}

void on_destroy(GtkWidget* widget, gpointer) {
  on_container_destroy(widget, nullptr);
  if (const LiveWindow live = live_window(widget)) {
    // Drops the record and with it the record's reference to the window.
    window_input_destroyed(live.number);
  }
}

void connect_signals(GtkWidget* widget) {
  g_signal_connect(widget, "window-state-event", G_CALLBACK(on_window_state), nullptr);
  g_signal_connect(widget, "configure-event", G_CALLBACK(on_configure), nullptr);
  g_signal_connect(widget, "map-event", G_CALLBACK(on_map), nullptr);
  g_signal_connect(widget, "delete-event", G_CALLBACK(on_delete), nullptr);
  g_signal_connect(widget, "focus-in-event", G_CALLBACK(on_focus_in), nullptr);
  g_signal_connect(widget, "focus-out-event", G_CALLBACK(on_focus_out), nullptr);
  g_signal_connect(widget, "button-press-event", G_CALLBACK(on_button_press), nullptr);
  g_signal_connect(widget, "button-release-event", G_CALLBACK(on_button_release), nullptr);
  g_signal_connect(widget, "destroy", G_CALLBACK(on_destroy), nullptr);
}

// Waits until the window manager has taken the new window on and, unless it
// opens minimised, the server has mapped it; then handles what is queued, so
// that the geometry read next is the window's real one. The main loop runs
// meanwhile, so the window may be gone afterwards.
void wait_until_shown(GtkWidget* widget, bool iconic) {
  GdkWindow* gdk_window = gtk_widget_get_window(widget);
  GdkDisplay* display = gdk_window_get_display(gdk_window);
  const bool managed = wm_supports(gdk_window, "_NET_WM_STATE");
  pump_until(
      [&] {
        const LiveWindow live = live_window(widget);
        if (!live) {
          return true;
        }
        if (managed && !wm_manages(gdk_window)) {
          return false;
        }
        return iconic || live.record->data.map_seen;
      },
      kManageWait);
  drain_events(display);
}

}  // namespace

// ---- Event loop

void event_loop_init() {
  BackendState& state = backend();
  if (state.display) {
    return;
  }
  // Windows can only be placed where X11 is used; other backends are a fallback.
  gdk_set_allowed_backends("x11,*");
  // GTK sets the whole locale from the environment; numbers keep the
  // decimal point that the start-up step (locale_init) chose.
  const std::string numeric = std::setlocale(LC_NUMERIC, nullptr);
  state.display = gtk_init_check(nullptr, nullptr) != FALSE;
  std::setlocale(LC_NUMERIC, numeric.c_str());
}

void event_loop_end() {
  // GTK cannot be shut down; windows are gone by now.
}

// A main-loop iteration returns after every dispatch, so nothing waits on
// the event queue.
void event_queued() {}

int pump_message(int timeout, MessageData& data) {
  if (!backend().display) {
    return 0;
  }
  if (timeout < 0) {
    g_main_context_iteration(nullptr, TRUE);
  } else if (timeout == 0) {
    g_main_context_iteration(nullptr, FALSE);
  } else {
    // Wakes the blocking iteration when nothing else does within the time-out.
    const GSourcePtr limit(g_timeout_source_new(static_cast<guint>(timeout)));
    g_source_set_callback(limit.get(), [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(limit.get(), nullptr);
    g_main_context_iteration(nullptr, TRUE);
  }
  if (const int code = event_pop()) {
    data = MessageData{};
    return code;
  }
  return 0;
}

// ---- Windows

void window_library_init() {
  BackendState& state = backend();
  if (!state.icon) {
    state.icon = make_icon();
  }
}

void window_library_end() {
  backend().icon.reset();
}

bool window_create(WindowRecord& record, const OpenRequest& request) {
  BackendState& state = backend();
  if (!state.display) {
    return false;
  }
  const DecodedFlags& decoded = request.decoded;
  const std::uint32_t style = creation_style(decoded);
  const int width = std::max(1, request.width);
  const int height = std::max(1, request.height);

  GtkWidget* widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(widget);
  record.handle = widget;
  record.data.window = g_object_share(widget);
  g_object_set_data(G_OBJECT(widget), kWindowIdKey, reinterpret_cast<gpointer>(request.number + 1));

  GtkWidget* client_area = GTK_WIDGET(g_object_new(client_area_type(), nullptr));
  gtk_container_add(GTK_CONTAINER(widget), client_area);
  gtk_widget_show(client_area);

  gtk_window_set_title(window, to_utf8(request.title).c_str());
  if (state.icon) {
    gtk_window_set_icon(window, state.icon.get());
  }
  // Positions name the outer frame's top-left corner.
  gtk_window_set_gravity(window, GDK_GRAVITY_NORTH_WEST);
  gtk_window_set_default_size(window, width, height);
  record.data.fixed_size = (style & WF_SIZE_GADGET) == 0;
  if (record.data.fixed_size) {
    // Not gtk_window_set_resizable(FALSE): that sizes the window to its content.
    set_fixed_size(window, width, height);
  }
  if (decoded.ex_style & 0x80) {
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_UTILITY);
    gtk_window_set_skip_taskbar_hint(window, TRUE);
  }
  GtkWindow* parent = request.parent && GTK_IS_WINDOW(request.parent) ? GTK_WINDOW(request.parent) : nullptr;
  if (parent) {
    gtk_window_set_transient_for(window, parent);
  }
  gtk_widget_add_events(widget, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_STRUCTURE_MASK);
  connect_signals(widget);

  gtk_widget_realize(widget);
  GdkWindow* gdk_window = gtk_widget_get_window(widget);
  if (!gdk_window) {
    gtk_widget_destroy(widget);
    record.data = WindowData{};
    record.handle = nullptr;
    return false;
  }
  const FrameStyle frame = frame_style(style);
  gdk_window_set_decorations(gdk_window, frame.decorations);
  gdk_window_set_functions(gdk_window, frame.functions);
  if (record.data.fixed_size) {
    // Again, now that there is a GdkWindow: the window manager tells the
    // frame of a window without sizing border by them.
    set_fixed_size(window, width, height);
  }
  record.data.frame = request_frame_extents(gdk_window);

  // Placement: the outer frame at (x, y) unless the window manager chooses,
  // then centring on the outer frame's size.
  const FrameExtents& extents = record.data.frame;
  const int outer_width = extents.left + width + extents.right;
  const int outer_height = extents.top + height + extents.bottom;
  std::optional<Point> position;
  if (!uses_default_position(request.x, request.y, request.flags)) {
    position = Point{request.x, request.y};
  }
  if (decoded.center_screen) {
    // The whole screen, panels included, as the other platform measures it.
    const Rect screen = screen_rect(gdk_window_get_display(gdk_window));
    const Point centre = centre_on_screen(outer_width, outer_height, screen.width(), screen.height());
    position = Point{screen.left + centre.x, screen.top + centre.y};
  } else if (decoded.center_parent && parent) {
    const LiveWindow parent_window = live_window(GTK_WIDGET(parent));
    const FrameExtents parent_frame = parent_window ? parent_window.record->data.frame : FrameExtents{};
    position = centre_on_parent(outer_rect_of(parent, parent_frame), outer_width, outer_height);
  }
  if (position) {
    gtk_window_move(window, position->x, position->y);
  }

  if (!decoded.invisible) {
    const bool maximize = (decoded.style & WF_MAXIMIZE) != 0;
    const bool iconic = !maximize && (decoded.style & WF_MINIMIZE) != 0;
    if (maximize) {
      gtk_window_maximize(window);
    } else if (iconic) {
      gtk_window_iconify(window);
    }
    if (decoded.no_activate) {
      gtk_window_set_focus_on_map(window, FALSE);
    }
    gtk_widget_show(widget);
    const GObjectPtr<GtkWidget> keep = g_object_share(widget);
    wait_until_shown(widget, iconic);
    const LiveWindow live = live_window(widget);
    if (!live) {
      return false;  // closed while it was being shown
    }
    ReportedGeometry& reported = live.record->data.reported;
    reported = current_geometry(gdk_window);
    // Judge later state notifications against the state asked for, which the
    // window manager may still be applying.
    reported.iconified = iconic;
    reported.maximized = maximize;
  } else {
    const Rect client = window_client_rect(record);
    record.data.reported = ReportedGeometry{client.left, client.top, width, height, false, false};
  }
  if ((decoded.style & (WF_MINIMIZE | WF_MAXIMIZE)) || decoded.invisible) {
    // Until it is first shown normally, the window's normal geometry is the
    // one asked for; a maximised window's frame is already elsewhere.
    const Rect outer = window_outer_rect(record);
    record.data.normal_x = position ? position->x : outer.left;
    record.data.normal_y = position ? position->y : outer.top;
    record.data.normal_width = width;
    record.data.normal_height = height;
  } else {
    remember_normal_placement(record);
  }
  return true;
}

void window_destroy(WindowRecord& record, ObjectNumber) {
  GtkWidget* widget = widget_of(record);
  // Activation goes back to the owner rather than to some other program.
  if (GtkWindow* parent = gtk_window_get_transient_for(GTK_WINDOW(widget))) {
    gtk_window_present(parent);
  }
  // The destroy handler releases the record; it must not be used after this.
  gtk_widget_destroy(widget);
}

void window_resize(WindowRecord& record, int x, int y, int width, int height) {
  GtkWidget* widget = widget_of(record);
  GtkWindow* window = gtk_window_of(record);
  GdkWindow* gdk_window = gtk_widget_get_window(widget);
  // The current geometry is read before a maximised window is restored.
  const Rect outer = window_outer_rect(record);
  const Rect client = window_client_rect(record);
  const int left = x == IGNORE ? outer.left : x;
  const int top = y == IGNORE ? outer.top : y;
  const int new_width = std::max(1, width == IGNORE ? client.width() : width);
  const int new_height = std::max(1, height == IGNORE ? client.height() : height);

  const bool shown = gdk_window && gtk_widget_get_visible(widget) && record.data.map_seen;
  if (gdk_window && (gdk_window_get_state(gdk_window) & GDK_WINDOW_STATE_MAXIMIZED)) {
    // A hidden window stays hidden: GTK only notes the state for the next show.
    gtk_window_unmaximize(window);
  }
  if (record.data.fixed_size) {
    set_fixed_size(window, new_width, new_height);
  }
  gtk_window_move(window, left, top);
  gtk_window_resize(window, new_width, new_height);
  if (!shown) {
    return;
  }
  // GTK sends nothing when the request equals its previous one, even though
  // the user or the window manager has changed the window since; ask directly.
  // The window manager handles it after the unmaximise request above.
  gdk_window_move_resize(gdk_window, left, top, new_width, new_height);
  // Wait for the window manager's answer, so that the geometry queries see
  // the result. One that changes (or refuses) the request ends the wait at
  // the time limit. The main loop runs meanwhile; the window may go.
  const GObjectPtr<GtkWidget> keep = g_object_share(widget);
  pump_until(
      [&] {
        const LiveWindow live = live_window(widget);
        if (!live) {
          return true;
        }
        if ((gdk_window_get_state(gdk_window) & GDK_WINDOW_STATE_MAXIMIZED) ||
            gdk_window_get_width(gdk_window) != new_width || gdk_window_get_height(gdk_window) != new_height) {
          return false;
        }
        const Rect now = window_outer_rect(*live.record);
        return now.left == left && now.top == top;
      },
      kConfigureWait);
}

void window_set_minimum_size(WindowRecord& record, int width, int height) {
  // A window without sizing border keeps its fixed size.
  if (record.data.fixed_size) {
    return;
  }
  GdkGeometry geometry{};
  geometry.min_width = width;
  geometry.min_height = height;
  set_size_hints(gtk_window_of(record), geometry, GDK_HINT_MIN_SIZE);
}

Rect window_outer_rect(const WindowRecord& record) {
  return outer_rect_of(gtk_window_of(record), record.data.frame);
}

Rect window_client_rect(const WindowRecord& record) {
  GtkWidget* widget = widget_of(record);
  GdkWindow* gdk_window = gtk_widget_get_window(widget);
  if (gdk_window && gtk_widget_get_mapped(widget)) {
    int x = 0;
    int y = 0;
    gdk_window_get_origin(gdk_window, &x, &y);
    return {x, y, x + gdk_window_get_width(gdk_window), y + gdk_window_get_height(gdk_window)};
  }
  const Rect outer = window_outer_rect(record);
  int width = 0;
  int height = 0;
  gtk_window_get_size(gtk_window_of(record), &width, &height);
  const int left = outer.left + record.data.frame.left;
  const int top = outer.top + record.data.frame.top;
  return {left, top, left + width, top + height};
}

ObjectNumber window_foreground() {
  if (!backend().display) {
    return -1;
  }
  const GListPtr toplevels(gtk_window_list_toplevels());
  for (GList* item = toplevels.get(); item; item = item->next) {
    GtkWindow* window = GTK_WINDOW(item->data);
    if (gtk_window_has_toplevel_focus(window)) {
      // A window of this program that is not the library's (a message box) gives -1.
      return window_number(GTK_WIDGET(window));
    }
  }
  return -1;
}

void container_mark(NativeWindow window) {
  if (!window || !GTK_IS_WIDGET(window)) {
    return;
  }
  GObject* object = G_OBJECT(window);
  if (g_object_get_data(object, kContainerKey)) {
    return;
  }
  GtkWidget* widget = GTK_WIDGET(window);
  GtkWidget* child = GTK_IS_BIN(widget) ? gtk_bin_get_child(GTK_BIN(widget)) : nullptr;
  g_object_set_data(object, kContainerKey, child ? static_cast<gpointer>(child) : window);
  if (!g_object_get_data(object, kWindowIdKey)) {
    // Library windows clear the container in their own destroy handler.
    g_signal_connect(widget, "destroy", G_CALLBACK(on_container_destroy), nullptr);
  }
}

}  // namespace velto::platform

namespace velto {

GtkFixed* window_client_area(NativeWindow window) noexcept {
  if (!window || !GTK_IS_WINDOW(window) || !g_object_get_data(G_OBJECT(window), platform::kWindowIdKey)) {
    return nullptr;
  }
  GtkWidget* child = gtk_bin_get_child(GTK_BIN(window));
  return child && GTK_IS_FIXED(child) ? GTK_FIXED(child) : nullptr;
}

}  // namespace velto

namespace velto::platform {

bool window_is_minimized(const WindowRecord& record) {
  GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(record.data.window.get()));
  return gdk_window && (gdk_window_get_state(gdk_window) & GDK_WINDOW_STATE_ICONIFIED) != 0;
}

bool window_is_maximized(const WindowRecord& record) {
  GdkWindow* gdk_window = gtk_widget_get_window(GTK_WIDGET(record.data.window.get()));
  // A maximised window that is minimised counts as minimised, as on Windows.
  return gdk_window && (gdk_window_get_state(gdk_window) & (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_ICONIFIED)) ==
                           GDK_WINDOW_STATE_MAXIMIZED;
}

WindowPlacement window_normal_placement(const WindowRecord& record) {
  return {record.data.normal_x, record.data.normal_y, record.data.normal_width, record.data.normal_height};
}

bool work_area_intersects(const Rect& outer) {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) {
    return false;
  }
  const GdkRectangle wanted{outer.left, outer.top, outer.width(), outer.height()};
  for (int i = 0, count = gdk_display_get_n_monitors(display); i < count; ++i) {
    GdkRectangle area{};
    gdk_monitor_get_workarea(gdk_display_get_monitor(display, i), &area);
    if (gdk_rectangle_intersect(&wanted, &area, nullptr)) {
      return true;
    }
  }
  return false;
}

}  // namespace velto::platform
