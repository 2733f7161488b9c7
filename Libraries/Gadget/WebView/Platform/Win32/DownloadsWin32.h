#pragma once

// Downloads of the Windows engine: into the user's Downloads folder under
// the portable safe name, never over an existing file, with the engine's
// notice in the page when done.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ComPtr.h"
#include "Downloads.h"
#include "WebView/WebView2Abi.h"

namespace velto::webview {

class DownloadKeeper {
 public:
  struct Hooks {
    // Runs a script in the view's page.
    std::function<void(const std::string&)> run_script;
    // Runs a task later from the engine's own queue.
    std::function<void(std::function<void()>)> later;
    // The window that owns what the shell shows.
    HWND owner = nullptr;
    // The engine's post_function.
    std::string post;
  };

  // Null when the runtime has no download events (older than they are):
  // the runtime's own handling and its download list stay then.
  [[nodiscard]] static std::unique_ptr<DownloadKeeper> attach(abi::ICoreWebView2& webview, Hooks hooks);
  // Downloads still running are cancelled and their files deleted.
  ~DownloadKeeper();
  DownloadKeeper(const DownloadKeeper&) = delete;
  DownloadKeeper& operator=(const DownloadKeeper&) = delete;

  // A page message from a notice's button: true when it was one (then it
  // goes nowhere else).
  bool notice_message(std::string_view message);

  struct Transfer;
  void on_starting(abi::ICoreWebView2DownloadStartingEventArgs& args);
  void on_state_changed(const std::shared_ptr<Transfer>& transfer);

 private:
  DownloadKeeper(ComPtr<abi::ICoreWebView2_4> webview, Hooks hooks);
  void finish(const std::shared_ptr<Transfer>& transfer, bool completed);
  void tell(bool saved, const std::string& name, const std::wstring& path);

  ComPtr<abi::ICoreWebView2_4> webview_;
  Hooks hooks_;
  abi::EventRegistrationToken token_{};
  bool subscribed_ = false;
  std::vector<std::shared_ptr<Transfer>> running_;
  // The file each recent notice shows in its folder.
  NoticeTargets files_;
  // What the runtime's handlers know of the keeper: null once it is gone.
  std::shared_ptr<DownloadKeeper*> self_ = std::make_shared<DownloadKeeper*>(this);
};

}  // namespace velto::webview
