// A stand-in for the browser runtime's libraries: built as the loader
// library (its documented entry) and as the installed runtime's own library
// (its undocumented one). It creates objects that implement the interfaces
// the engine calls, answers asynchronously through the thread's message
// queue as the real runtime does, and records every call.

#define FAKE_RUNTIME_BUILD
#include "FakeRuntime.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ComPtr.h"
#include "InterfaceStubs.h"

namespace {

using namespace velto::webview;
using namespace velto::webview::abi;

std::vector<std::string> g_log;
long g_live = 0;
std::string g_failing_step;

// The failing step, also from the environment: a test program that finds
// this library only through the engine cannot call fake_runtime_fail first.
bool failing(const char* step) {
  char named[32] = {};
  const DWORD length = GetEnvironmentVariableA("VELTO_FAKE_RUNTIME_FAIL", named, sizeof named);
  return g_failing_step == step || (length > 0 && length < sizeof named && std::string_view(named) == step);
}

std::string utf8(const wchar_t* text) {
  if (text == nullptr) {
    return "<null>";
  }
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), length, nullptr, nullptr);
  result.resize(result.size() - 1);
  std::string shown;
  for (char c : result) {
    if (c == '\n') {
      shown += "\\n";
    } else {
      shown += c;
    }
  }
  return shown;
}

void record(std::string line) {
  g_log.push_back(std::move(line));
}

// Later, from the thread's message loop.
constexpr UINT kCallback = WM_APP + 1;

LRESULT CALLBACK queue_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kCallback) {
    auto* callback = reinterpret_cast<std::function<void()>*>(lparam);
    (*callback)();
    delete callback;
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

HWND queue_window() {
  static HWND window = [] {
    WNDCLASSW info{};
    info.lpfnWndProc = queue_procedure;
    info.hInstance = GetModuleHandleW(nullptr);
    info.lpszClassName = L"fake_runtime_queue";
    RegisterClassW(&info);
    return CreateWindowExW(0, L"fake_runtime_queue", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  }();
  return window;
}

void later(std::function<void()> callback) {
  PostMessageW(queue_window(), kCallback, 0, reinterpret_cast<LPARAM>(new std::function<void()>(std::move(callback))));
}

// A fake object: counted while alive, reference counted like the real ones.
// `Stub` answers whatever the fake leaves out.
template <class Stub>
class Fake : public Stub {
 public:
  Fake(const Fake&) = delete;
  Fake& operator=(const Fake&) = delete;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID requested, void** object) override {
    if (IsEqualGUID(requested, kIidUnknown) || IsEqualGUID(requested, Stub::iid)) {
      *object = static_cast<Stub*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      delete this;
    }
    return left;
  }

 protected:
  Fake() { ++g_live; }
  virtual ~Fake() { --g_live; }

 private:
  ULONG references_ = 1;
};

class FakeSettings final : public Fake<SettingsStub> {
 public:
  HRESULT STDMETHODCALLTYPE put_IsScriptEnabled(BOOL value) override { return put("IsScriptEnabled", value); }
  HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL value) override { return put("IsWebMessageEnabled", value); }
  HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL value) override {
    return put("AreDefaultScriptDialogsEnabled", value);
  }
  HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL value) override { return put("IsStatusBarEnabled", value); }
  HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL value) override { return put("AreDevToolsEnabled", value); }

 private:
  static HRESULT put(const char* name, BOOL value) {
    record(std::string("put_") + name + " " + (value ? "1" : "0"));
    return S_OK;
  }
};

class FakeMessageArgs final : public Fake<ICoreWebView2WebMessageReceivedEventArgs> {
 public:
  explicit FakeMessageArgs(std::wstring text) : text_(std::move(text)) {}
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* message) override {
    const std::size_t bytes = (text_.size() + 1) * sizeof(wchar_t);
    *message = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    CopyMemory(*message, text_.c_str(), bytes);
    return S_OK;
  }

 private:
  std::wstring text_;
};

// A copy the receiver frees with CoTaskMemFree, as the runtime's strings.
LPWSTR task_string(const std::wstring& text) {
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (copy != nullptr) {
    CopyMemory(copy, text.c_str(), bytes);
  }
  return copy;
}

