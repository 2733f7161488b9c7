// The browser engine on Windows: the installed browser runtime (or a loader
// library beside the program) hosted in a child window of the caller's
// parent.

#include <algorithm>
#include <chrono>
#include <climits>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ComPtr.h"
#include "DownloadsWin32.h"
#include "Engine.h"
#include "Permissions.h"
#include "QueueImports.h"
#include "ShellImports.h"
#include "WebView/WebView2Abi.h"
#include "WebView2Runtime.h"
#include "WideText.h"

namespace velto::webview {

namespace {

using Clock = std::chrono::steady_clock;
using Task = std::function<void()>;

constexpr wchar_t kWidgetClass[] = L"webview_widget";
// Posted to the widget: run the engine's queued tasks. A message of the
// widget's own class (WM_APP to 0xBFFF), so that no registered message
// (0xC000 and up) can be taken for it; it carries nothing, the tasks stay
// in the engine.
constexpr UINT kRunTasks = WM_APP + 1;
// Wakes the creation wait so that it can notice its deadline.
constexpr UINT_PTR kWakeTimer = 0x4756;
constexpr UINT kWakeInterval = 250;
// Runs the queued tasks when kRunTasks could not be posted (the thread's
// queue is full): timer messages are not posted messages.
constexpr UINT_PTR kQueueTimer = kWakeTimer + 1;
// The runtime's first start on a cold machine takes seconds, not minutes.
constexpr auto kCreationLimit = std::chrono::seconds(120);
// Timers of post_delayed take ids from here on; the fixed ones are below.
constexpr UINT_PTR kFirstTaskTimer = kQueueTimer + 1;

// The thread's COM apartment for as long as an engine lives. The runtime
// needs a single-threaded one.
class Apartment {
 public:
  Apartment() noexcept : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  ~Apartment() {
    if (SUCCEEDED(result_)) {
      CoUninitialize();
    }
  }
  [[nodiscard]] bool usable() const noexcept { return SUCCEEDED(result_); }

 private:
  HRESULT result_;
};

// What the two creation callbacks fill in. Shared with them so that a late
// answer after a given-up wait finds it still there.
struct Creation {
  HWND widget = nullptr;
  bool finished = false;
  HRESULT result = E_PENDING;
  ComPtr<abi::ICoreWebView2Environment> environment;
  ComPtr<abi::ICoreWebView2Controller> controller;

