#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "WindowInternal.h"

namespace velto {
namespace {

// Longest text the platform's box takes; a longer one is cut to one less.
constexpr std::size_t kTextLimit = 65535;

// One window a message box put aside.
struct GuardEntry {
  std::thread::id thread;
  NativeWindow window = nullptr;
  bool was_topmost = false;
  bool disabled_by_guard = false;
};

struct GuardList {
  std::mutex lock;  // boxes of other threads may come and go meanwhile
  std::vector<GuardEntry> entries;
};

GuardList& guard_list() {
  static GuardList list;
  return list;
}

void put_windows_aside() {
  std::vector<platform::ModalCandidate> candidates;
  platform::modal_candidates(candidates);
  const std::thread::id self = std::this_thread::get_id();
  GuardList& list = guard_list();
  const std::lock_guard<std::mutex> hold(list.lock);
  for (const platform::ModalCandidate& candidate : candidates) {
    GuardEntry entry{self, candidate.window, candidate.topmost, false};
    if (!candidate.foreground && candidate.enabled) {
      platform::modal_set_enabled(candidate.window, false);
      entry.disabled_by_guard = true;
    }
    list.entries.push_back(entry);
  }
  for (const GuardEntry& entry : list.entries) {
    if (entry.thread == self && entry.was_topmost) {
      platform::modal_set_topmost(entry.window, false);
    }
  }
}

void bring_windows_back() {
  const std::thread::id self = std::this_thread::get_id();
  GuardList& list = guard_list();
  const std::lock_guard<std::mutex> hold(list.lock);
  std::erase_if(list.entries, [&](const GuardEntry& entry) {
    if (entry.thread != self) {
      return false;
    }
    if (entry.disabled_by_guard) {
      platform::modal_set_enabled(entry.window, true);
    }
    if (entry.was_topmost) {
      platform::modal_set_topmost(entry.window, true);
    }
    return true;
  });
}

int message_box_with_owner(NativeWindow owner, TextView title, TextView text, std::uint32_t flags) {
  if (!owner) {
    owner = platform::message_box_owner();
  }
  if (text.size() > kTextLimit) {
    text = text.substr(0, kTextLimit - 1);
  }
  put_windows_aside();
  const int answer = platform::message_box_show(owner, title, text, flags);
  // Also after a refused box, so that no window stays disabled.
  bring_windows_back();
  return answer;
}

std::atomic<bool> timer_raised{false};

}  // namespace

int message_box(TextView title, TextView text, std::uint32_t flags) {
  return message_box_with_owner(nullptr, title, text, flags);
}

void delay_ms(int milliseconds) {
  if (milliseconds < 0) {
    return;
  }
  if (!timer_raised.exchange(true)) {
    platform::timer_resolution_raise();
  }
  platform::sleep_ms(milliseconds);
}

}  // namespace velto
