#pragma once

// The engine on WebKitGTK: the backend's class, shared by the files that
// make up the backend.

#include <glob.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "Engine.h"
#include "RecoveryGtk.h"
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
class DownloadKeeper;

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
  // A view with a home: RecoveryGtk.cpp.
  void show_page(const std::string& html) override;
  void reload_page() override;
  void post_delayed(std::chrono::milliseconds delay, std::function<void()> task) override;
  bool hand_over(const std::string& url) override;

 private:
  friend gboolean run_tasks(gpointer data);
  friend gboolean flush_replies(gpointer data);

  static void on_message(WebKitUserContentManager* manager, WebKitJavascriptResult* result, gpointer self);
  static void on_destroy(GtkWidget* widget, gpointer self);
  // NavigationGtk.cpp: links, new windows and downloads.
  void start_desktop_links();
  static gboolean on_decide_policy(WebKitWebView* view, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer self);
  static GtkWidget* on_create(WebKitWebView* view, WebKitNavigationAction* action, gpointer self);
  static gboolean on_context_menu(WebKitWebView* view, WebKitContextMenu* menu, GdkEvent* event,
                                  WebKitHitTestResult* hit, gpointer self);
  [[nodiscard]] bool usable() const noexcept { return view_ && !widget_gone_; }

  void connect_recovery();
  static void on_load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
  static gboolean on_load_failed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri, GError* error, gpointer self);
  static gboolean on_tls_errors(WebKitWebView* view, gchar* uri, GTlsCertificate* certificate,
                                GTlsCertificateFlags errors, gpointer self);
  static void on_process_terminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason, gpointer self);
  static void on_network_changed(GNetworkMonitor* monitor, gboolean available, gpointer self);

  Owned<WebKitWebContext> own_context_;
  Owned<WebKitUserContentManager> content_;
  std::unique_ptr<WebKitUserScript, ScriptUnref> script_;
  Owned<WebKitWebView> view_;
  // After view_: they go first.
  std::unique_ptr<PageInput> input_;
  std::unique_ptr<NotificationGate> notifications_;
  bool widget_gone_ = false;
  std::shared_ptr<TaskQueue> queue_ = std::make_shared<TaskQueue>();
  Recovery recovery_;
  // The link the last context menu was opened on: its "Open Link" carries no
  // user gesture.
  std::string menu_link_;
  // Last: it goes first, while the view and its context still exist.
  std::unique_ptr<DownloadKeeper> downloads_;
};

}  // namespace velto::webview::gtk
