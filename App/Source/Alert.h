#pragma once

#include <chrono>
#include <optional>

namespace velto::app {

// The sound plays at most once in this long, however often a page calls;
// the flash follows every call.
inline constexpr std::chrono::milliseconds kSoundQuietTime{3000};

// Whether a sound may play at `now`, given the time of the last one.
class SoundThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  [[nodiscard]] bool allow(Clock::time_point now) noexcept {
    if (last_ && now - *last_ < kSoundQuietTime) {
      return false;
    }
    last_ = now;
    return true;
  }
  void reset() noexcept { last_.reset(); }

 private:
  std::optional<Clock::time_point> last_;
};

// The throttle the alert uses (one per process).
SoundThrottle& alert_sound_throttle();

// Behind the chat page's "qx_notify_new_message": when the user is not
// looking at the client (another window in front, or the client minimised),
// plays the desktop's new-message sound (at most once per kSoundQuietTime)
// and flashes the main window once.
// The call's arguments are not looked at. Never a result text.
char* new_message_alert(const char16_t* arguments);

}  // namespace velto::app
