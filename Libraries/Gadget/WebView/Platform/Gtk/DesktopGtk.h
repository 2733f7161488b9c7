#pragma once

// What the engine on WebKitGTK gives to the desktop: URLs to their default
// handler, downloads to the user's download folder.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Downloads.h"
#include "GtkEngine.h"

namespace velto::webview::gtk {

// Gives `uri` to the desktop's default handler (GIO: mimeapps.list, or the
// portal in a sandbox) without waiting for it to start. False when no
// handler is known for the URI's scheme.
bool open_with_default_handler(const std::string& uri, GtkWidget* widget);

// The script world the engine's own notices run in: the page's script
// cannot reach their message handler, and so cannot open folders.
inline constexpr char kNoticeWorld[] = "velto-notice";

// Saves what the view downloads into the user's download folder, never over
// an existing file, and shows a notice in the page when it is done.
class DownloadKeeper {
 public:
  // `run_script` runs a script in kNoticeWorld of the view's page, if the
  // view is still usable.
  DownloadKeeper(WebKitWebView* view, WebKitWebContext* context, WebKitUserContentManager* content,
                 std::function<void(const std::string&)> run_script);
  // Downloads still running are cancelled; they clean up after themselves.
  ~DownloadKeeper();
  DownloadKeeper(const DownloadKeeper&) = delete;
  DownloadKeeper& operator=(const DownloadKeeper&) = delete;

  struct Transfer;

 private:
  static void on_started(WebKitWebContext* context, WebKitDownload* download, gpointer self);
  static void on_notice_message(WebKitUserContentManager* content, WebKitJavascriptResult* result, gpointer self);
  static void on_finished(WebKitDownload* download, gpointer transfer);
  void tell(bool saved, const std::string& name, const std::string& folder);

  WebKitWebView* view_;
  WebKitWebContext* context_;
  WebKitUserContentManager* content_;
  std::function<void(const std::string&)> run_script_;
  gulong started_handler_ = 0;
  bool notice_handler_ = false;
  // Downloads that have not finished.
  std::vector<Owned<WebKitDownload>> running_;
  // The folder each recent notice offers to open.
  NoticeTargets folders_;
  // Transfers outlive the keeper; they tell it of their end only while it is.
  std::shared_ptr<DownloadKeeper*> self_ = std::make_shared<DownloadKeeper*>(this);
};

}  // namespace velto::webview::gtk