  void fail(HRESULT error) noexcept {
    finished = true;
    result = FAILED(error) ? error : E_FAIL;
  }
};

class ControllerCreatedHandler final
    : public ComHandler<abi::ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> {
 public:
  explicit ControllerCreatedHandler(std::shared_ptr<Creation> creation) : creation_(std::move(creation)) {}

  HRESULT STDMETHODCALLTYPE Invoke(HRESULT error, abi::ICoreWebView2Controller* controller) override {
    if (creation_->finished) {
      return S_OK;
    }
    if (FAILED(error) || controller == nullptr) {
      creation_->fail(error);
      return S_OK;
    }
    creation_->controller = ComPtr<abi::ICoreWebView2Controller>::retain(controller);
    creation_->finished = true;
    creation_->result = S_OK;
    return S_OK;
  }

 private:
  std::shared_ptr<Creation> creation_;
};

class EnvironmentCreatedHandler final
    : public ComHandler<abi::ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> {
 public:
  explicit EnvironmentCreatedHandler(std::shared_ptr<Creation> creation) : creation_(std::move(creation)) {}

  HRESULT STDMETHODCALLTYPE Invoke(HRESULT error, abi::ICoreWebView2Environment* environment) override {
    if (creation_->finished) {
      return S_OK;
    }
    if (FAILED(error) || environment == nullptr) {
      creation_->fail(error);
      return S_OK;
    }
    creation_->environment = ComPtr<abi::ICoreWebView2Environment>::retain(environment);
    try {
      auto handler = make_handler<ControllerCreatedHandler>(creation_);
      const HRESULT started = environment->CreateCoreWebView2Controller(creation_->widget, handler.get());
      if (FAILED(started)) {
        creation_->fail(started);
      }
    } catch (...) {
      creation_->fail(E_OUTOFMEMORY);
    }
    return S_OK;
  }

 private:
  std::shared_ptr<Creation> creation_;
};

// The script every document runs first. Adding one is asynchronous, and a
// script counts only once its id has come back; so a replacement is added
// before the script in place is removed, and a document that starts
// meanwhile (the client binds right after navigating) runs one of the two,
// never neither. A script replaced before its id arrived is removed when
// the id comes.
struct DocumentScript {
  abi::ICoreWebView2* webview = nullptr;  // null once the engine is gone
  std::wstring id;                        // the script in place
  unsigned generation = 0;                // of the newest request
  bool pending = false;
};

class ScriptAddedHandler final
    : public ComHandler<abi::ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler> {
 public:
  ScriptAddedHandler(std::shared_ptr<DocumentScript> script, unsigned generation)
      : script_(std::move(script)), generation_(generation) {}

  HRESULT STDMETHODCALLTYPE Invoke(HRESULT error, LPCWSTR id) override {
    DocumentScript& script = *script_;
    if (script.webview == nullptr) {
      return S_OK;
    }
    const bool added = SUCCEEDED(error) && id != nullptr;
    if (generation_ != script.generation) {
      if (added) {
        script.webview->RemoveScriptToExecuteOnDocumentCreated(id);
      }
      return S_OK;
    }
    script.pending = false;
    if (!added) {
      return S_OK;  // the script in place stays
    }
    try {
      std::wstring kept(id);
      if (!script.id.empty()) {
        script.webview->RemoveScriptToExecuteOnDocumentCreated(script.id.c_str());
      }
      script.id = std::move(kept);
    } catch (...) {
      // Without its id the new script stays for this page's lifetime,
      // beside the old one.
    }
    return S_OK;
  }

 private:
  std::shared_ptr<DocumentScript> script_;
  unsigned generation_;
};

// Script results are of no interest; the runtime still wants a handler.
class ScriptDoneHandler final : public ComHandler<abi::ICoreWebView2ExecuteScriptCompletedHandler> {
 public:
  HRESULT STDMETHODCALLTYPE Invoke(HRESULT, LPCWSTR) override { return S_OK; }
};

LRESULT CALLBACK widget_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

bool register_widget_class() {
  WNDCLASSEXW info{};
  info.cbSize = sizeof(info);
  info.lpfnWndProc = widget_procedure;
  info.hInstance = GetModuleHandleW(nullptr);
  info.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  info.lpszClassName = kWidgetClass;
  return RegisterClassExW(&info) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

class WebViewWin32 final : public Engine {
 public:
  explicit WebViewWin32(HWND parent) : parent_(parent) { link_->engine = this; }
  ~WebViewWin32() override;

  // Everything up to a ready browser; false leaves the object for deletion.
  bool start(bool debug);

  [[nodiscard]] void* native_handle(webview_native_handle_kind_t kind) const noexcept override;

  void resized() noexcept;
  void focus_page() noexcept;
  void timer_fired(UINT_PTR id);
  // Runs what post_task queued (kRunTasks, or kQueueTimer when that could
  // not be posted).
  void run_tasks();
  void widget_gone() noexcept { widget_ = nullptr; }

  // What the runtime's events report; see the handlers registered in start().
  void on_web_message(abi::ICoreWebView2WebMessageReceivedEventArgs& args);
  void on_navigation_starting(abi::ICoreWebView2NavigationStartingEventArgs& args);
  void on_navigation_completed(abi::ICoreWebView2NavigationCompletedEventArgs& args);
  void on_new_window(abi::ICoreWebView2NewWindowRequestedEventArgs& args);
  void on_permission(abi::ICoreWebView2PermissionRequestedEventArgs& args);
  void on_process_failed(abi::ICoreWebView2ProcessFailedEventArgs& args);

  // What the handlers know of their engine: null once it is gone. The
  // runtime may keep a handler past remove_*, so handlers never hold the
  // engine itself.
  struct Link {
    WebViewWin32* engine = nullptr;
  };

 protected:
  [[nodiscard]] std::string_view post_function() const noexcept override {
    // A method of the host object: called with it as the receiver, which
    // is taken at document start, before the page can replace it.
    return "(function (webview) { return function (message) { webview.postMessage(message); }; })"
           "(window.chrome.webview)";
  }
  void load(const std::string& url) override;
  void set_document_script(const std::string& script) override;
  void evaluate(const std::string& script) override;
  void post_task(std::function<void()> task) override;
  bool hand_over(const std::string& url) override;
  void show_page(const std::string& html) override;
  void reload_page() override;
  void post_delayed(std::chrono::milliseconds delay, std::function<void()> task) override;

 private:
  using RemoveMethod = decltype(&abi::ICoreWebView2::remove_WebMessageReceived);
  struct Subscription {
    RemoveMethod remove = nullptr;
    abi::EventRegistrationToken token{};
  };

  // Runs the thread's message loop until `done` holds or the deadline
  // passes; a WM_QUIT met on the way is put back for the caller's loop.
  template <class Done>
  bool pump_until(Done done, Clock::time_point deadline);

  // Registers `Handler` through `add`; remove_* runs at destruction.
  template <class Handler, class Add>
  bool subscribe(Add add, RemoveMethod remove);
  bool subscribe_all();

  // The runtime's browser process ended: the view is closed for good.
  void browser_gone() noexcept;
  [[nodiscard]] bool usable() const noexcept { return webview_ && !browser_gone_; }
  void open_with_shell(const std::wstring& url) const;
  // Makes sure the widget will run the queued tasks.
  void wake() noexcept;
  static std::optional<LoadFailure> load_failure(abi::WebErrorStatus status) noexcept;

  // Declared first so that they go last: COM outlives every interface.
  Apartment apartment_;
  Runtime runtime_;
  HWND parent_ = nullptr;
  HWND widget_ = nullptr;
  ComPtr<abi::ICoreWebView2Environment> environment_;
  ComPtr<abi::ICoreWebView2Controller> controller_;
  ComPtr<abi::ICoreWebView2> webview_;
  std::shared_ptr<Link> link_ = std::make_shared<Link>();
  std::vector<Subscription> subscriptions_;
  std::shared_ptr<DocumentScript> document_script_;
  // Null when the runtime leaves downloads to itself.
  std::unique_ptr<DownloadKeeper> downloads_;
  // post_task's tasks, in order. They are the engine's own: the widget's
  // messages only say that there are some, so nothing is lost when a
  // message cannot be posted, and nothing a message carries is ever run.
  std::deque<Task> tasks_;
  // kRunTasks posted (or kQueueTimer set) and not yet handled.
  bool wake_pending_ = false;
  // post_delayed's tasks by timer id.
  std::map<UINT_PTR, Task> timers_;
  UINT_PTR next_timer_ = kFirstTaskTimer;
  // show_page asked for the engine's own page; its navigation is not judged.
  bool own_page_requested_ = false;
  // The web page (http or https) whose load is under way: only its
  // completion counts as a page loaded or failed.
  UINT64 web_navigation_ = 0;
  bool web_navigation_pending_ = false;
  bool browser_gone_ = false;
};

namespace {

// One event of the runtime, passed to the engine's `Method` while the engine
// lives. Nothing thrown leaves Invoke.
template <class Interface, class Args, void (WebViewWin32::*Method)(Args&)>
class EventHandler final : public ComHandler<Interface> {
 public:
  explicit EventHandler(std::shared_ptr<WebViewWin32::Link> link) : link_(std::move(link)) {}

  HRESULT STDMETHODCALLTYPE Invoke(abi::ICoreWebView2*, Args* args) override {
    WebViewWin32* engine = link_->engine;
    if (engine != nullptr && args != nullptr) {
      try {
        (engine->*Method)(*args);
      } catch (...) {
        // What cannot be handled (memory) is dropped; the runtime goes on.
      }
    }
    return S_OK;
  }

 private:
  std::shared_ptr<WebViewWin32::Link> link_;
};

using MessageHandler = EventHandler<abi::ICoreWebView2WebMessageReceivedEventHandler,
                                    abi::ICoreWebView2WebMessageReceivedEventArgs, &WebViewWin32::on_web_message>;
using NavigationStartingHandler =
    EventHandler<abi::ICoreWebView2NavigationStartingEventHandler, abi::ICoreWebView2NavigationStartingEventArgs,
                 &WebViewWin32::on_navigation_starting>;
using NavigationCompletedHandler =
    EventHandler<abi::ICoreWebView2NavigationCompletedEventHandler, abi::ICoreWebView2NavigationCompletedEventArgs,
                 &WebViewWin32::on_navigation_completed>;
using NewWindowHandler = EventHandler<abi::ICoreWebView2NewWindowRequestedEventHandler,
                                      abi::ICoreWebView2NewWindowRequestedEventArgs, &WebViewWin32::on_new_window>;
using PermissionHandler = EventHandler<abi::ICoreWebView2PermissionRequestedEventHandler,
                                       abi::ICoreWebView2PermissionRequestedEventArgs, &WebViewWin32::on_permission>;
using ProcessFailedHandler = EventHandler<abi::ICoreWebView2ProcessFailedEventHandler,
                                          abi::ICoreWebView2ProcessFailedEventArgs, &WebViewWin32::on_process_failed>;

LRESULT handle_widget_message(HWND window, UINT message, WPARAM wparam) {
  auto* engine = reinterpret_cast<WebViewWin32*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (engine == nullptr) {
    return 1;
  }
  switch (message) {
    case WM_SIZE:
      engine->resized();
      return 0;
    case WM_SETFOCUS:
      // Focus given to the widget belongs to the page.
      engine->focus_page();
      return 0;
    case WM_TIMER:
      engine->timer_fired(static_cast<UINT_PTR>(wparam));
      return 0;
    case kRunTasks:
      engine->run_tasks();
      return 0;
    case WM_NCDESTROY:
      engine->widget_gone();
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      return 1;
    default:
      return 1;
  }
}

LRESULT CALLBACK widget_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  LRESULT handled = 1;
  try {
    handled = handle_widget_message(window, message, wparam);
  } catch (...) {
    // A task's failure stays inside the task: nothing may unwind into the
    // system's code, which DWARF unwinding (i686) cannot pass.
  }
  return handled == 0 ? 0 : DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

template <class Done>
bool WebViewWin32::pump_until(Done done, Clock::time_point deadline) {
  if (done()) {
    return true;
  }
  const UINT_PTR timer = widget_ != nullptr ? SetTimer(widget_, kWakeTimer, kWakeInterval, nullptr) : 0;
  MSG message;
  while (!done() && Clock::now() < deadline) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (got == -1) {
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (timer != 0 && widget_ != nullptr) {
    KillTimer(widget_, kWakeTimer);
  }
  return done();
}

bool WebViewWin32::start(bool debug) {
  if (!apartment_.usable()) {
    return false;
  }
  runtime_ = find_runtime();
  if (!runtime_ || !register_widget_class()) {
    return false;
  }
  // Zero size until the caller sizes it; the browser follows its client area.
  widget_ = CreateWindowExW(0, kWidgetClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0, 0, 0,
                            parent_, nullptr, GetModuleHandleW(nullptr), this);
  if (widget_ == nullptr) {
    return false;
  }

  auto creation = std::make_shared<Creation>();
  creation->widget = widget_;
  {
    auto handler = make_handler<EnvironmentCreatedHandler>(creation);
    const HRESULT started = runtime_.create_environment(default_user_data_folder(), handler.get());
    if (FAILED(started)) {
      return false;
    }
  }
  const auto deadline = Clock::now() + kCreationLimit;
  pump_until([&] { return creation->finished || widget_ == nullptr; }, deadline);
  if (!creation->finished) {
    // Given up: a late answer finds the creation finished and is ignored.
    creation->fail(HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  }
  environment_ = std::move(creation->environment);
  controller_ = std::move(creation->controller);
  if (FAILED(creation->result) || !controller_ || widget_ == nullptr) {
    return false;
  }
  if (FAILED(controller_->get_CoreWebView2(webview_.put())) || !webview_) {
    return false;
  }

  ComPtr<abi::ICoreWebView2Settings> settings;
  if (SUCCEEDED(webview_->get_Settings(settings.put())) && settings) {
    settings->put_IsStatusBarEnabled(FALSE);
    settings->put_AreDevToolsEnabled(debug ? TRUE : FALSE);
    settings->put_AreDefaultScriptDialogsEnabled(TRUE);
    settings->put_IsWebMessageEnabled(TRUE);
  }

  document_script_ = std::make_shared<DocumentScript>();
  document_script_->webview = webview_.get();
  if (!subscribe_all()) {
    return false;
  }
  DownloadKeeper::Hooks hooks;
  hooks.run_script = [this](const std::string& script) { evaluate(script); };
  hooks.later = [this](std::function<void()> task) { post_task(std::move(task)); };
  hooks.owner = GetAncestor(parent_, GA_ROOT);
  hooks.post = std::string(post_function());
  downloads_ = DownloadKeeper::attach(*webview_.get(), std::move(hooks));

  // The bridge must be in place before the first page loads.
  set_document_script(document_script());
  pump_until([&] { return !document_script_->pending || widget_ == nullptr; }, deadline);
  if (widget_ == nullptr) {
    return false;
  }

  controller_->put_IsVisible(TRUE);
  resized();
  // Typing goes to the chat from the start.
  focus_page();
  return true;
}

template <class Handler, class Add>
bool WebViewWin32::subscribe(Add add, RemoveMethod remove) {
  auto handler = make_handler<Handler>(link_);
  Subscription subscription;
  subscription.remove = remove;
  if (FAILED((webview_.get()->*add)(handler.get(), &subscription.token))) {
    return false;
  }
  subscriptions_.push_back(subscription);
  return true;
}

bool WebViewWin32::subscribe_all() {
  using abi::ICoreWebView2;
  return subscribe<MessageHandler>(&ICoreWebView2::add_WebMessageReceived, &ICoreWebView2::remove_WebMessageReceived) &&
         subscribe<NavigationStartingHandler>(&ICoreWebView2::add_NavigationStarting,
                                              &ICoreWebView2::remove_NavigationStarting) &&
         subscribe<NavigationCompletedHandler>(&ICoreWebView2::add_NavigationCompleted,
                                               &ICoreWebView2::remove_NavigationCompleted) &&
         subscribe<NewWindowHandler>(&ICoreWebView2::add_NewWindowRequested,
                                     &ICoreWebView2::remove_NewWindowRequested) &&
         subscribe<PermissionHandler>(&ICoreWebView2::add_PermissionRequested,
                                      &ICoreWebView2::remove_PermissionRequested) &&
         subscribe<ProcessFailedHandler>(&ICoreWebView2::add_ProcessFailed, &ICoreWebView2::remove_ProcessFailed);
}

WebViewWin32::~WebViewWin32() {
  shut_down();
  link_->engine = nullptr;
  // Before the view goes: running downloads are cancelled through it.
  downloads_.reset();
  if (webview_) {
    for (const Subscription& subscription : subscriptions_) {
      (webview_.get()->*subscription.remove)(subscription.token);
    }
  }
  subscriptions_.clear();
  if (widget_ != nullptr) {
    for (const auto& timer : timers_) {
      KillTimer(widget_, timer.first);
    }
  }
  timers_.clear();
  if (document_script_) {
    document_script_->webview = nullptr;
  }
  webview_.reset();
  if (controller_) {
    controller_->Close();
    controller_.reset();
  }
  environment_.reset();
  if (HWND widget = std::exchange(widget_, nullptr)) {
    SetWindowLongPtrW(widget, GWLP_USERDATA, 0);
    DestroyWindow(widget);
  }
}

void* WebViewWin32::native_handle(webview_native_handle_kind_t kind) const noexcept {
  switch (kind) {
    case WEBVIEW_NATIVE_HANDLE_KIND_UI_WINDOW:
      return GetAncestor(parent_, GA_ROOT);
    case WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET:
      return widget_;
    case WEBVIEW_NATIVE_HANDLE_KIND_BROWSER_CONTROLLER:
      return controller_.get();
  }
  return nullptr;
}

void WebViewWin32::resized() noexcept {
  if (!controller_ || widget_ == nullptr) {
    return;
  }
  RECT bounds{};
  if (GetClientRect(widget_, &bounds)) {
    controller_->put_Bounds(bounds);
  }
}

void WebViewWin32::focus_page() noexcept {
  if (controller_ && !browser_gone_) {
    controller_->MoveFocus(abi::MoveFocusReason::Programmatic);
  }
}

void WebViewWin32::load(const std::string& url) {
  if (usable()) {
    webview_->Navigate(widen(url).c_str());
  }
}

void WebViewWin32::on_web_message(abi::ICoreWebView2WebMessageReceivedEventArgs& args) {
  // Fails for anything but a string: the bridge only ever posts strings.
  LPWSTR raw = nullptr;
  const HRESULT result = args.TryGetWebMessageAsString(&raw);
  const std::unique_ptr<wchar_t, CoTaskMemDeleter> message(raw);
  if (!SUCCEEDED(result) || !message) {
    return;
  }
  const std::string text = narrow(message.get());
  if (!downloads_ || !downloads_->notice_message(text)) {
    on_page_message(text);
  }
}

void WebViewWin32::on_navigation_starting(abi::ICoreWebView2NavigationStartingEventArgs& args) {
  const std::string url = take_string([&](LPWSTR* out) { return args.get_Uri(out); });
  UINT64 id = 0;
  args.get_NavigationId(&id);
  const std::string scheme = url_scheme(url);
  if (own_page_requested_ && (scheme == "data" || scheme == "about")) {
    // The engine's own page: NavigateToString reaches here as such a URL.
    own_page_requested_ = false;
    web_navigation_pending_ = false;
    return;
  }
  BOOL user_initiated = FALSE;
  BOOL redirected = FALSE;
  args.get_IsUserInitiated(&user_initiated);
  args.get_IsRedirected(&redirected);
  NavigationRequest request;
  request.url = url;
  // Only the top frame raises this event; frames keep to their own rules.
  request.main_frame = true;
  // A redirect is the server's doing, whoever started the navigation.
  request.user_initiated = user_initiated != FALSE && redirected == FALSE;
  if (navigation_requested(request) != NavigationVerdict::Stay) {
    args.put_Cancel(TRUE);
    return;
  }
  web_navigation_pending_ = scheme == "http" || scheme == "https";
  web_navigation_ = id;
}

std::optional<Engine::LoadFailure> WebViewWin32::load_failure(abi::WebErrorStatus status) noexcept {
  using abi::WebErrorStatus;
  switch (status) {
    case WebErrorStatus::CertificateCommonNameIsIncorrect:
    case WebErrorStatus::CertificateExpired:
    case WebErrorStatus::ClientCertificateContainsErrors:
    case WebErrorStatus::CertificateRevoked:
    case WebErrorStatus::CertificateIsInvalid:
      return LoadFailure::Certificate;
    case WebErrorStatus::ServerUnreachable:
    case WebErrorStatus::Timeout:
    case WebErrorStatus::ErrorHttpInvalidServerResponse:
    case WebErrorStatus::ConnectionReset:
    case WebErrorStatus::Disconnected:
    case WebErrorStatus::CannotConnect:
    case WebErrorStatus::HostNameNotResolved:
    case WebErrorStatus::RedirectFailed:
    case WebErrorStatus::UnexpectedError:
    case WebErrorStatus::ValidProxyAuthenticationRequired:
      return LoadFailure::Network;
    // Another navigation took over (or was cancelled here), the response
    // became a download, the runtime asks for a login, or "unknown", which
    // is also what an HTTP error status reports: what shows stays.
    case WebErrorStatus::OperationCanceled:
    case WebErrorStatus::ConnectionAborted:
    case WebErrorStatus::ValidAuthenticationCredentialsRequired:
    case WebErrorStatus::Unknown:
      return std::nullopt;
  }
  return std::nullopt;
}

void WebViewWin32::on_navigation_completed(abi::ICoreWebView2NavigationCompletedEventArgs& args) {
  UINT64 id = 0;
  args.get_NavigationId(&id);
  if (!web_navigation_pending_ || id != web_navigation_) {
    return;
  }
  web_navigation_pending_ = false;
  BOOL success = FALSE;
  args.get_IsSuccess(&success);
  if (success != FALSE) {
    page_loaded();
    return;
  }
  abi::WebErrorStatus status = abi::WebErrorStatus::Unknown;
  args.get_WebErrorStatus(&status);
  if (const std::optional<LoadFailure> failure = load_failure(status)) {
    page_failed(*failure);
  }
}

void WebViewWin32::on_new_window(abi::ICoreWebView2NewWindowRequestedEventArgs& args) {
  // The engine has no window to give and the runtime must not open one of
  // its own, whatever the verdict.
  args.put_Handled(TRUE);
  const std::string url = take_string([&](LPWSTR* out) { return args.get_Uri(out); });
  BOOL user_initiated = FALSE;
  args.get_IsUserInitiated(&user_initiated);
  NavigationRequest request;
  request.url = url;
  request.new_window = true;
  request.user_initiated = user_initiated != FALSE;
  static_cast<void>(navigation_requested(request));
}

void WebViewWin32::on_permission(abi::ICoreWebView2PermissionRequestedEventArgs& args) {
  // Notifications: the home's own origin may show them, nothing else may.
  // Every other kind keeps the runtime's default.
  abi::PermissionKind kind = abi::PermissionKind::UnknownPermission;
  if (FAILED(args.get_PermissionKind(&kind))) {
    return;
  }
  const PermissionKind asked =
      kind == abi::PermissionKind::Notifications ? PermissionKind::Notifications : PermissionKind::Other;
  const std::string uri = take_string([&](LPWSTR* out) { return args.get_Uri(out); });
  switch (judge_permission(asked, uri, home_origin())) {
    case PermissionVerdict::Grant:
      args.put_State(abi::PermissionState::Allow);
      break;
    case PermissionVerdict::Deny:
      args.put_State(abi::PermissionState::Deny);
      break;
    case PermissionVerdict::Default:
      break;
  }
}

void WebViewWin32::on_process_failed(abi::ICoreWebView2ProcessFailedEventArgs& args) {
  abi::ProcessFailedKind kind = abi::ProcessFailedKind::BrowserProcessExited;
  if (FAILED(args.get_ProcessFailedKind(&kind))) {
    return;
  }
  switch (kind) {
    case abi::ProcessFailedKind::RenderProcessExited:
    case abi::ProcessFailedKind::RenderProcessUnresponsive:
      page_process_gone();
      return;
    case abi::ProcessFailedKind::BrowserProcessExited:
      browser_gone();
      return;
  }
  // Frames' renderers, the GPU and helper processes: the runtime restarts
  // them itself and the page goes on.
}

void WebViewWin32::browser_gone() noexcept {
  // The runtime has closed this view for good and nothing of it answers any
  // more. Nothing is loaded or retried from now on; the view stays empty
  // until the client starts again (a new browser would replace the
  // controller that the gadget library holds).
  browser_gone_ = true;
  if (widget_ != nullptr) {
    for (const auto& timer : timers_) {
      KillTimer(widget_, timer.first);
    }
  }
  timers_.clear();
}

bool WebViewWin32::hand_over(const std::string& url) {
  if (widget_ == nullptr) {
    return false;
  }
  // From the widget's queue, not inside the runtime's event: the shell may
  // show a dialog, and the runtime's events must not run a nested loop.
  post_task([this, wide = widen(url)] { open_with_shell(wide); });
  return true;
}

void WebViewWin32::open_with_shell(const std::wstring& url) const {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  // Finished before the call returns, so nothing of it is left to a thread
  // or loop that may be gone by then (the client may be closing).
  info.fMask = SEE_MASK_NOASYNC;
  info.hwnd = GetAncestor(parent_, GA_ROOT);
  info.lpVerb = L"open";
  info.lpFile = url.c_str();
  info.nShow = SW_SHOWNORMAL;
  // A failure has already been shown by the shell, or there is no handler.
  static_cast<void>(shell_imports().execute(&info));
}

void WebViewWin32::show_page(const std::string& html) {
  if (!usable()) {
    return;
  }
  own_page_requested_ = true;
  web_navigation_pending_ = false;
  webview_->NavigateToString(widen(html).c_str());
}

void WebViewWin32::reload_page() {
  if (!usable()) {
    return;
  }
  if (own_page()) {
    // Our own page has nothing to reload; the home is what failed.
    load(home());
    return;
  }
  // The same page again, so the user keeps their place in the chat.
  webview_->Reload();
}

void WebViewWin32::post_delayed(std::chrono::milliseconds delay, std::function<void()> task) {
  if (widget_ == nullptr || browser_gone_) {
    return;
  }
  const UINT_PTR id = next_timer_++;
  if (next_timer_ < kFirstTaskTimer) {
    next_timer_ = kFirstTaskTimer;  // wrapped
  }
  const auto wait = static_cast<UINT>(
      std::clamp<std::chrono::milliseconds::rep>(delay.count(), USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM));
  timers_[id] = std::move(task);
  if (SetTimer(widget_, id, wait, nullptr) == 0) {
    timers_.erase(id);
  }
}

void WebViewWin32::timer_fired(UINT_PTR id) {
  if (id == kQueueTimer) {
    run_tasks();
    return;
  }
  const auto found = timers_.find(id);
  if (found == timers_.end()) {
    return;
  }
  KillTimer(widget_, id);
  const Task task = std::move(found->second);
  timers_.erase(found);
  if (task) {
    task();
  }
}

void WebViewWin32::set_document_script(const std::string& script) {
  if (!usable() || !document_script_) {
    return;
  }
  // The script in place is removed when the new one's id comes back.
  DocumentScript& current = *document_script_;
  ++current.generation;
  current.pending = true;
  auto handler = make_handler<ScriptAddedHandler>(document_script_, current.generation);
  if (FAILED(webview_->AddScriptToExecuteOnDocumentCreated(widen(script).c_str(), handler.get()))) {
    current.pending = false;
  }
}

void WebViewWin32::evaluate(const std::string& script) {
  if (usable()) {
    auto handler = make_handler<ScriptDoneHandler>();
    webview_->ExecuteScript(widen(script).c_str(), handler.get());
  }
}

void WebViewWin32::post_task(std::function<void()> task) {
  if (widget_ == nullptr) {
    return;
  }
  tasks_.push_back(std::move(task));
  wake();
}

void WebViewWin32::wake() noexcept {
  if (wake_pending_ || widget_ == nullptr) {
    return;
  }
  // A full queue (10,000 posted messages per thread) refuses the message;
  // the timer then runs the tasks. Should both fail, the tasks wait for the
  // next one's wake.
  wake_pending_ = queue_imports().post(widget_, kRunTasks, 0, 0) != FALSE ||
                  SetTimer(widget_, kQueueTimer, USER_TIMER_MINIMUM, nullptr) != 0;
}

void WebViewWin32::run_tasks() {
  wake_pending_ = false;
  if (widget_ != nullptr) {
    KillTimer(widget_, kQueueTimer);
  }
  const std::shared_ptr<Link> link = link_;
  // Only what is queued now: tasks queued meanwhile wake the widget again,
  // so that input and drawing get their turn in between. A task may destroy
  // the engine; the link tells.
  for (std::size_t count = tasks_.size(); count > 0 && link->engine == this && !tasks_.empty(); --count) {
    const Task task = std::move(tasks_.front());
    tasks_.pop_front();
    try {
      if (task) {
        task();
      }
    } catch (...) {
      // A task's failure stays inside the task.
    }
  }
}

ShellImports& shell_imports() {
  static ShellImports imports{ShellExecuteExW, SHGetKnownFolderPath};
  return imports;
}

QueueImports& queue_imports() {
  static QueueImports imports{PostMessageW};
  return imports;
}

}  // namespace velto::webview

extern "C" webview_t webview_create(int debug, void* window) {
  try {
    if (window == nullptr) {
      return nullptr;
    }
    HWND parent = *static_cast<HWND*>(window);
    if (parent == nullptr || !IsWindow(parent)) {
      return nullptr;
    }
    auto engine = std::make_unique<velto::webview::WebViewWin32>(parent);
    if (!engine->start(debug != 0)) {
      return nullptr;
    }
    // The handle is the Engine that the portable entry points work on.
    return static_cast<velto::webview::Engine*>(engine.release());
  } catch (...) {
    return nullptr;
  }
}
