#pragma once

// Finding the browser runtime: the one place that loads its libraries and
// resolves their entry points.

#include <string>
#include <utility>

#include "WebView/WebView2Abi.h"

namespace velto::webview {

// An owned library handle.
class Module {
 public:
  Module() noexcept = default;
  explicit Module(HMODULE handle) noexcept : handle_(handle) {}
  Module(Module&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Module& operator=(Module&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  ~Module() { reset(); }

  void reset() noexcept {
    if (HMODULE handle = std::exchange(handle_, nullptr)) {
      FreeLibrary(handle);
    }
  }
  [[nodiscard]] HMODULE get() const noexcept { return handle_; }
  // Gives up ownership: the library stays loaded.
  [[nodiscard]] HMODULE release() noexcept { return std::exchange(handle_, nullptr); }
  explicit operator bool() const noexcept { return handle_ != nullptr; }

 private:
  HMODULE handle_ = nullptr;
};

// A loaded runtime: the entry point that creates an environment. At most
// one of the two functions is set. Their library is never unloaded (see
// find_runtime).
struct Runtime {
  abi::CreateEnvironmentWithOptionsFn loader_entry = nullptr;
  abi::CreateEnvironmentInternalFn installed_entry = nullptr;

  explicit operator bool() const noexcept { return loader_entry != nullptr || installed_entry != nullptr; }

  // Starts creating an environment for `user_data_folder`; the handler is
  // called with the result (possibly before this returns).
  HRESULT create_environment(const std::wstring& user_data_folder,
                             abi::ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) const;
};

// The loader library beside the executable when there is one, otherwise the
// installed runtime's own library; an empty Runtime when neither exists or
// has its entry point. A library whose entry point was found stays loaded
// until the process ends: the runtime may still own windows and threads in
// the process when the last engine goes, and their code must stay.
[[nodiscard]] Runtime find_runtime();

// Where the browser keeps its profile: the roaming application-data
// directory joined with the program's file name.
[[nodiscard]] std::wstring default_user_data_folder();

}  // namespace velto::webview
