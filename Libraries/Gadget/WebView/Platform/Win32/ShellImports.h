#pragma once

// The shell calls of the engine, in one place so that the tests can watch
// them without anything being launched and give downloads a folder of
// their own: URLs and "show in folder" to the desktop, and where the user's
// Downloads folder is.

#include "Core/WinApi.h"

#include <shellapi.h>
#include <shlobj.h>

namespace velto::webview {

struct ShellImports {
  BOOL(WINAPI* execute)(SHELLEXECUTEINFOW* info);
  HRESULT(WINAPI* known_folder)(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR* path);
};

[[nodiscard]] ShellImports& shell_imports();

}  // namespace velto::webview
