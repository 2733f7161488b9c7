#include "WebView2Runtime.h"

#include <array>
#include <optional>
#include <string_view>

#include <shlobj.h>

#include "Core/ModuleFileName.h"

namespace velto::webview {

namespace {

constexpr wchar_t kLoaderName[] = L"WebView2Loader.dll";
constexpr char kLoaderExport[] = "CreateCoreWebView2EnvironmentWithOptions";
constexpr char kInstalledExport[] = "CreateWebViewEnvironmentWithOptionsInternal";
// The Evergreen runtime's client registration.
constexpr wchar_t kClientKey[] = L"Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
// The installed runtime's value for "the runtime itself" as opposed to a
// browser channel.
constexpr int kInstalledRuntimeType = 0;

#if defined(_M_ARM64) || defined(__aarch64__)
constexpr wchar_t kArchitecture[] = L"arm64";
#elif defined(_WIN64)
constexpr wchar_t kArchitecture[] = L"x64";
#else
constexpr wchar_t kArchitecture[] = L"x86";
#endif

std::wstring directory_of(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::optional<std::wstring> registry_string(HKEY root, const std::wstring& key, const wchar_t* name) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::optional<std::wstring> result;
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(opened, name, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS && type == REG_SZ && bytes > 0) {
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes) ==
        ERROR_SUCCESS) {
      // The stored text need not be terminated; cut at the first NUL.
      value.resize(std::wstring_view(value.c_str()).size());
      result = std::move(value);
    }
  }
  RegCloseKey(opened);
  return result;
}

// The installed runtime's library, from its registration: machine-wide
// first, then per user; both the redirected and the plain software key.
std::wstring installed_runtime_library() {
  const std::array<HKEY, 2> roots = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
  const std::array<std::wstring, 2> keys = {std::wstring(L"SOFTWARE\\WOW6432Node\\") + kClientKey,
                                            std::wstring(L"SOFTWARE\\") + kClientKey};
  for (HKEY root : roots) {
    for (const std::wstring& key : keys) {
      const std::optional<std::wstring> version = registry_string(root, key, L"pv");
      const std::optional<std::wstring> location = registry_string(root, key, L"location");
      // An uninstalled runtime leaves "0.0.0.0" behind.
      if (!version || !location || version->empty() || *version == L"0.0.0.0" || location->empty()) {
        continue;
      }
      std::wstring library =
          *location + L"\\" + *version + L"\\EBWebView\\" + kArchitecture + L"\\EmbeddedBrowserWebView.dll";
      if (GetFileAttributesW(library.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return library;
      }
    }
  }
  return {};
}

// Loads `path` and resolves its entry point `name`; the FARPROC cast is how
// GetProcAddress is meant to be used. A library with the entry point is
// pinned (FreeLibrary never unloads it) and its reference kept; one without
// is unloaded again. Null when either step fails.
template <class Function>
Function load_entry_point(const std::wstring& path, const char* name) {
  Module library(LoadLibraryW(path.c_str()));
  if (!library) {
    return nullptr;
  }
  const auto entry = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library.get(), name)));
  if (entry == nullptr) {
    return nullptr;
  }
  HMODULE pinned = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(entry)), &pinned);
  static_cast<void>(library.release());
  return entry;
}

}  // namespace

HRESULT Runtime::create_environment(const std::wstring& user_data_folder,
                                    abi::ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) const {
  const wchar_t* folder = user_data_folder.empty() ? nullptr : user_data_folder.c_str();
  if (loader_entry != nullptr) {
    return loader_entry(nullptr, folder, nullptr, handler);
  }
  if (installed_entry != nullptr) {
    return installed_entry(TRUE, kInstalledRuntimeType, folder, nullptr, handler);
  }
  return E_FAIL;
}

Runtime find_runtime() {
  Runtime runtime;
  const std::wstring program_directory = directory_of(module_file_name(nullptr));
  if (!program_directory.empty()) {
    const std::wstring loader = program_directory + L"\\" + kLoaderName;
    if (GetFileAttributesW(loader.c_str()) != INVALID_FILE_ATTRIBUTES) {
      runtime.loader_entry = load_entry_point<abi::CreateEnvironmentWithOptionsFn>(loader, kLoaderExport);
      if (runtime.loader_entry != nullptr) {
        return runtime;
      }
    }
  }
  const std::wstring installed = installed_runtime_library();
  if (!installed.empty()) {
    runtime.installed_entry = load_entry_point<abi::CreateEnvironmentInternalFn>(installed, kInstalledExport);
  }
  return runtime;
}

std::wstring default_user_data_folder() {
  std::wstring folder(MAX_PATH, L'\0');
  if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder.data()))) {
    folder.resize(std::wstring_view(folder.c_str()).size());
  } else {
    const DWORD length = GetEnvironmentVariableW(L"APPDATA", folder.data(), static_cast<DWORD>(folder.size()));
    folder.resize(length < folder.size() ? length : 0);
  }
  const std::wstring program = module_file_name(nullptr);
  const std::size_t slash = program.find_last_of(L"\\/");
  const std::wstring name = slash == std::wstring::npos ? program : program.substr(slash + 1);
  if (folder.empty() || name.empty()) {
    return {};
  }
  return folder + L"\\" + name;
}

}  // namespace velto::webview