// Event arguments record what the engine sets on them, in the log too.
class FakeNavigationStartingArgs final : public Fake<ICoreWebView2NavigationStartingEventArgs> {
 public:
  FakeNavigationStartingArgs(std::wstring uri, bool user_initiated, bool redirected, UINT64 id)
      : uri_(std::move(uri)), user_initiated_(user_initiated), redirected_(redirected), id_(id) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
    *uri = task_string(uri_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) override {
    *value = user_initiated_ ? TRUE : FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* value) override {
    *value = redirected_ ? TRUE : FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_RequestHeaders(Unknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* cancel) override {
    *cancel = cancel_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL cancel) override {
    record("put_Cancel " + std::to_string(cancel));
    cancel_ = cancel;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* id) override {
    *id = id_;
    return S_OK;
  }
  [[nodiscard]] BOOL cancel() const { return cancel_; }

 private:
  std::wstring uri_;
  bool user_initiated_;
  bool redirected_;
  UINT64 id_;
  BOOL cancel_ = FALSE;
};

class FakeNavigationCompletedArgs final : public Fake<ICoreWebView2NavigationCompletedEventArgs> {
 public:
  FakeNavigationCompletedArgs(bool success, WebErrorStatus status, UINT64 id)
      : success_(success), status_(status), id_(id) {}
  HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* success) override {
    *success = success_ ? TRUE : FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_WebErrorStatus(WebErrorStatus* status) override {
    *status = status_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* id) override {
    *id = id_;
    return S_OK;
  }

 private:
  bool success_;
  WebErrorStatus status_;
  UINT64 id_;
};

class FakeNewWindowArgs final : public Fake<ICoreWebView2NewWindowRequestedEventArgs> {
 public:
  FakeNewWindowArgs(std::wstring uri, bool user_initiated) : uri_(std::move(uri)), user_initiated_(user_initiated) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
    *uri = task_string(uri_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2*) override {
    record("put_NewWindow");
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_NewWindow(ICoreWebView2** window) override {
    *window = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) override {
    record("put_Handled " + std::to_string(handled));
    handled_ = handled;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) override {
    *handled = handled_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) override {
    *value = user_initiated_ ? TRUE : FALSE;
    return S_OK;
  }
  [[nodiscard]] BOOL handled() const { return handled_; }

 private:
  std::wstring uri_;
  bool user_initiated_;
  BOOL handled_ = FALSE;
};

class FakePermissionArgs final : public Fake<ICoreWebView2PermissionRequestedEventArgs> {
 public:
  FakePermissionArgs(std::wstring uri, PermissionKind kind) : uri_(std::move(uri)), kind_(kind) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override {
    *uri = task_string(uri_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_PermissionKind(PermissionKind* kind) override {
    *kind = kind_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) override {
    *value = FALSE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_State(PermissionState* state) override {
    *state = state_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_State(PermissionState state) override {
    record("put_State " + std::to_string(static_cast<int>(state)));
    state_ = state;
    return S_OK;
  }
  [[nodiscard]] PermissionState state() const { return state_; }

 private:
  std::wstring uri_;
  PermissionKind kind_;
  PermissionState state_ = PermissionState::Default;
};

class FakeProcessFailedArgs final : public Fake<ICoreWebView2ProcessFailedEventArgs> {
 public:
  explicit FakeProcessFailedArgs(ProcessFailedKind kind) : kind_(kind) {}
  HRESULT STDMETHODCALLTYPE get_ProcessFailedKind(ProcessFailedKind* kind) override {
    *kind = kind_;
    return S_OK;
  }

 private:
  ProcessFailedKind kind_;
};

// One event's registered handler, as the runtime keeps it.
template <class Handler>
class EventSlot {
 public:
  EventSlot(const char* name, std::int64_t token) : name_(name), token_(token) {}
  HRESULT add(Handler* handler, EventRegistrationToken* token) {
    record(std::string("add_") + name_);
    handler_ = ComPtr<Handler>::retain(handler);
    token->value = token_;
    return S_OK;
  }
  HRESULT remove(EventRegistrationToken token) {
    record(std::string("remove_") + name_ + " " + std::to_string(token.value));
    if (token.value == token_) {
      handler_.reset();
    }
    return S_OK;
  }
  // Calls the handler as the runtime does from its own dispatch; false when
  // none is registered.
  template <class Sender, class Args>
  bool raise(Sender* sender, Args* args) {
    if (!handler_) {
      return false;
    }
    // The handler may remove itself meanwhile.
    const ComPtr<Handler> held = handler_;
    held->Invoke(sender, args);
    return true;
  }
  void clear() { handler_.reset(); }

 private:
  const char* name_;
  std::int64_t token_;
  ComPtr<Handler> handler_;
};

// Whether the page could post through `script`. The host object's
// postMessage needs its receiver, as methods of host objects do: called
// detached from window.chrome.webview (read off it into a variable, passed
// on, bound elsewhere) it throws, and every page call is rejected. The fake
// cannot run script, so it holds the text to that: every use of the name
// is a method call on an object, `<object>.postMessage(`. This proves that
// the bridge never takes the method off its object; not which object it
// calls it on, nor that the script runs.
bool posts_with_receiver(std::string_view script) {
  constexpr std::string_view kName = "postMessage";
  bool used = false;
  for (std::size_t at = script.find(kName); at != std::string_view::npos; at = script.find(kName, at + 1)) {
    std::size_t next = at + kName.size();
    while (next < script.size() && script[next] == ' ') {
      ++next;
    }
    if (at == 0 || script[at - 1] != '.' || next >= script.size() || script[next] != '(') {
      return false;
    }
    used = true;
  }
  return used;
}

// A download as the runtime runs it: it writes to the path it has now,
// replacing whatever is there, and reports each change of state.
class FakeDownloadOperation final : public Fake<DownloadOperationStub> {
 public:
  explicit FakeDownloadOperation(std::wstring path) : path_(std::move(path)) {}
  HRESULT STDMETHODCALLTYPE add_StateChanged(ICoreWebView2StateChangedEventHandler* handler,
                                             EventRegistrationToken* token) override {
    return state_changed_.add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_StateChanged(EventRegistrationToken token) override {
    return state_changed_.remove(token);
  }
  HRESULT STDMETHODCALLTYPE get_ResultFilePath(LPWSTR* path) override {
    *path = task_string(path_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_State(DownloadState* state) override {
    *state = state_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Cancel() override {
    record("Cancel download");
    state_ = DownloadState::Interrupted;
    return S_OK;
  }

  void set_path(const wchar_t* path) { path_ = path; }
  [[nodiscard]] const std::wstring& path() const { return path_; }
  bool write(const char* bytes, int size) {
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      return false;
    }
    DWORD written = 0;
    const bool done = WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) != FALSE &&
                      written == static_cast<DWORD>(size);
    CloseHandle(file);
    return done;
  }
  int change_state(DownloadState state) {
    state_ = state;
    return state_changed_.raise(this, static_cast<Unknown*>(nullptr)) ? 1 : 0;
  }

 private:
  std::wstring path_;
  DownloadState state_ = DownloadState::InProgress;
  EventSlot<ICoreWebView2StateChangedEventHandler> state_changed_{"StateChanged", 21};
};

// A flag of event arguments: what the engine sets is recorded.
HRESULT get_flag(BOOL flag, BOOL* value) {
  *value = flag;
  return S_OK;
}
HRESULT put_flag(const char* name, BOOL value, BOOL& flag) {
  record(std::string(name) + " " + std::to_string(value));
  flag = value;
  return S_OK;
}

class FakeDownloadStartingArgs final : public Fake<ICoreWebView2DownloadStartingEventArgs> {
 public:
  explicit FakeDownloadStartingArgs(ComPtr<FakeDownloadOperation> operation) : operation_(std::move(operation)) {}
  HRESULT STDMETHODCALLTYPE get_DownloadOperation(ICoreWebView2DownloadOperation** operation) override {
    operation_->AddRef();
    *operation = operation_.get();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* cancel) override { return get_flag(cancel_, cancel); }
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL cancel) override { return put_flag("put_Cancel", cancel, cancel_); }
  HRESULT STDMETHODCALLTYPE get_ResultFilePath(LPWSTR* path) override { return operation_->get_ResultFilePath(path); }
  HRESULT STDMETHODCALLTYPE put_ResultFilePath(LPCWSTR path) override {
    record("put_ResultFilePath " + utf8(path));
    operation_->set_path(path);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) override { return get_flag(handled_, handled); }
  HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) override { return put_flag("put_Handled", handled, handled_); }
  [[nodiscard]] BOOL cancel() const { return cancel_; }
  [[nodiscard]] BOOL handled() const { return handled_; }

 private:
  ComPtr<FakeDownloadOperation> operation_;
  BOOL cancel_ = FALSE;
  BOOL handled_ = FALSE;
};

class FakeWebView;
FakeWebView* g_webview = nullptr;  // the one whose events the tests raise
unsigned g_webview_serial = 0;

class FakeWebView final : public Fake<WebView4Stub> {
 public:
  FakeWebView() : settings_(ComPtr<ICoreWebView2Settings>::adopt(new FakeSettings)), serial_(++g_webview_serial) {
    g_webview = this;
  }
  ~FakeWebView() override {
    if (g_webview == this) {
      g_webview = nullptr;
    }
  }

  // Also the base version's; "downloads" fails makes it a runtime older
  // than downloads' events.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID requested, void** object) override {
    if (IsEqualGUID(requested, kIidUnknown) || IsEqualGUID(requested, ICoreWebView2::iid) ||
        (IsEqualGUID(requested, ICoreWebView2_4::iid) && !failing("downloads"))) {
      *object = static_cast<ICoreWebView2_4*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) override {
    record("get_Settings");
    settings_->AddRef();
    *settings = settings_.get();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override {
    record("Navigate " + utf8(uri));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR html) override {
    record("NavigateToString " + utf8(html));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reload() override {
    record("Reload");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler* handler,
                                                   EventRegistrationToken* token) override {
    return navigation_starting_.add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_NavigationStarting(EventRegistrationToken token) override {
    return navigation_starting_.remove(token);
  }
  HRESULT STDMETHODCALLTYPE add_NavigationCompleted(ICoreWebView2NavigationCompletedEventHandler* handler,
                                                    EventRegistrationToken* token) override {
    return navigation_completed_.add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(EventRegistrationToken token) override {
    return navigation_completed_.remove(token);
  }
  HRESULT STDMETHODCALLTYPE add_NewWindowRequested(ICoreWebView2NewWindowRequestedEventHandler* handler,
                                                   EventRegistrationToken* token) override {
    return new_window_.add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_NewWindowRequested(EventRegistrationToken token) override {
    return new_window_.remove(token);
  }
  HRESULT STDMETHODCALLTYPE add_PermissionRequested(ICoreWebView2PermissionRequestedEventHandler* handler,
                                                    EventRegistrationToken* token) override {
    return permission_.add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_PermissionRequested(EventRegistrationToken token) override {
    return permission_.remove(token);
  }
  HRESULT STDMETHODCALLTYPE add_ProcessFailed(ICoreWebView2ProcessFailedEventHandler* handler,
                                              EventRegistrationToken* token) override {
    return process_failed_.add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_ProcessFailed(EventRegistrationToken token) override {
    return process_failed_.remove(token);
  }
  // A script counts for new documents from the moment its id is handed
  // out: nothing promises that it does before.
  HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
      LPCWSTR script, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) override {
    const std::string text = utf8(script);
    record("AddScriptToExecuteOnDocumentCreated " + text);
    const std::wstring id = L"script-" + std::to_wstring(++scripts_);
    added_[id] = text;
    auto held = ComPtr<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler>::retain(handler);
    later([held, id, serial = serial_] {
      if (g_webview != nullptr && g_webview->serial_ == serial) {
        g_webview->script_in_effect(id);
      }
      held->Invoke(S_OK, id.c_str());
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR id) override {
    record("RemoveScriptToExecuteOnDocumentCreated " + utf8(id));
    added_.erase(id);
    in_effect_.erase(id);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR script,
                                          ICoreWebView2ExecuteScriptCompletedHandler* handler) override {
    record("ExecuteScript " + utf8(script));
    auto held = ComPtr<ICoreWebView2ExecuteScriptCompletedHandler>::retain(handler);
    later([held] {
      if (held) {
        held->Invoke(S_OK, L"null");
      }
    });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler* handler,
                                                   EventRegistrationToken* token) override {
    return message_.add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken token) override {
    return message_.remove(token);
  }

  HRESULT STDMETHODCALLTYPE add_DownloadStarting(ICoreWebView2DownloadStartingEventHandler* handler,
                                                 EventRegistrationToken* token) override {
    return download_starting_.add(handler, token);
  }
  HRESULT STDMETHODCALLTYPE remove_DownloadStarting(EventRegistrationToken token) override {
    return download_starting_.remove(token);
  }

  bool post(const wchar_t* text) {
    bool bridged = false;
    for (const auto& script : in_effect_) {
      if (script.second.find("postMessage") != std::string::npos) {
        if (!posts_with_receiver(script.second)) {
          record("postMessage rejected: called without its object");
          return false;
        }
        bridged = true;
      }
    }
    if (!bridged) {
      record("postMessage rejected: no bridge in the document");
      return false;
    }
    auto args = ComPtr<FakeMessageArgs>::adopt(new FakeMessageArgs(text));
    return message_.raise(this, args.get());
  }
  [[nodiscard]] int scripts_in_effect() const { return static_cast<int>(in_effect_.size()); }
  int new_window(const wchar_t* uri, bool user_initiated, int* handled) {
    auto args = ComPtr<FakeNewWindowArgs>::adopt(new FakeNewWindowArgs(uri, user_initiated));
    const bool raised = new_window_.raise(this, args.get());
    if (handled != nullptr) {
      *handled = args->handled();
    }
    return raised ? 1 : 0;
  }
  int navigation_starting(const wchar_t* uri, bool user_initiated, bool redirected, UINT64 id, int* cancel) {
    auto args =
        ComPtr<FakeNavigationStartingArgs>::adopt(new FakeNavigationStartingArgs(uri, user_initiated, redirected, id));
    const bool raised = navigation_starting_.raise(this, args.get());
    if (cancel != nullptr) {
      *cancel = args->cancel();
    }
    return raised ? 1 : 0;
  }
  int navigation_completed(bool success, WebErrorStatus status, UINT64 id) {
    auto args = ComPtr<FakeNavigationCompletedArgs>::adopt(new FakeNavigationCompletedArgs(success, status, id));
    return navigation_completed_.raise(this, args.get()) ? 1 : 0;
  }
  int process_failed(ProcessFailedKind kind) {
    auto args = ComPtr<FakeProcessFailedArgs>::adopt(new FakeProcessFailedArgs(kind));
    return process_failed_.raise(this, args.get()) ? 1 : 0;
  }
  int permission_requested(const wchar_t* uri, PermissionKind kind, int* state) {
    auto args = ComPtr<FakePermissionArgs>::adopt(new FakePermissionArgs(uri, kind));
    const bool raised = permission_.raise(this, args.get());
    if (state != nullptr) {
      *state = static_cast<int>(args->state());
    }
    return raised ? 1 : 0;
  }
  // A new download; its number, 0 when no handler is registered.
  int download_starting(const wchar_t* path, int* handled, int* cancel) {
    auto operation = ComPtr<FakeDownloadOperation>::adopt(new FakeDownloadOperation(path));
    auto args = ComPtr<FakeDownloadStartingArgs>::adopt(new FakeDownloadStartingArgs(operation));
    const bool raised = download_starting_.raise(this, args.get());
    if (handled != nullptr) {
      *handled = args->handled();
    }
    if (cancel != nullptr) {
      *cancel = args->cancel();
    }
    if (!raised) {
      return 0;
    }
    downloads_.push_back(operation);
    return static_cast<int>(downloads_.size());
  }
  [[nodiscard]] FakeDownloadOperation* download(int number) const {
    return number >= 1 && number <= static_cast<int>(downloads_.size())
               ? downloads_[static_cast<std::size_t>(number - 1)].get()
               : nullptr;
  }
  // Closing the controller drops the page and its handlers.
  void close() {
    message_.clear();
    navigation_starting_.clear();
    navigation_completed_.clear();
    new_window_.clear();
    permission_.clear();
    process_failed_.clear();
    download_starting_.clear();
  }

 private:
  ComPtr<ICoreWebView2Settings> settings_;
  EventSlot<ICoreWebView2WebMessageReceivedEventHandler> message_{"WebMessageReceived", 7};
  EventSlot<ICoreWebView2NavigationStartingEventHandler> navigation_starting_{"NavigationStarting", 11};
  EventSlot<ICoreWebView2NavigationCompletedEventHandler> navigation_completed_{"NavigationCompleted", 12};
  EventSlot<ICoreWebView2NewWindowRequestedEventHandler> new_window_{"NewWindowRequested", 13};
  EventSlot<ICoreWebView2PermissionRequestedEventHandler> permission_{"PermissionRequested", 14};
  EventSlot<ICoreWebView2ProcessFailedEventHandler> process_failed_{"ProcessFailed", 15};
  EventSlot<ICoreWebView2DownloadStartingEventHandler> download_starting_{"DownloadStarting", 16};
  std::vector<ComPtr<FakeDownloadOperation>> downloads_;
  void script_in_effect(const std::wstring& id) {
    const auto found = added_.find(id);
    if (found != added_.end()) {
      in_effect_[id] = found->second;
    }
  }

  int scripts_ = 0;
  unsigned serial_;
  // Document scripts by id: added and not removed, and of those the ones
  // whose id has been handed out.
  std::map<std::wstring, std::string> added_;
  std::map<std::wstring, std::string> in_effect_;
};

class FakeController final : public Fake<ControllerStub> {
 public:
  FakeController() : webview_(ComPtr<FakeWebView>::adopt(new FakeWebView)) {}

  HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL visible) override {
    record(std::string("put_IsVisible ") + (visible ? "1" : "0"));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override {
    record("put_Bounds " + std::to_string(bounds.left) + " " + std::to_string(bounds.top) + " " +
           std::to_string(bounds.right) + " " + std::to_string(bounds.bottom));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE MoveFocus(MoveFocusReason reason) override {
    record("MoveFocus " + std::to_string(static_cast<int>(reason)));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Close() override {
    record("Close");
    if (webview_) {
      webview_->close();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** webview) override {
    record("get_CoreWebView2");
    webview_->AddRef();
    *webview = webview_.get();
    return S_OK;
  }

 private:
  ComPtr<FakeWebView> webview_;
};

class FakeEnvironment final : public Fake<ICoreWebView2Environment> {
 public:
  HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
      HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) override {
    record("CreateCoreWebView2Controller " + std::to_string(reinterpret_cast<std::uintptr_t>(parent)));
    auto held = ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>::retain(handler);
    if (failing("controller")) {
      later([held] { held->Invoke(E_FAIL, nullptr); });
      return S_OK;
    }
    later([held] {
      auto controller = ComPtr<ICoreWebView2Controller>::adopt(new FakeController);
      held->Invoke(S_OK, controller.get());
    });
    return S_OK;
  }
};

}  // namespace

namespace {

HRESULT create_environment(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  if (failing("entry")) {
    return E_FAIL;
  }
  auto held = ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>::retain(handler);
  if (failing("environment")) {
    later([held] { held->Invoke(E_FAIL, nullptr); });
    return S_OK;
  }
  later([held] {
    auto environment = ComPtr<ICoreWebView2Environment>::adopt(new FakeEnvironment);
    held->Invoke(S_OK, environment.get());
  });
  return S_OK;
}

}  // namespace

// Both entries are declared here from their descriptions (see
// docs/webview2-abi.md), not from the engine's declarations, so that the
// tests compare the two: __stdcall, so the 32-bit build exports them as
// "name@<bytes of arguments>" too.
extern "C" __declspec(dllexport) HRESULT __stdcall CreateCoreWebView2EnvironmentWithOptions(
    LPCWSTR browser_folder, LPCWSTR user_data_folder, IUnknown* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  record("CreateCoreWebView2EnvironmentWithOptions " + utf8(browser_folder) + " " + utf8(user_data_folder) + " " +
         (options == nullptr ? "<null>" : "options"));
  return create_environment(handler);
}

// The installed runtime's library: whether to check the runtime type, the
// runtime type (0 installed, 1 a runtime shipped with the program), the
// user data folder, the options, the handler.
extern "C" __declspec(dllexport) HRESULT __stdcall CreateWebViewEnvironmentWithOptionsInternal(
    BOOL check_runtime_type, INT32 runtime_type, LPCWSTR user_data_folder, IUnknown* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  record("CreateWebViewEnvironmentWithOptionsInternal " + std::to_string(check_runtime_type) + " " +
         std::to_string(runtime_type) + " " + utf8(user_data_folder) + " " +
         (options == nullptr ? "<null>" : "options"));
  return create_environment(handler);
}

FAKE_RUNTIME_API int fake_runtime_log_size() {
  return static_cast<int>(g_log.size());
}

FAKE_RUNTIME_API const char* fake_runtime_log_entry(int index) {
  return index >= 0 && index < static_cast<int>(g_log.size()) ? g_log[static_cast<std::size_t>(index)].c_str()
                                                              : nullptr;
}

FAKE_RUNTIME_API void fake_runtime_clear_log() {
  g_log.clear();
}

FAKE_RUNTIME_API long fake_runtime_live_objects() {
  return g_live;
}

FAKE_RUNTIME_API int fake_runtime_post_message(const wchar_t* text) {
  return g_webview != nullptr && g_webview->post(text) ? 1 : 0;
}

FAKE_RUNTIME_API int fake_runtime_new_window(const wchar_t* uri, int user_initiated, int* handled) {
  return g_webview != nullptr ? g_webview->new_window(uri, user_initiated != 0, handled) : 0;
}

FAKE_RUNTIME_API int fake_runtime_navigation_starting(const wchar_t* uri, int user_initiated, int redirected,
                                                      unsigned long long id, int* cancel) {
  return g_webview != nullptr ? g_webview->navigation_starting(uri, user_initiated != 0, redirected != 0, id, cancel)
                              : 0;
}

FAKE_RUNTIME_API int fake_runtime_navigation_completed(int success, int status, unsigned long long id) {
  return g_webview != nullptr ? g_webview->navigation_completed(success != 0, static_cast<WebErrorStatus>(status), id)
                              : 0;
}

FAKE_RUNTIME_API int fake_runtime_process_failed(int kind) {
  return g_webview != nullptr ? g_webview->process_failed(static_cast<ProcessFailedKind>(kind)) : 0;
}

FAKE_RUNTIME_API int fake_runtime_permission_requested(const wchar_t* uri, int kind, int* state) {
  return g_webview != nullptr ? g_webview->permission_requested(uri, static_cast<PermissionKind>(kind), state) : 0;
}

FAKE_RUNTIME_API int fake_runtime_download_starting(const wchar_t* path, int* handled, int* cancel) {
  return g_webview != nullptr ? g_webview->download_starting(path, handled, cancel) : 0;
}

FAKE_RUNTIME_API int fake_runtime_download_path(int download, wchar_t* path, int size) {
  FakeDownloadOperation* operation = g_webview != nullptr ? g_webview->download(download) : nullptr;
  if (operation == nullptr || size <= static_cast<int>(operation->path().size())) {
    return 0;
  }
  CopyMemory(path, operation->path().c_str(), (operation->path().size() + 1) * sizeof(wchar_t));
  return 1;
}

FAKE_RUNTIME_API int fake_runtime_download_write(int download, const char* bytes, int size) {
  FakeDownloadOperation* operation = g_webview != nullptr ? g_webview->download(download) : nullptr;
  return operation != nullptr && operation->write(bytes, size) ? 1 : 0;
}

FAKE_RUNTIME_API int fake_runtime_download_state(int download, int state) {
  FakeDownloadOperation* operation = g_webview != nullptr ? g_webview->download(download) : nullptr;
  return operation != nullptr ? operation->change_state(static_cast<DownloadState>(state)) : 0;
}

FAKE_RUNTIME_API int fake_runtime_document_scripts() {
  return g_webview != nullptr ? g_webview->scripts_in_effect() : 0;
}

FAKE_RUNTIME_API void fake_runtime_fail(const char* step) {
  g_failing_step = step == nullptr ? "" : step;
}
