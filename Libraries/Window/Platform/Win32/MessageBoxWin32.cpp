#include <string>
#include <vector>

#include "Core/WinApi.h"
// After the Windows headers: timeBeginPeriod.
#include <mmsystem.h>
#include "WindowInternal.h"

namespace velto::platform {
namespace {

struct CandidateSearch {
  std::vector<ModalCandidate>* out;
  DWORD thread;
  HWND foreground;
};

// Called by EnumWindows: nothing may unwind into it (see window_procedure).
BOOL CALLBACK collect_candidate(HWND window, LPARAM context) noexcept {
  auto& search = *reinterpret_cast<CandidateSearch*>(context);
  if (GetWindowThreadProcessId(window, nullptr) != search.thread || !IsWindowVisible(window)) {
    return TRUE;
  }
  ModalCandidate candidate;
  candidate.window = window;
  candidate.topmost = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  candidate.foreground = window == search.foreground;
  candidate.enabled = IsWindowEnabled(window) != FALSE;
  try {
    search.out->push_back(candidate);
  } catch (...) {
    // Out of memory: the guard keeps what it found so far.
    return FALSE;
  }
  return TRUE;
}

std::wstring wide(TextView text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

}  // namespace

NativeWindow message_box_owner() {
  HWND foreground = GetForegroundWindow();
  DWORD process = 0;
  if (foreground && GetWindowThreadProcessId(foreground, &process) && process == GetCurrentProcessId()) {
    return foreground;
  }
  return nullptr;
}

void modal_candidates(std::vector<ModalCandidate>& out) {
  CandidateSearch search{&out, GetCurrentThreadId(), GetForegroundWindow()};
  EnumWindows(collect_candidate, reinterpret_cast<LPARAM>(&search));
}

void modal_set_enabled(NativeWindow window, bool enabled) {
  EnableWindow(static_cast<HWND>(window), enabled ? TRUE : FALSE);
}

void modal_set_topmost(NativeWindow window, bool topmost) {
  SetWindowPos(static_cast<HWND>(window), topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

int message_box_show(NativeWindow owner, TextView title, TextView text, std::uint32_t flags) {
  // Both must end in NUL, which a view does not promise.
  const std::wstring title_text = wide(title);
  const std::wstring body_text = wide(text);
  return MessageBoxW(static_cast<HWND>(owner), body_text.c_str(), title_text.c_str(), flags);
}

void timer_resolution_raise() {
  timeBeginPeriod(1);
}

void sleep_ms(int milliseconds) {
  Sleep(static_cast<DWORD>(milliseconds));
}

}  // namespace velto::platform
