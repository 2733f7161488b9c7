#pragma once

// The shell call that gives a URL to the desktop's default handler, in one
// place so that the tests can watch it without anything being launched.

#include "Core/WinApi.h"

#include <shellapi.h>

namespace velto::webview {

struct ShellImports {
  BOOL(WINAPI* execute)(SHELLEXECUTEINFOW* info);
};

[[nodiscard]] ShellImports& shell_imports();

}  // namespace velto::webview
