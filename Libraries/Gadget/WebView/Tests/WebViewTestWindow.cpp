#include "WebViewTestWindow.h"

namespace velto::webview::testing {

namespace {
constexpr wchar_t kParentClass[] = L"velto_webview_test_parent";

BOOL CALLBACK collect_child(HWND child, LPARAM list) noexcept {
  try {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
  } catch (...) {
    return FALSE;  // nothing may unwind through EnumChildWindows
  }
  return TRUE;
}
}  // namespace

ParentWindow::ParentWindow() {
  WNDCLASSW info{};
  info.lpfnWndProc = DefWindowProcW;
  info.hInstance = GetModuleHandleW(nullptr);
  info.lpszClassName = kParentClass;
  RegisterClassW(&info);
  handle_ = CreateWindowExW(0, kParentClass, L"webview test", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 10, 10, 400, 300,
                            nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

ParentWindow::~ParentWindow() {
  if (handle_ != nullptr) {
    DestroyWindow(handle_);
  }
}

std::vector<HWND> ParentWindow::children() const {
  std::vector<HWND> list;
  EnumChildWindows(handle_, collect_child, reinterpret_cast<LPARAM>(&list));
  return list;
}

}  // namespace velto::webview::testing
