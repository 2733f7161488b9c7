// Downloads on WebKitGTK. Each one is written into a private directory of
// its own inside the download folder and moved to its final name only when
// complete, with a number when that name is taken. WebKit never sees the
// final name: when it fails it deletes its destination, and with a name
// that already existed that would be the user's file.

#include <fcntl.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "DesktopGtk.h"
#include "Downloads.h"

namespace velto::webview::gtk {

namespace {

constexpr char kTransferKey[] = "velto-transfer";
constexpr char kNoticeHandler[] = "velto_notice";
constexpr char kNoticeSignal[] = "script-message-received::velto_notice";
// The notice's button reaches the program through this, in kNoticeWorld.
constexpr std::string_view kNoticePost =
    "(function (handler) { return function (message) { handler.postMessage(message); }; })"
    "(window.webkit.messageHandlers.velto_notice)";
// The file inside a transfer's directory.
constexpr char kPartName[] = "download";

// The user's download folder (XDG user-dirs), ~/Downloads when none is
// configured; created when missing. Empty when there is none to be had.
std::string download_folder() {
  const char* configured = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  std::string folder;
  if (configured && *configured) {
    folder = configured;
  } else {
    const std::unique_ptr<char, GFreer> fallback(g_build_filename(g_get_home_dir(), "Downloads", nullptr));
    folder = fallback.get();
  }
  if (g_mkdir_with_parents(folder.c_str(), 0755) != 0) {
    return {};
  }
  return folder;
}

// Moves `from` to `to` unless `to` exists; never replaces anything, even
// a file that appears meanwhile.
Placement move_without_replacing(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return Placement::Placed;
  }
  if (errno == EEXIST) {
    return Placement::Taken;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    return Placement::Failed;
  }
  // File systems that cannot rename that way: a hard link is made only
  // under a free name, too.
  if (link(from.c_str(), to.c_str()) == 0) {
    static_cast<void>(unlink(from.c_str()));
    return Placement::Placed;
  }
  return errno == EEXIST ? Placement::Taken : Placement::Failed;
}

}  // namespace

// One download, attached to WebKit's download object and released with it.
struct DownloadKeeper::Transfer {
  std::weak_ptr<DownloadKeeper*> keeper;
  std::string name;
  std::string folder;
  std::string directory;  // ours alone, inside the folder
  bool failed = false;

  [[nodiscard]] std::string part() const { return directory + "/" + kPartName; }

  // Nothing of the transfer is left behind.
  void clean_up() const {
    if (!directory.empty()) {
      static_cast<void>(g_unlink(part().c_str()));
      static_cast<void>(g_rmdir(directory.c_str()));
    }
  }

  static void release(gpointer transfer) { delete static_cast<Transfer*>(transfer); }

  static gboolean on_decide_destination(WebKitDownload* download, gchar* suggested, gpointer data) {
    auto* transfer = static_cast<Transfer*>(data);
    try {
      transfer->name = safe_file_name(suggested ? suggested : "");
      transfer->folder = download_folder();
      if (!transfer->folder.empty()) {
        // A new directory: nothing of the user's can be in the way of what
        // WebKit writes or deletes there.
        const std::unique_ptr<char, GFreer> directory(
            g_build_filename(transfer->folder.c_str(), ".velto-XXXXXX.part", nullptr));
        if (g_mkdtemp_full(directory.get(), 0700)) {
          transfer->directory = directory.get();
          webkit_download_set_allow_overwrite(download, FALSE);
          webkit_download_set_destination(download, transfer->part().c_str());
          return TRUE;
        }
      }
    } catch (...) {
      // Out of memory: the download is given up below.
    }
    webkit_download_cancel(download);
    return TRUE;
  }

  static void on_failed(WebKitDownload*, GError*, gpointer data) { static_cast<Transfer*>(data)->failed = true; }
};

DownloadKeeper::DownloadKeeper(WebKitWebView* view, WebKitWebContext* context, WebKitUserContentManager* content,
                               std::function<void(const std::string&)> run_script)
    : view_(view), context_(context), content_(content), run_script_(std::move(run_script)) {
  started_handler_ = g_signal_connect(context_, "download-started", G_CALLBACK(on_started), this);
  g_signal_connect(content_, kNoticeSignal, G_CALLBACK(on_notice_message), this);
  notice_handler_ = webkit_user_content_manager_register_script_message_handler_in_world(content_, kNoticeHandler,
                                                                                         kNoticeWorld) != FALSE;
}

