#include <gtk/gtk.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "Core/Strings.h"
#include "GObjectPtr.h"
#include "WindowInternal.h"

namespace velto::platform {
namespace {

// Windows answer codes, used as the dialog's response ids.
constexpr int kOk = 1;
constexpr int kCancel = 2;
constexpr int kAbort = 3;
constexpr int kRetry = 4;
constexpr int kIgnore = 5;
constexpr int kYes = 6;
constexpr int kNo = 7;
constexpr int kTryAgain = 10;
constexpr int kContinue = 11;

struct Button {
  int answer;
  const char* label;
};

struct ButtonSet {
  std::array<Button, 3> buttons;
  std::size_t count;
  int close_answer;  // what closing the box answers; 0: it cannot be closed
};

// By the button bits of the flags (0 to 6), in the order Windows shows them.
constexpr std::array<ButtonSet, 7> kButtonSets{{
    {{{{kOk, "_OK"}}}, 1, kOk},
    {{{{kOk, "_OK"}, {kCancel, "_Cancel"}}}, 2, kCancel},
    {{{{kAbort, "_Abort"}, {kRetry, "_Retry"}, {kIgnore, "_Ignore"}}}, 3, 0},
    {{{{kYes, "_Yes"}, {kNo, "_No"}, {kCancel, "_Cancel"}}}, 3, kCancel},
    {{{{kYes, "_Yes"}, {kNo, "_No"}}}, 2, 0},
    {{{{kRetry, "_Retry"}, {kCancel, "_Cancel"}}}, 2, kCancel},
    {{{{kCancel, "_Cancel"}, {kTryAgain, "_Try Again"}, {kContinue, "_Continue"}}}, 3, kCancel},
}};

struct IconKind {
  GtkMessageType type;
  const char* icon_name;
};

// By the icon bits of the flags (bits 4 to 7).
IconKind icon_kind(std::uint32_t flags) {
  switch (flags & 0xF0u) {
    case 0x10:
      return {GTK_MESSAGE_ERROR, "dialog-error"};
    case 0x20:
      return {GTK_MESSAGE_QUESTION, "dialog-question"};
    case 0x30:
      return {GTK_MESSAGE_WARNING, "dialog-warning"};
    case 0x40:
      return {GTK_MESSAGE_INFO, "dialog-information"};
    default:
      return {GTK_MESSAGE_OTHER, nullptr};
  }
}

// Windows offers no way to close a box without a Cancel (or lone OK) button.
gboolean refuse_close(GtkWidget*, GdkEvent*, gpointer) {
  return TRUE;
}

bool is_program_window(GtkWindow* window) {
  return gtk_window_get_window_type(window) == GTK_WINDOW_TOPLEVEL && gtk_widget_get_visible(GTK_WIDGET(window));
}

// Destroys the dialog when it goes, whatever gtk_dialog_run left behind.
struct WidgetDestroy {
  void operator()(GtkWidget* widget) const noexcept { gtk_widget_destroy(widget); }
};

}  // namespace

NativeWindow message_box_owner() {
  if (!gdk_display_get_default()) {
    return nullptr;
  }
  const GListPtr toplevels(gtk_window_list_toplevels());
  for (GList* item = toplevels.get(); item; item = item->next) {
    GtkWindow* window = GTK_WINDOW(item->data);
    if (is_program_window(window) && gtk_window_has_toplevel_focus(window)) {
      return window;
    }
  }
  return nullptr;
}

// GTK windows all belong to the one GUI thread.
void modal_candidates(std::vector<ModalCandidate>& out) {
  if (!gdk_display_get_default()) {
    return;
  }
  const GListPtr toplevels(gtk_window_list_toplevels());
  for (GList* item = toplevels.get(); item; item = item->next) {
    GtkWindow* window = GTK_WINDOW(item->data);
    if (!is_program_window(window)) {
      continue;
    }
    GdkWindow* native = gtk_widget_get_window(GTK_WIDGET(window));
    ModalCandidate candidate;
    candidate.window = window;
    candidate.topmost = native && (gdk_window_get_state(native) & GDK_WINDOW_STATE_ABOVE) != 0;
    candidate.foreground = gtk_window_has_toplevel_focus(window) != FALSE;
    candidate.enabled = gtk_widget_get_sensitive(GTK_WIDGET(window)) != FALSE;
    out.push_back(candidate);
  }
}

void modal_set_enabled(NativeWindow window, bool enabled) {
  if (GTK_IS_WIDGET(window)) {
    gtk_widget_set_sensitive(GTK_WIDGET(window), enabled);
  }
}

void modal_set_topmost(NativeWindow window, bool topmost) {
  if (GTK_IS_WINDOW(window)) {
    gtk_window_set_keep_above(GTK_WINDOW(window), topmost);
  }
}

int message_box_show(NativeWindow owner, TextView title, TextView text, std::uint32_t flags) {
  if (!gdk_display_get_default()) {
    return 0;
  }
  const std::uint32_t button_bits = flags & 0xFu;
  const ButtonSet& set = kButtonSets[button_bits < kButtonSets.size() ? button_bits : 0];
  const IconKind icon = icon_kind(flags);
  const Utf8Text title_text = text_to_utf8(title);
  const Utf8Text body_text = text_to_utf8(text);

  GtkWindow* parent = GTK_IS_WINDOW(owner) ? GTK_WINDOW(owner) : nullptr;
  GtkWidget* created = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, icon.type, GTK_BUTTONS_NONE, "%s",
                                              body_text ? body_text.get() : "");
  if (!created) {
    return 0;
  }
  // Our own reference outlives a destruction from elsewhere while it runs.
  const GObjectPtr<GtkWidget> keep = g_object_share(created);
  const std::unique_ptr<GtkWidget, WidgetDestroy> dialog(created);
  gtk_window_set_title(GTK_WINDOW(dialog.get()), title_text ? title_text.get() : "");
  if (icon.icon_name) {
    gtk_window_set_icon_name(GTK_WINDOW(dialog.get()), icon.icon_name);
    // GTK 3 no longer draws the type's icon: put it beside the text.
    GtkWidget* message_area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog.get()));
    GtkWidget* row = gtk_widget_get_parent(message_area);
    if (GTK_IS_BOX(row)) {
      GtkWidget* image = gtk_image_new_from_icon_name(icon.icon_name, GTK_ICON_SIZE_DIALOG);
      gtk_widget_set_valign(image, GTK_ALIGN_START);
      gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
      gtk_box_reorder_child(GTK_BOX(row), image, 0);
      gtk_widget_show(image);
    }
  }
  for (std::size_t i = 0; i < set.count; ++i) {
    gtk_dialog_add_button(GTK_DIALOG(dialog.get()), set.buttons[i].label, set.buttons[i].answer);
  }
  // MB_DEFBUTTON2..4 in bits 8 to 11.
  const std::size_t default_index = (flags >> 8) & 0xFu;
  const int default_answer = set.buttons[default_index < set.count ? default_index : 0].answer;
  gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), default_answer);
  if (GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog.get()), default_answer)) {
    gtk_widget_grab_focus(button);
  }
  if (!set.close_answer) {
    gtk_window_set_deletable(GTK_WINDOW(dialog.get()), FALSE);
    g_signal_connect(dialog.get(), "delete-event", G_CALLBACK(refuse_close), nullptr);
  }
  if (parent) {
    gtk_window_set_position(GTK_WINDOW(dialog.get()), GTK_WIN_POS_CENTER_ON_PARENT);
  } else {
    gtk_window_set_position(GTK_WINDOW(dialog.get()), GTK_WIN_POS_CENTER);
  }

  // Keeps the GLib main loop dispatching until the box is answered.
  const int response = gtk_dialog_run(GTK_DIALOG(dialog.get()));
  if (response == GTK_RESPONSE_DELETE_EVENT) {
    return set.close_answer;
  }
  return response > 0 ? response : 0;
}

void timer_resolution_raise() {}

void sleep_ms(int milliseconds) {
  g_usleep(static_cast<gulong>(milliseconds) * 1000u);
}

}  // namespace velto::platform
