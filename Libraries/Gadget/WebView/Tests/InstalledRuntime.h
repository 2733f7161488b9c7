#pragma once

// The installed runtime's registration for the current user, pointing at a
// fake runtime built into a folder beside the test program, for as long as
// the object lives.

#include <string>

#include "Core/WinApi.h"

namespace velto::webview::testing {

inline constexpr wchar_t kRuntimeLibrary[] = L"EmbeddedBrowserWebView.dll";

// The fake installs (see CMakeLists.txt), in the folder of the installed
// runtime's tests: the runtime at Runtime\1.2.3.4, one without its entry
// point at Damaged\5.6.7.8.
[[nodiscard]] std::wstring fake_installs_directory();

class InstalledRuntime {
 public:
  // The library is then <location>\<version>\EBWebView\<arch>\.
  InstalledRuntime(const std::wstring& location, const wchar_t* version);
  ~InstalledRuntime();
  InstalledRuntime(const InstalledRuntime&) = delete;
  InstalledRuntime& operator=(const InstalledRuntime&) = delete;

  // False when a runtime was registered already (it is left alone) or the
  // registration could not be written.
  [[nodiscard]] bool registered() const { return registered_; }

 private:
  bool registered_ = false;
};


}  // namespace velto::webview::testing
