#include "Core/WinApi.h"

#include <commctrl.h>
#include <objbase.h>

#include <array>

#include "GadgetInternal.h"
#include "GadgetWin32.h"
#include "WebView/WebView2Abi.h"
#include "Window/Window.h"

namespace velto {

LRESULT CALLBACK gadget_window_proc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) noexcept {
  const ObjectNumber number = GetWindowLongPtrW(window, GWLP_ID);
  // -1: not (or no longer) a gadget; the id of a host before registration.
  if (number == -1) {
    return DefWindowProcW(window, message, w_param, l_param);
  }
  Registry<GadgetRecord>* gadgets = gadget_state().registry;
  const GadgetRecord* record = gadgets ? registry_get(*gadgets, number) : nullptr;
  if (!record || record->handle != window) {
    return DefWindowProcW(window, message, w_param, l_param);
  }
  const auto previous = reinterpret_cast<WNDPROC>(record->previous_procedure);
  const LRESULT result = CallWindowProcW(previous, window, message, w_param, l_param);
  if (message == WM_NCDESTROY) {
    try {
      gadget_host_destroyed(number);
    } catch (...) {
      // Nothing may unwind into the system's code (see window_procedure).
    }
  }
  return result;
}

}  // namespace velto

namespace velto::platform {

namespace {

constexpr wchar_t kHostClass[] = L"QuillWebView";
constexpr wchar_t kGadgetIdProperty[] = L"QX_ID";
constexpr DWORD kTempPathUnits = 260;

HINSTANCE module_instance() noexcept {
  return GetModuleHandleW(nullptr);
}

}  // namespace

void* default_gadget_font() {
  HGDIOBJ font = GetStockObject(DEFAULT_GUI_FONT);
  // The metrics record without its last field, so that the call also
  // succeeds on systems that predate it.
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = 500;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0)) {
    if (HFONT message_font = CreateFontIndirectW(&metrics.lfMessageFont)) {
      font = message_font;
    }
  }
  return font;
}

void common_controls_init() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = 8;
  controls.dwICC = 0x0B48;
  InitCommonControlsEx(&controls);
}

void com_init() {
  static_cast<void>(CoInitialize(nullptr));
}

void gadget_destroy_host(void* host) {
  DestroyWindow(static_cast<HWND>(host));
}

void host_class_register() {
  WNDCLASSEXW host_class{};
  host_class.cbSize = sizeof(host_class);
  host_class.style = CS_HREDRAW | CS_VREDRAW;
  host_class.lpfnWndProc = DefWindowProcW;
  host_class.hInstance = module_instance();
  host_class.lpszClassName = kHostClass;
  // A failure shows as a failing CreateWindowExW later.
  RegisterClassExW(&host_class);
}

Text browser_temp_directory() {
  std::array<wchar_t, kTempPathUnits> path{};
  const DWORD length = GetTempPathW(kTempPathUnits, path.data());
  if (length == 0 || length >= kTempPathUnits) {
    return {};
  }
  return Text(reinterpret_cast<const char16_t*>(path.data()), length);
}

TextView cache_directory_suffix() noexcept {
  // The temporary path already ends in a backslash, so the switch has two
  // before the folder name, as it has always been written; the browser
  // reads them as one separator.
  return u"\\WebView2_Cache";
}

void* host_create(void* container, int x, int y, int width, int height) {
  return CreateWindowExW(0, kHostClass, L"", WS_CHILD | WS_VISIBLE, x, y, width, height, static_cast<HWND>(container),
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(-1)), module_instance(), nullptr);
}

// The engine hands out the controller without a reference; get_CoreWebView2
// adds the one the gadget keeps until browser_release.
void* browser_open(void* controller) {
  webview::abi::ICoreWebView2* browser = nullptr;
  if (static_cast<webview::abi::ICoreWebView2Controller*>(controller)->get_CoreWebView2(&browser) != S_OK) {
    return nullptr;
  }
  return browser;
}

void browser_release(void* browser) noexcept {
  if (browser) {
    static_cast<webview::abi::ICoreWebView2*>(browser)->Release();
  }
}

void browser_settings_apply(void* browser) {
  webview::abi::ICoreWebView2Settings* settings = nullptr;
  if (static_cast<webview::abi::ICoreWebView2*>(browser)->get_Settings(&settings) != S_OK || !settings) {
    return;
  }
  settings->put_AreDefaultScriptDialogsEnabled(TRUE);
  settings->put_IsWebMessageEnabled(TRUE);
  settings->Release();
}

void browser_show(void* controller) {
  static_cast<webview::abi::ICoreWebView2Controller*>(controller)->put_IsVisible(TRUE);
}

void host_attach(ObjectNumber number, GadgetRecord& record) {
  const auto host = static_cast<HWND>(record.handle);
  record.previous_procedure =
      reinterpret_cast<void*>(SetWindowLongPtrW(host, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&gadget_window_proc)));
  SetWindowLongPtrW(host, GWLP_ID, number);
  SetPropW(host, kGadgetIdProperty, reinterpret_cast<HANDLE>(number));
  SendMessageW(host, WM_SETFONT, reinterpret_cast<WPARAM>(gadget_container_font()), TRUE);
}

void host_detach(void* host) {
  const auto window = static_cast<HWND>(host);
  RemovePropW(window, kGadgetIdProperty);
  SetWindowLongPtrW(window, GWLP_ID, -1);
}

Rect host_geometry(void* host) {
  const auto window = static_cast<HWND>(host);
  RECT rect{};
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void host_move(void* host, int x, int y, int width, int height) {
  const auto window = static_cast<HWND>(host);
  // Repainted: the parent's area the host leaves would keep its old picture.
  MoveWindow(window, x, y, width, height, TRUE);
  InvalidateRect(window, nullptr, FALSE);
}

void widget_fit(void* widget) {
  const auto window = static_cast<HWND>(widget);
  RECT client{};
  // Without the host's size the widget stays as it is rather than 0 x 0.
  if (!GetClientRect(GetParent(window), &client)) {
    return;
  }
  MoveWindow(window, client.left, client.top, client.right - client.left, client.bottom - client.top, TRUE);
}

}  // namespace velto::platform
