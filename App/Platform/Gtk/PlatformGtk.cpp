#include <canberra-gtk.h>
#include <gtk/gtk.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>

#include "Core/Strings.h"
#include "Platform.h"

namespace velto::app::platform {

Text app_dir() {
  // The XDG base directory rule: $XDG_CONFIG_HOME when set and not empty,
  // else ~/.config.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config && *config) {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home ? home : "") + "/.config";
  }
  return from_utf8(base) + u"/VeltoChat";
}

TextView separator() {
  return u"/";
}

TextView updater_file_name() {
  return u"updater";
}

TextView updater_remote_path() {
  return u"/uploads/chat_files/updater";
}

TextView package_remote_path() {
  return u"/uploads/chat_files/velto_web-chat_client-linux.tar.gz";
}

Text descriptor_copy_path(const Text& preferred) {
  struct stat info {};
  const std::string native = to_utf8(preferred);
  if (::lstat(native.c_str(), &info) != 0 || info.st_uid == ::geteuid()) {
    // Nothing there, or a stale copy of ours (a file, or a link or FIFO
    // left by a crash) that the new copy replaces.
    return preferred;
  }
  // Someone else's file: never read, never replaced (even by root), and no
  // reason to skip the check. A name nobody can have guessed beside it.
  std::random_device random;
  const std::string dot = native.substr(0, native.rfind('.'));
  return from_utf8(dot + "-" + std::to_string(::getpid()) + "-" + std::to_string(random()) + ".ini");
}

void prepare_updater(TextView path) {
  // Downloads are created without execute permission; the owner may run it.
  const std::string native = to_utf8(path);
  struct stat info {};
  if (::stat(native.c_str(), &info) == 0) {
    static_cast<void>(::chmod(native.c_str(), (info.st_mode & 07777) | S_IXUSR));
  }
}

std::int64_t process_id() {
  return ::getpid();
}

void play_new_message_sound() {
  // GTK's context for the default screen: created once, owned by GTK.
  if (ca_context* context = ca_gtk_context_get()) {
    static_cast<void>(ca_context_play(context, 0, CA_PROP_EVENT_ID, "message-new-instant", CA_PROP_EVENT_DESCRIPTION,
                                      "New message", nullptr));
  }
}

namespace {

gboolean clear_urgency(GtkWidget* window, GdkEvent* /*event*/, gpointer /*data*/) {
  gtk_window_set_urgency_hint(GTK_WINDOW(window), FALSE);
  return FALSE;
}

}  // namespace

void flash_window(void* window) {
  if (window == nullptr || !GTK_IS_WINDOW(window)) {
    return;
  }
  // The hint stays until the user comes to the window.
  static constexpr char kWatched[] = "velto-urgency-watched";
  if (!g_object_get_data(G_OBJECT(window), kWatched)) {
    g_object_set_data(G_OBJECT(window), kWatched, GINT_TO_POINTER(1));
    g_signal_connect(window, "focus-in-event", G_CALLBACK(clear_urgency), nullptr);
  }
  gtk_window_set_urgency_hint(GTK_WINDOW(window), TRUE);
}

void record_module() {}

void exit_process() {
  std::exit(0);
}

}  // namespace velto::app::platform
