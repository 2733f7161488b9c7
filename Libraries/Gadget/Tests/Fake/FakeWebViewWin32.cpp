#include "Core/WinApi.h"

#include <string>

#include "FakeWebViewInternal.h"
#include "InterfaceStubs.h"

namespace fake {

namespace abi = velto::webview::abi;

namespace {

std::string serial_of(const Instance* instance) {
  return std::to_string(instance->serial);
}

}  // namespace

// Nothing is queried through these objects.
template <class Stub>
struct Unqueried : Stub {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }

 protected:
  ~Unqueried() = default;
};

// The browser's interfaces as far as the gadget uses them. Every object
// knows its instance, for the log.
struct FakeSettings final : Unqueried<abi::SettingsStub> {
  explicit FakeSettings(Instance* instance) : owner(instance) {}
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
  ULONG STDMETHODCALLTYPE Release() override {
    log("settings_release " + serial_of(owner));
    return static_cast<ULONG>(--references);
  }
  HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL enabled) override {
    log("put_IsWebMessageEnabled " + serial_of(owner) + " " + std::to_string(enabled));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL enabled) override {
    log("put_AreDefaultScriptDialogsEnabled " + serial_of(owner) + " " + std::to_string(enabled));
    return S_OK;
  }
  Instance* owner;
  int references = 0;
};

struct FakeBrowser final : Unqueried<abi::WebViewStub> {
  FakeBrowser(Instance* instance, FakeSettings* browser_settings) : owner(instance), settings(browser_settings) {}
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
  HRESULT STDMETHODCALLTYPE get_Settings(abi::ICoreWebView2Settings** out) override {
    log("get_Settings " + serial_of(owner));
    settings->AddRef();
    *out = settings;
    return S_OK;
  }
  Instance* owner;
  FakeSettings* settings;
  int references = 0;
};

// The engine holds the controller; no counting needed.
struct FakeController final : Unqueried<abi::ControllerStub> {
  FakeController(Instance* instance, FakeBrowser* controller_browser) : owner(instance), browser(controller_browser) {}
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL visible) override {
    log("put_IsVisible " + serial_of(owner) + " " + std::to_string(visible));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CoreWebView2(abi::ICoreWebView2** out) override {
    log("get_CoreWebView2 " + serial_of(owner));
    browser->AddRef();
    *out = browser;
    return S_OK;
  }
  Instance* owner;
  FakeBrowser* browser;
};

struct PlatformParts {
  explicit PlatformParts(Instance* instance)
      : settings(instance), browser(instance, &settings), controller(instance, &browser) {}
  FakeSettings settings;
  FakeBrowser browser;
  FakeController controller;
};

// The widget stands in for the engine's "webview_widget" child: zero-sized
// at first, as the engine leaves it.
bool widget_create(Instance& instance, void* window) {
  const HWND parent = *static_cast<HWND*>(window);
  if (!parent || !IsWindow(parent)) {
    return false;
  }
  const HWND widget = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
  if (!widget) {
    return false;
  }
  instance.widget = widget;
  // Instances are never deleted, so neither are these.
  instance.platform = new PlatformParts(&instance);
  return true;
}

void widget_destroy(Instance& instance) {
  const auto widget = static_cast<HWND>(instance.widget);
  // Gone already when its host went first.
  if (widget && IsWindow(widget)) {
    DestroyWindow(widget);
  }
  instance.widget = nullptr;
}

void* native_handle(const Instance& instance, webview_native_handle_kind_t kind) {
  const auto widget = static_cast<HWND>(instance.widget);
  switch (kind) {
    case WEBVIEW_NATIVE_HANDLE_KIND_UI_WINDOW:
      return widget ? GetAncestor(widget, GA_ROOT) : nullptr;
    case WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET:
      return widget;
    case WEBVIEW_NATIVE_HANDLE_KIND_BROWSER_CONTROLLER:
      return instance.platform ? static_cast<abi::ICoreWebView2Controller*>(&instance.platform->controller) : nullptr;
  }
  return nullptr;
}

std::string environment_arguments() {
  const DWORD size = GetEnvironmentVariableA("WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", nullptr, 0);
  if (size == 0) {
    return {};
  }
  std::string value(size, '\0');
  const DWORD length = GetEnvironmentVariableA("WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", value.data(), size);
  value.resize(length < size ? length : 0);
  return value;
}

int browser_references(const Instance& instance) {
  return instance.platform ? instance.platform->browser.references : 0;
}

}  // namespace fake
