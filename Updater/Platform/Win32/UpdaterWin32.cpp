#include <memory>
#include <string>
#include <type_traits>

#include "Core/Strings.h"
#include "Core/WinApi.h"
#include "System/Files.h"
#include "UpdaterBackend.h"

namespace velto::updater::backend {

namespace {

// Each run tries a few fresh names; a name already there is never reused.
constexpr int kWorkDirectoryAttempts = 16;
constexpr char16_t kSilentSwitch[] = u" /S";

struct HandleCloser {
  void operator()(HANDLE handle) const noexcept {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
    }
  }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

const wchar_t* wide(const Text& text) noexcept {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

wchar_t* wide(Text& text) noexcept {
  return reinterpret_cast<wchar_t*>(text.data());
}

Text quoted(const Text& path) {
  return u"\"" + path + u"\"";
}

// Starts `program` with `command_line` (which names it first); the process
// handle, or none.
UniqueHandle start(const Text& program, Text command_line, const Text& directory) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  // CreateProcessW may write into the command line, hence the copy.
  if (!CreateProcessW(wide(program), wide(command_line), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                      directory.empty() ? nullptr : wide(directory), &startup, &started)) {
    return {};
  }
  const UniqueHandle thread(started.hThread);
  return UniqueHandle(started.hProcess);
}

}  // namespace

PackageFormat package_format() noexcept {
  return {PackageKind::kZip, ".exe", u"velto-setup.exe"};
}

bool wait_for_exit(std::uint32_t pid, int timeout_ms) noexcept {
  const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
  if (!process) {
    // No such process (any more); any other refusal means it is there.
    return GetLastError() == ERROR_INVALID_PARAMETER;
  }
  return WaitForSingleObject(process.get(), static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0;
}

std::optional<Text> make_work_directory() noexcept {
  try {
    const Text base = temp_directory();
    if (base.empty()) {
      return std::nullopt;
    }
    const Text stem = base + u"velto-update-" + Text(str_from_int(GetCurrentProcessId())) + u"-";
    for (int attempt = 0; attempt < kWorkDirectoryAttempts; ++attempt) {
      const Text path = stem + Text(str_from_int(static_cast<std::int64_t>(GetTickCount()) + attempt));
      if (CreateDirectoryW(wide(path), nullptr)) {
        return path + u"\\";
      }
    }
    return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

InstallOutcome install(const Text& installer, const Text& work_directory) noexcept {
  try {
    const UniqueHandle process = start(installer, quoted(installer) + kSilentSwitch, work_directory);
    if (!process) {
      return InstallOutcome::kFailed;
    }
    DWORD code = 1;
    if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.get(), &code)) {
      return InstallOutcome::kFailed;
    }
    return code == 0 ? InstallOutcome::kInstalled : InstallOutcome::kFailed;
  } catch (const std::exception&) {
    return InstallOutcome::kFailed;
  }
}

bool start_client(const Text& path) noexcept {
  try {
    return static_cast<bool>(start(path, quoted(path), {}));
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace velto::updater::backend
