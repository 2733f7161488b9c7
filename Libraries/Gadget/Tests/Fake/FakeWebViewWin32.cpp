#include "Core/WinApi.h"

#include <string>

#include "BrowserAbi.h"
#include "FakeWebViewInternal.h"

namespace fake {

namespace abi = velto::browser_abi;

// The browser's interfaces as far as the gadget uses them. Every object
// knows its instance, for the log.
struct FakeSettings {
  abi::Settings base;
  Instance* owner;
  int references;
};
struct FakeBrowser {
  abi::Browser base;
  Instance* owner;
  int references;
};
struct FakeController {
  abi::Controller base;
  Instance* owner;
};

struct PlatformParts {
  FakeController controller;
  FakeBrowser browser;
  FakeSettings settings;
};

namespace {

std::string serial_of(const Instance* instance) {
  return std::to_string(instance->serial);
}

template <class Self>
HRESULT STDMETHODCALLTYPE query_nothing(Self*, REFIID, void** object) {
  *object = nullptr;
  return E_NOINTERFACE;
}

// ---- Settings
ULONG STDMETHODCALLTYPE settings_add_ref(abi::Settings* self) {
  auto* settings = reinterpret_cast<FakeSettings*>(self);
  return static_cast<ULONG>(++settings->references);
}
ULONG STDMETHODCALLTYPE settings_release(abi::Settings* self) {
  auto* settings = reinterpret_cast<FakeSettings*>(self);
  log("settings_release " + serial_of(settings->owner));
  return static_cast<ULONG>(--settings->references);
}
HRESULT STDMETHODCALLTYPE put_web_message(abi::Settings* self, BOOL enabled) {
  log("put_IsWebMessageEnabled " + serial_of(reinterpret_cast<FakeSettings*>(self)->owner) + " " +
      std::to_string(enabled));
  return S_OK;
}
HRESULT STDMETHODCALLTYPE put_script_dialogs(abi::Settings* self, BOOL enabled) {
  log("put_AreDefaultScriptDialogsEnabled " + serial_of(reinterpret_cast<FakeSettings*>(self)->owner) + " " +
      std::to_string(enabled));
  return S_OK;
}
const abi::SettingsTable kSettingsTable{
    {query_nothing<abi::Settings>, settings_add_ref, settings_release},
    {},
    put_web_message,
    nullptr,
    put_script_dialogs,
};

// ---- Browser
ULONG STDMETHODCALLTYPE browser_add_ref(abi::Browser* self) {
  return static_cast<ULONG>(++reinterpret_cast<FakeBrowser*>(self)->references);
}
ULONG STDMETHODCALLTYPE browser_release(abi::Browser* self) {
  return static_cast<ULONG>(--reinterpret_cast<FakeBrowser*>(self)->references);
}
HRESULT STDMETHODCALLTYPE get_settings(abi::Browser* self, abi::Settings** out) {
  Instance* owner = reinterpret_cast<FakeBrowser*>(self)->owner;
  log("get_Settings " + serial_of(owner));
  FakeSettings& settings = owner->platform->settings;
  ++settings.references;
  *out = &settings.base;
  return S_OK;
}
const abi::BrowserTable kBrowserTable{
    {query_nothing<abi::Browser>, browser_add_ref, browser_release},
    get_settings,
};

// ---- Controller (the engine holds it; no counting needed)
ULONG STDMETHODCALLTYPE controller_count(abi::Controller*) {
  return 1;
}
HRESULT STDMETHODCALLTYPE put_visible(abi::Controller* self, BOOL visible) {
  Instance* owner = reinterpret_cast<FakeController*>(self)->owner;
  log("put_IsVisible " + serial_of(owner) + " " + std::to_string(visible));
  return S_OK;
}
HRESULT STDMETHODCALLTYPE get_browser(abi::Controller* self, abi::Browser** out) {
  Instance* owner = reinterpret_cast<FakeController*>(self)->owner;
  log("get_CoreWebView2 " + serial_of(owner));
  FakeBrowser& browser = owner->platform->browser;
  ++browser.references;
  *out = &browser.base;
  return S_OK;
}
const abi::ControllerTable kControllerTable{
    {query_nothing<abi::Controller>, controller_count, controller_count}, nullptr, put_visible, {}, get_browser,
};

}  // namespace

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
  instance.platform = new PlatformParts{
      {{&kControllerTable}, &instance}, {{&kBrowserTable}, &instance, 0}, {{&kSettingsTable}, &instance, 0}};
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
      return instance.platform ? &instance.platform->controller.base : nullptr;
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