DownloadKeeper::~DownloadKeeper() {
  *self_ = nullptr;
  if (started_handler_) {
    g_signal_handler_disconnect(context_, started_handler_);
  }
  g_signal_handlers_disconnect_by_func(content_, reinterpret_cast<gpointer>(on_notice_message), this);
  if (notice_handler_) {
    webkit_user_content_manager_unregister_script_message_handler_in_world(content_, kNoticeHandler, kNoticeWorld);
  }
  // Their transfers delete what they wrote when WebKit reports the end.
  for (const Owned<WebKitDownload>& download : running_) {
    webkit_download_cancel(download.get());
  }
}

void DownloadKeeper::on_started(WebKitWebContext*, WebKitDownload* download, gpointer self) {
  auto* keeper = static_cast<DownloadKeeper*>(self);
  // The context may serve other views too.
  if (webkit_download_get_web_view(download) != keeper->view_) {
    return;
  }
  try {
    auto transfer = std::make_unique<Transfer>();
    transfer->keeper = keeper->self_;
    keeper->running_.emplace_back(WEBKIT_DOWNLOAD(g_object_ref(download)));
    Transfer* const data = transfer.release();
    g_object_set_data_full(G_OBJECT(download), kTransferKey, data, Transfer::release);
    g_signal_connect(download, "decide-destination", G_CALLBACK(Transfer::on_decide_destination), data);
    g_signal_connect(download, "failed", G_CALLBACK(Transfer::on_failed), data);
    g_signal_connect(download, "finished", G_CALLBACK(on_finished), data);
  } catch (...) {
    // Without its transfer the download must not go to WebKit's default
    // place, where a failure deletes a file of that name.
    webkit_download_cancel(download);
  }
}

void DownloadKeeper::on_finished(WebKitDownload* download, gpointer data) {
  const auto* transfer = static_cast<Transfer*>(data);
  try {
    std::optional<std::string> placed;
    if (!transfer->failed && !transfer->directory.empty()) {
      const std::string part = transfer->part();
      // The final name is chosen now, so that a file that appeared during
      // the download is kept too.
      placed = place_numbered(transfer->name, [&](const std::string& candidate) {
        const std::unique_ptr<char, GFreer> target(
            g_build_filename(transfer->folder.c_str(), candidate.c_str(), nullptr));
        return move_without_replacing(part, target.get());
      });
    }
    transfer->clean_up();
    const std::shared_ptr<DownloadKeeper*> keeper = transfer->keeper.lock();
    if (!keeper || !*keeper) {
      return;
    }
    auto& running = (*keeper)->running_;
    running.erase(std::remove_if(running.begin(), running.end(),
                                 [&](const Owned<WebKitDownload>& item) { return item.get() == download; }),
                  running.end());
    const bool saved = placed.has_value();
    (*keeper)->tell(saved, saved ? *placed : transfer->name, transfer->folder);
  } catch (...) {
    // Out of memory: the user is not told; nothing unwinds through WebKit.
    transfer->clean_up();
  }
}

void DownloadKeeper::tell(bool saved, const std::string& name, const std::string& folder) {
  const std::uint32_t id = saved ? folders_.remember(folder) : 0;
  const std::string shown = name.empty() ? std::string(kFallbackFileName) : name;
  run_script_(download_notice_script(saved ? DownloadOutcome::Saved : DownloadOutcome::Failed, shown, id, kNoticePost));
}

void DownloadKeeper::on_notice_message(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
  auto* keeper = static_cast<DownloadKeeper*>(self);
  try {
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (!jsc_value_is_string(value)) {
      return;
    }
    const std::unique_ptr<char, GFreer> text(jsc_value_to_string(value));
    const std::optional<std::uint32_t> id = parse_notice_message(text ? text.get() : "");
    const std::optional<std::string> folder = id ? keeper->folders_.find(*id) : std::nullopt;
    if (!folder) {
      return;
    }
    const std::unique_ptr<char, GFreer> uri(g_filename_to_uri(folder->c_str(), nullptr, nullptr));
    if (uri) {
      static_cast<void>(open_with_default_handler(uri.get(), GTK_WIDGET(keeper->view_)));
    }
  } catch (...) {
    // As with any page message: lost, never unwound through WebKit.
  }
}

}  // namespace velto::webview::gtk
