#include "Alert.h"

#include "Application.h"
#include "Platform.h"
#include "Window/Window.h"

namespace velto::app {

SoundThrottle& alert_sound_throttle() {
  static SoundThrottle throttle;
  return throttle;
}

char* new_message_alert(const char16_t* /*arguments*/) {
  const bool in_front = window_active() == kMainWindow && !window_minimized(kMainWindow);
  if (!in_front) {
    // A page that calls in a loop gets one sound, not thousands a minute.
    if (alert_sound_throttle().allow(SoundThrottle::Clock::now())) {
      platform::play_new_message_sound();
    }
    platform::flash_window(window_handle(kMainWindow));
  }
  return nullptr;
}

}  // namespace velto::app
