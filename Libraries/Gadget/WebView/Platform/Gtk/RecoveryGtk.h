#pragma once

// What the WebKitGTK engine keeps to bring a view with a home back after a
// failed load or a crashed page: its timers and its watch on the network.
// The engine's side is in RecoveryGtk.cpp.

#include <gio/gio.h>
#include <glib-object.h>

#include <chrono>
#include <functional>
#include <set>

namespace velto::webview::gtk {

// Tasks that run once, after a delay, from the main loop. Those still
// waiting when the set goes never run: their sources go with it.
class DelayedTasks {
 public:
  DelayedTasks() = default;
  DelayedTasks(const DelayedTasks&) = delete;
  DelayedTasks& operator=(const DelayedTasks&) = delete;
  ~DelayedTasks();

  void post(std::chrono::milliseconds delay, std::function<void()> task);
  [[nodiscard]] std::size_t waiting() const noexcept { return sources_.size(); }

 private:
  struct Entry;
  static gboolean fire(gpointer data);
  static void release(gpointer data);

  std::set<guint> sources_;
};

// One signal handler, disconnected when this goes. Holds a reference on the
// object so that the disconnection never reaches a freed one.
class SignalConnection {
 public:
  SignalConnection() = default;
  SignalConnection(const SignalConnection&) = delete;
  SignalConnection& operator=(const SignalConnection&) = delete;
  ~SignalConnection() { disconnect(); }

  void connect(gpointer instance, const char* signal, GCallback callback, gpointer data);
  void disconnect() noexcept;
  [[nodiscard]] bool connected() const noexcept { return handler_ != 0; }

 private:
  GObject* instance_ = nullptr;
  gulong handler_ = 0;
};

struct Recovery {
  DelayedTasks timers;
  // "network-changed" of the desktop's network monitor; connected when the
  // offline page first shows.
  SignalConnection network;
  // The load under way failed (or was cancelled): its "finished" is no
  // success.
  bool load_failed = false;
};

}  // namespace velto::webview::gtk
