#include "InstalledRuntime.h"

#include "Core/ModuleFileName.h"

namespace velto::webview::testing {

namespace {

constexpr wchar_t kClientKey[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";

bool set_string(HKEY key, const wchar_t* name, const std::wstring& value) {
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) == ERROR_SUCCESS;
}

std::wstring program_directory() {
  const std::wstring text = module_file_name(nullptr);
  const std::size_t slash = text.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : text.substr(0, slash);
}

}  // namespace

std::wstring fake_installs_directory() {
  return program_directory() + L"\\..\\installed-runtime";
}

InstalledRuntime::InstalledRuntime(const std::wstring& location, const wchar_t* version) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kClientKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, &disposition) !=
      ERROR_SUCCESS) {
    return;
  }
  if (disposition != REG_CREATED_NEW_KEY) {
    RegCloseKey(key);
    return;
  }
  registered_ = set_string(key, L"pv", version) && set_string(key, L"location", location);
  RegCloseKey(key);
  if (!registered_) {
    RegDeleteKeyW(HKEY_CURRENT_USER, kClientKey);
  }
}

InstalledRuntime::~InstalledRuntime() {
  if (registered_) {
    RegDeleteKeyW(HKEY_CURRENT_USER, kClientKey);
  }
}

}  // namespace velto::webview::testing
