#pragma once

// The portable half of the browser engine: bindings, the page-side bridge,
// the call/reply envelope and the queue of calls waiting for the GUI thread.
// A backend derives from Engine, implements the hooks and feeds the page's
// messages to on_page_message.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Browsing.h"
#include "WebView/webview.h"

namespace velto::webview {

// `text` as a JSON string literal, quotes included: every string spliced
// into page script goes through here. Invalid UTF-8 becomes U+FFFD; U+2028
// and U+2029 are escaped so the literal is also valid script.
[[nodiscard]] std::string json_quote(std::string_view text);

// One page call: {"id": "...", "method": "...", "params": [...]}.
struct PageCall {
  std::string id;
  std::string method;
  std::string params;  // the JSON array text as the page sent it
};
// nullopt for anything that is not such an envelope.
[[nodiscard]] std::optional<PageCall> parse_page_call(std::string_view message);

// The value of switch `name` ("--user-data-dir") in a browser argument list
// such as "--a=1 --user-data-dir=\"C:\\x y\" --b": the text after '=', with
// surrounding double quotes removed. nullopt when the switch is absent.
[[nodiscard]] std::optional<std::string> browser_switch_value(std::string_view arguments, std::string_view name);

class Engine {
 public:
  Engine() = default;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  virtual ~Engine();

  webview_error_t navigate(std::string_view url);
  webview_error_t bind(std::string_view name, webview_bind_fn_t fn, void* arg);
  webview_error_t unbind(std::string_view name);
  webview_error_t resolve(std::string_view id, int status, std::string_view result);
  // See webview_set_home. An empty URL turns the home off; anything but an
  // http(s) URL is refused.
  webview_error_t set_home(std::string_view url);
  [[nodiscard]] const std::string& home() const noexcept { return home_; }
  [[nodiscard]] const std::optional<Origin>& home_origin() const noexcept { return home_origin_; }
  [[nodiscard]] virtual void* native_handle(webview_native_handle_kind_t kind) const noexcept = 0;

 protected:
  // A message the page posted through the bridge. Queues the call for the
  // GUI thread; the binding is looked up again when the call runs.
  void on_page_message(std::string_view message);

  // The script every document runs before its own: the bridge plus one
  // definition per binding. Backends install it from start-up on.
  [[nodiscard]] std::string document_script() const;

  // Backend hooks.
  // The home was set or cleared.
  virtual void home_changed() {}
  // JS expression of a function that posts one string to the program.
  [[nodiscard]] virtual std::string_view post_function() const noexcept = 0;
  virtual void load(const std::string& url) = 0;
  // Replaces the script documents run at start (the previous one goes).
  virtual void set_document_script(const std::string& script) = 0;
  // Runs script in the current page, asynchronously.
  virtual void evaluate(const std::string& script) = 0;
  // Runs `task` later on the GUI thread (a window message, an idle source).
  virtual void post_task(std::function<void()> task) = 0;

  // Backends call this first thing in their destructor: queued calls are
  // dropped from then on.
  void shut_down() noexcept;

  // Between hold_replies() and release_replies() answers collect and reach
  // the page as one script: a burst of calls answered in one go costs the page
  // one evaluation instead of one each. Anything else the engine sends to
  // the page (navigation, bindings) sends the held answers first, so the
  // page sees everything in the order it was given.
  void hold_replies() noexcept { holding_ = true; }
  void release_replies();
  // Sends what is held now; holding goes on.
  void send_replies();
  // Called when the first answer is held. A binding may run a nested main
  // loop (a modal dialog) before the batch ends; the backend then makes sure
  // send_replies() runs from that loop too, so earlier answers do not wait
  // for the dialog.
  virtual void replies_waiting() {}

  // ---- A view with a home (see webview_set_home)
  // What the backend reports; the decisions are made here and carried out
  // through the hooks below. All of it does nothing while no home is set.

  // The browser is about to navigate. HandOver has been carried out (the
  // desktop's handler was given the URL) when this returns; the backend
  // stops the browser's own navigation unless the verdict is Stay.
  NavigationVerdict navigation_requested(const NavigationRequest& request);
  enum class LoadFailure : std::uint8_t {
    Network,      // no connection, no answer, name not found, ...
    Certificate,  // the server's certificate was not accepted
  };
  // A load of the top frame finished or failed. Backends report neither
  // cancelled loads (another navigation took over, a response became a
  // download) nor the loads of the engine's own pages.
  void page_loaded();
  void page_failed(LoadFailure failure);
  // The process that renders the page died (crashed, killed, out of memory).
  void page_process_gone();
  // The desktop says the network is back: a pending retry runs now.
  void network_back();
  // Which of the engine's pages shows, if any.
  [[nodiscard]] std::optional<OwnPage> own_page() const noexcept { return own_page_; }

  // Hooks for the above.
  // Gives `url` to the desktop's default handler; false when nothing took it.
  virtual bool hand_over(const std::string& /*url*/) { return false; }
  // Shows the engine's page `html` in the top frame.
  virtual void show_page(const std::string& /*html*/) {}
  // Loads the page again after its process died; the home by default.
  virtual void reload_page() { load(home_); }
  // Runs `task` once after `delay` on the GUI thread.
  virtual void post_delayed(std::chrono::milliseconds /*delay*/, std::function<void()> /*task*/) {}

 private:
  struct Binding {
    webview_bind_fn_t fn = nullptr;
    void* arg = nullptr;
    // Tells a binding from a later one of the same name.
    std::uint64_t generation = 0;
  };
  void run_call(const PageCall& call, std::uint64_t generation);

  std::map<std::string, Binding, std::less<>> bindings_;
  // Held answers: settle statements, each ending in ';'.
  std::string replies_;
  void show_own_page(OwnPage page);
  void retry_later();
  void retry_now();

  std::string home_;
  std::optional<Origin> home_origin_;
  std::optional<OwnPage> own_page_;
  RetrySchedule retries_;
  CrashGuard crashes_;
  // Tells a pending retry from a later one: only the newest may run.
  std::uint64_t retry_generation_ = 0;
  bool retry_pending_ = false;
  bool holding_ = false;
  std::uint64_t generation_ = 0;
  // Shared with queued tasks so that they notice a destroyed engine.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velto::webview
