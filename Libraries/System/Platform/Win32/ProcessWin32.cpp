// Windows backend of the process library.
#include <memory>
#include <type_traits>

#include "Core/ModuleFileName.h"
#include "Core/WinApi.h"

#include <shellapi.h>

#include "CommandLine.h"
#include "ProcessInternal.h"

namespace velto::platform {

namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const noexcept {
    if (handle && handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
    }
  }
};
using unique_handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// Shell fallback: keep the process handle to close it ourselves, finish
// before returning, and never show an error dialog.
constexpr ULONG kShellMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
static_assert(kShellMask == 0x540);

// Runtime text and Windows text are both UTF-16.
const wchar_t* wide(const Text& text) noexcept {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

wchar_t* wide(Text& text) noexcept {
  return reinterpret_cast<wchar_t*>(text.data());
}

// NULL for an empty text, for the arguments where empty means "none".
const wchar_t* wide_or_null(const Text& text) noexcept {
  return text.empty() ? nullptr : wide(text);
}

}  // namespace

Text executable_path() {
  const std::wstring path = module_file_name(nullptr);
  return Text(reinterpret_cast<const char16_t*>(path.data()), path.size());
}

bool start_program(Text& command_line, TextView working_directory) {
  const Text directory(working_directory);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started{};
  // CreateProcessW may write into the command line, hence the mutable copy.
  if (!CreateProcessW(nullptr, wide(command_line), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                      wide_or_null(directory), &startup, &started)) {
    return false;
  }
  // The program runs on by itself; nothing is kept.
  unique_handle thread(started.hThread);
  unique_handle process(started.hProcess);
  return true;
}

bool shell_open(TextView program, TextView parameters, TextView working_directory) {
  const Text file(program);
  const Text arguments(parameters);
  const Text directory(process::shell_directory(program, working_directory));
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = kShellMask;
  info.lpVerb = nullptr;
  info.lpFile = wide(file);
  info.lpParameters = wide(arguments);
  info.lpDirectory = wide_or_null(directory);
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info)) {
    return false;
  }
  unique_handle process(info.hProcess);
  return true;
}

Text environment_read(TextView name) {
  const Text key(name);
  DWORD size = GetEnvironmentVariableW(wide(key), nullptr, 0);
  // The value may change between asking its size and reading it (another
  // thread); a few rounds settle that.
  for (int attempt = 0; attempt < 4 && size > 0; ++attempt) {
    Text value(size - 1, u'\0');
    const DWORD copied = GetEnvironmentVariableW(wide(key), wide(value), size);
    if (copied < size) {
      value.resize(copied);
      return value;
    }
    size = copied;
  }
  return {};
}

void environment_write(TextView name, TextView value) {
  const Text key(name);
  const Text text(value);
  SetEnvironmentVariableW(wide(key), wide(text));
}

void close_process_handle(std::intptr_t handle) noexcept {
  HandleCloser{}(reinterpret_cast<HANDLE>(handle));
}

}  // namespace velto::platform
