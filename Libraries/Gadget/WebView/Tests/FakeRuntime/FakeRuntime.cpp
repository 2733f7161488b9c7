// A stand-in for the browser runtime's loader library: it creates objects
// that implement the interfaces the engine calls, answers asynchronously
// through the thread's message queue as the real runtime does, and records
// every call.

#define FAKE_RUNTIME_BUILD
#include "FakeRuntime.h"

#include <functional>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "InterfaceStubs.h"

namespace {

using namespace velto::webview;
using namespace velto::webview::abi;

std::vector<std::string> g_log;
long g_live = 0;
std::string g_failing_step;

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

class FakeWebView;
FakeWebView* g_webview = nullptr;  // the one whose message handler the tests drive

class FakeWebView final : public Fake<WebViewStub> {
 public:
  FakeWebView() : settings_(ComPtr<ICoreWebView2Settings>::adopt(new FakeSettings)) { g_webview = this; }
  ~FakeWebView() override {
    if (g_webview == this) {
      g_webview = nullptr;
    }
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
  HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(
      LPCWSTR script, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) override {
    record("AddScriptToExecuteOnDocumentCreated " + utf8(script));
    const std::wstring id = L"script-" + std::to_wstring(++scripts_);
    auto held = ComPtr<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler>::retain(handler);
    later([held, id] { held->Invoke(S_OK, id.c_str()); });
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR id) override {
    record("RemoveScriptToExecuteOnDocumentCreated " + utf8(id));
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
    record("add_WebMessageReceived");
    message_handler_ = ComPtr<ICoreWebView2WebMessageReceivedEventHandler>::retain(handler);
    token->value = 7;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken token) override {
    record("remove_WebMessageReceived " + std::to_string(token.value));
    message_handler_.reset();
    return S_OK;
  }

  bool post(const wchar_t* text) {
    if (!message_handler_) {
      return false;
    }
    auto args = ComPtr<ICoreWebView2WebMessageReceivedEventArgs>::adopt(new FakeMessageArgs(text));
    message_handler_->Invoke(this, args.get());
    return true;
  }
  // Closing the controller drops the page and its handlers.
  void close() { message_handler_.reset(); }

 private:
  ComPtr<ICoreWebView2Settings> settings_;
  ComPtr<ICoreWebView2WebMessageReceivedEventHandler> message_handler_;
  int scripts_ = 0;
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
    if (g_failing_step == "controller") {
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

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    CreateCoreWebView2EnvironmentWithOptions(LPCWSTR browser_folder, LPCWSTR user_data_folder, Unknown* options,
                                             ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  record("CreateCoreWebView2EnvironmentWithOptions " + utf8(browser_folder) + " " + utf8(user_data_folder) + " " +
         (options == nullptr ? "<null>" : "options"));
  auto held = ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>::retain(handler);
  if (g_failing_step == "environment") {
    later([held] { held->Invoke(E_FAIL, nullptr); });
    return S_OK;
  }
  later([held] {
    auto environment = ComPtr<ICoreWebView2Environment>::adopt(new FakeEnvironment);
    held->Invoke(S_OK, environment.get());
  });
  return S_OK;
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

FAKE_RUNTIME_API void fake_runtime_fail(const char* step) {
  g_failing_step = step == nullptr ? "" : step;
}
