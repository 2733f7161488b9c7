// One client per app data directory on Windows: a named mutex in the
// session's namespace, which the system removes with the last process that
// has it open however that process ends, and a small named mapping in which
// the holder publishes its process id so that a later start raises the
// holder's window and nobody else's.
#include "Core/WinApi.h"

#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>

#include "Application.h"
#include "Platform.h"

namespace velto::app::platform {

namespace {

// Top-level windows of the main window's class looked at, at most.
constexpr int kMaxCandidates = 256;
constexpr int kTitleCapacity = 256;
// The window library names the class of window n "WindowClass_n".
static_assert(kMainWindow == 0);
constexpr wchar_t kMainWindowClass[] = L"WindowClass_0";

struct HandleCloser {
  void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

struct ViewUnmapper {
  void operator()(void* view) const noexcept { UnmapViewOfFile(view); }
};
using UniqueView = std::unique_ptr<void, ViewUnmapper>;

// What the holder keeps open for the rest of its life.
struct Holder {
  UniqueHandle mutex;
  UniqueHandle process_id_mapping;
};

Holder& holder() {
  static Holder state;
  return state;
}

const wchar_t* wide(const Text& text) noexcept {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

Text kernel_name(TextView name, TextView suffix) {
  return u"Local\\" + Text(name) + Text(suffix);
}

void publish_process_id(TextView name) {
  UniqueHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(DWORD),
                                          wide(kernel_name(name, u"-process"))));
  if (!mapping) {
    return;
  }
  const UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, sizeof(DWORD)));
  if (!view) {
    return;
  }
  const DWORD id = GetCurrentProcessId();
  std::memcpy(view.get(), &id, sizeof id);
  holder().process_id_mapping = std::move(mapping);
}

// 0 while the holder has not published it yet.
DWORD holder_process_id(TextView name) {
  const UniqueHandle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, wide(kernel_name(name, u"-process"))));
  if (!mapping) {
    return 0;
  }
  const UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, sizeof(DWORD)));
  DWORD id = 0;
  if (view) {
    std::memcpy(&id, view.get(), sizeof id);
  }
  return id;
}

bool has_main_title(HWND window) {
  // Another process's caption is read without sending it a message, so a
  // holder that does not answer cannot stop this start.
  wchar_t title[kTitleCapacity] = {};
  const int length = GetWindowTextW(window, title, kTitleCapacity);
  const TextView prefix(kDefaultTitle);
  return length >= static_cast<int>(prefix.size()) &&
         TextView(reinterpret_cast<const char16_t*>(title), prefix.size()) == prefix;
}

}  // namespace

bool instance_lock(TextView name) {
  UniqueHandle mutex(CreateMutexW(nullptr, FALSE, wide(kernel_name(name, u""))));
  const DWORD error = GetLastError();
  if (!mutex) {
    // Access denied: it exists, made by a process this one may not open.
    // Anything else: running twice beats not running at all.
    return error != ERROR_ACCESS_DENIED;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    return false;
  }
  holder().mutex = std::move(mutex);
  publish_process_id(name);
  return true;
}

void instance_show_holder(TextView name) {
  const DWORD process = holder_process_id(name);
  if (process == 0) {
    return;
  }
  HWND window = nullptr;
  for (int i = 0; i < kMaxCandidates; ++i) {
    window = FindWindowExW(nullptr, window, kMainWindowClass, nullptr);
    if (window == nullptr) {
      return;
    }
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == process && has_main_title(window)) {
      window_bring_forward(window);
      return;
    }
  }
}

void window_bring_forward(void* window) {
  const auto handle = static_cast<HWND>(window);
  if (IsIconic(handle)) {
    ShowWindow(handle, SW_RESTORE);
  }
  SetForegroundWindow(handle);
}

}  // namespace velto::app::platform
