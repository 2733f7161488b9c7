// The browser engine on Windows: the installed browser runtime (or a loader
// library beside the program) hosted in a child window of the caller's
// parent.

#include <chrono>
#include <climits>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "ComPtr.h"
#include "Engine.h"
#include "WebView/WebView2Abi.h"
#include "WebView2Runtime.h"

namespace velto::webview {

namespace {

using Clock = std::chrono::steady_clock;
using Task = std::function<void()>;

constexpr wchar_t kWidgetClass[] = L"webview_widget";
// Posted to the widget; LPARAM is an owned Task*.
constexpr UINT kRunTask = WM_APP + 0x4756;
// Wakes the creation wait so that it can notice its deadline.
constexpr UINT_PTR kWakeTimer = 0x4756;
constexpr UINT kWakeInterval = 250;
// The runtime's first start on a cold machine takes seconds, not minutes.
constexpr auto kCreationLimit = std::chrono::seconds(120);
constexpr int kDrainLimit = 1'000'000;

std::wstring widen(std::string_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (length <= 0) {
    return {};
  }
  std::wstring result(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, result.data(), length);
  return result;
}

std::string narrow(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) {
    return {};
  }
  std::string result(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
  result.resize(static_cast<std::size_t>(length - 1));
  return result;
}

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

// The script every document runs first. Adding one is asynchronous; a
// script replaced before its id arrived is removed when the id comes.
struct DocumentScript {
  abi::ICoreWebView2* webview = nullptr;  // null once the engine is gone
  std::wstring id;
  unsigned generation = 0;
  bool pending = false;
};

class ScriptAddedHandler final
    : public ComHandler<abi::ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler> {
 public:
  ScriptAddedHandler(std::shared_ptr<DocumentScript> script, unsigned generation)
      : script_(std::move(script)), generation_(generation) {}

  HRESULT STDMETHODCALLTYPE Invoke(HRESULT error, LPCWSTR id) override {
    if (script_->webview == nullptr) {
      return S_OK;
    }
    const bool added = SUCCEEDED(error) && id != nullptr;
    if (generation_ != script_->generation) {
      if (added) {
        script_->webview->RemoveScriptToExecuteOnDocumentCreated(id);
      }
      return S_OK;
    }
    script_->pending = false;
    if (added) {
      try {
        script_->id = id;
      } catch (...) {
        // Without the id the script stays for this page's lifetime.
      }
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

LRESULT CALLBACK widget_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

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
  explicit WebViewWin32(HWND parent) noexcept : parent_(parent) {}
  ~WebViewWin32() override;

  // Everything up to a ready browser; false leaves the object for deletion.
  bool start(bool debug);

  [[nodiscard]] void* native_handle(webview_native_handle_kind_t kind) const noexcept override;

  void page_message(std::string_view message) { on_page_message(message); }
  void resized() noexcept;
  void widget_gone() noexcept { widget_ = nullptr; }

 protected:
  [[nodiscard]] std::string_view post_function() const noexcept override { return "window.chrome.webview.postMessage"; }
  void load(const std::string& url) override;
  void set_document_script(const std::string& script) override;
  void evaluate(const std::string& script) override;
  void post_task(std::function<void()> task) override;

 private:
  class MessageHandler;

  // Runs the thread's message loop until `done` holds or the deadline
  // passes; a WM_QUIT met on the way is put back for the caller's loop.
  template <class Done>
  bool pump_until(Done done, Clock::time_point deadline);

  // Declared first so that they go last: COM outlives every interface, the
  // runtime library every object it made.
  Apartment apartment_;
  Runtime runtime_;
  HWND parent_ = nullptr;
  HWND widget_ = nullptr;
  ComPtr<abi::ICoreWebView2Environment> environment_;
  ComPtr<abi::ICoreWebView2Controller> controller_;
  ComPtr<abi::ICoreWebView2> webview_;
  ComPtr<MessageHandler> message_handler_;
  abi::EventRegistrationToken message_token_{};
  bool message_registered_ = false;
  std::shared_ptr<DocumentScript> document_script_;
};

// Hands the page's messages to the engine while it lives.
class WebViewWin32::MessageHandler final : public ComHandler<abi::ICoreWebView2WebMessageReceivedEventHandler> {
 public:
  explicit MessageHandler(WebViewWin32* engine) : engine_(engine) {}
  void detach() noexcept { engine_ = nullptr; }

  HRESULT STDMETHODCALLTYPE Invoke(abi::ICoreWebView2*, abi::ICoreWebView2WebMessageReceivedEventArgs* args) override {
    if (engine_ == nullptr || args == nullptr) {
      return S_OK;
    }
    LPWSTR message = nullptr;
    // Fails for anything but a string: the bridge only ever posts strings.
    if (SUCCEEDED(args->TryGetWebMessageAsString(&message)) && message != nullptr) {
      try {
        engine_->page_message(narrow(message));
      } catch (...) {
        // A message that cannot be queued is dropped, like a malformed one.
      }
    }
    CoTaskMemFree(message);
    return S_OK;
  }

 private:
  WebViewWin32* engine_;
};

namespace {

LRESULT CALLBACK widget_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* engine = reinterpret_cast<WebViewWin32*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_SIZE:
      if (engine != nullptr) {
        engine->resized();
      }
      return 0;
    case kRunTask: {
      std::unique_ptr<Task> task(reinterpret_cast<Task*>(lparam));
      if (engine != nullptr && task && *task) {
        try {
          (*task)();
        } catch (...) {
          // A task's failure stays inside the task.
        }
      }
      return 0;
    }
    case WM_DESTROY: {
      // Tasks still queued for this window would never be dispatched.
      MSG queued;
      for (int i = 0; i < kDrainLimit && PeekMessageW(&queued, window, kRunTask, kRunTask, PM_REMOVE); ++i) {
        delete reinterpret_cast<Task*>(queued.lParam);
      }
      break;
    }
    case WM_NCDESTROY:
      if (engine != nullptr) {
        engine->widget_gone();
      }
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
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
  message_handler_ = make_handler<MessageHandler>(this);
  if (FAILED(webview_->add_WebMessageReceived(message_handler_.get(), &message_token_))) {
    return false;
  }
  message_registered_ = true;

  // The bridge must be in place before the first page loads.
  set_document_script(document_script());
  pump_until([&] { return !document_script_->pending || widget_ == nullptr; }, deadline);
  if (widget_ == nullptr) {
    return false;
  }

  controller_->put_IsVisible(TRUE);
  resized();
  return true;
}

WebViewWin32::~WebViewWin32() {
  shut_down();
  if (message_handler_) {
    if (message_registered_ && webview_) {
      webview_->remove_WebMessageReceived(message_token_);
    }
    message_handler_->detach();
    message_handler_.reset();
  }
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

void WebViewWin32::load(const std::string& url) {
  if (webview_) {
    webview_->Navigate(widen(url).c_str());
  }
}

void WebViewWin32::set_document_script(const std::string& script) {
  if (!webview_ || !document_script_) {
    return;
  }
  DocumentScript& current = *document_script_;
  if (!current.id.empty()) {
    webview_->RemoveScriptToExecuteOnDocumentCreated(current.id.c_str());
    current.id.clear();
  }
  ++current.generation;
  current.pending = true;
  auto handler = make_handler<ScriptAddedHandler>(document_script_, current.generation);
  if (FAILED(webview_->AddScriptToExecuteOnDocumentCreated(widen(script).c_str(), handler.get()))) {
    current.pending = false;
  }
}

void WebViewWin32::evaluate(const std::string& script) {
  if (webview_) {
    auto handler = make_handler<ScriptDoneHandler>();
    webview_->ExecuteScript(widen(script).c_str(), handler.get());
  }
}

void WebViewWin32::post_task(std::function<void()> task) {
  if (widget_ == nullptr) {
    return;
  }
  auto owned = std::make_unique<Task>(std::move(task));
  if (PostMessageW(widget_, kRunTask, 0, reinterpret_cast<LPARAM>(owned.get()))) {
    owned.release();
  }
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
