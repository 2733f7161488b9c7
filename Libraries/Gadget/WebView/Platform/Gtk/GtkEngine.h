#pragma once

// The engine on WebKitGTK: the backend's class, shared by the files that
// make up the backend.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "Engine.h"
#include "GtkNotifications.h"
#include "GtkPageInput.h"

namespace velto::webview::gtk {

template <class T>
struct Unref {
  void operator()(T* object) const noexcept { g_object_unref(object); }
};
template <class T>
using Owned = std::unique_ptr<T, Unref<T>>;

struct ScriptUnref {
  void operator()(WebKitUserScript* script) const noexcept { webkit_user_script_unref(script); }
};

struct GFreer {
  void operator()(void* memory) const noexcept { g_free(memory); }
};

struct GlobFree {
  void operator()(glob_t* found) const noexcept { globfree(found); }
};

class GtkEngine;

// Queued calls, shared with the idle source that runs them. The engine owns
// it and lets go of it when it goes; the source then finds nothing to run.
struct TaskQueue {
  std::deque<std::function<void()>> tasks;
  GtkEngine* owner = nullptr;
  guint source = 0;
  guint flush_source = 0;
};

gboolean run_tasks(gpointer data);
gboolean flush_replies(gpointer data);

class GtkEngine final : public Engine {
 public:
  GtkEngine(bool debug, GtkFixed* parent);
  ~GtkEngine() override;

  [[nodiscard]] bool ready() const noexcept { return view_ != nullptr; }
  [[nodiscard]] void* native_handle(webview_native_handle_kind_t kind) const noexcept override;

 protected:
  [[nodiscard]] std::string_view post_function() const noexcept override;
  void load(const std::string& url) override;
  void set_document_script(const std::string& script) override;
  void evaluate(const std::string& script) override;
  void post_task(std::function<void()> task) override;
  void replies_waiting() override;

 private:
  friend gboolean run_tasks(gpointer data);
  friend gboolean flush_replies(gpointer data);

  static void on_message(WebKitUserContentManager* manager, WebKitJavascriptResult* result, gpointer self);
  static void on_destroy(GtkWidget* widget, gpointer self);
  [[nodiscard]] bool usable() const noexcept { return view_ && !widget_gone_; }

  Owned<WebKitWebContext> own_context_;
  Owned<WebKitUserContentManager> content_;
  std::unique_ptr<WebKitUserScript, ScriptUnref> script_;
  Owned<WebKitWebView> view_;
  // After view_: they go first.
  std::unique_ptr<PageInput> input_;
  std::unique_ptr<NotificationGate> notifications_;
  bool widget_gone_ = false;
  std::shared_ptr<TaskQueue> queue_ = std::make_shared<TaskQueue>();
};

}  // namespace velto::webview::gtk
