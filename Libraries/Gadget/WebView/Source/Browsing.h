#pragma once

// What a view with a home page does with what its pages ask for: where a
// navigation may go, when a failed or crashed page is tried again, and the
// engine's own pages shown meanwhile. Decisions only; the backends turn the
// browser's signals into these questions and carry out the answers.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velto::webview {

// Scheme, host and port of an http or https URL: lower-case scheme and host,
// the port made explicit (80, 443 by default).
struct Origin {
  std::string scheme;
  std::string host;
  int port = 0;

  friend bool operator==(const Origin&, const Origin&) = default;
};

// nullopt for anything but a well-formed http(s) URL with a host.
[[nodiscard]] std::optional<Origin> url_origin(std::string_view url);

// The URL's scheme in lower case ("" when it has none).
[[nodiscard]] std::string url_scheme(std::string_view url);

// Whether the desktop's default handler may be given `url`: http and https,
// and a short list of schemes that only ever address a person or a meeting
// (mailto, tel, ...). Never file, javascript, data or anything unknown: a
// page must not be able to start local programs.
[[nodiscard]] bool may_hand_over(std::string_view url);

struct NavigationRequest {
  std::string_view url;
  // The request would open a new window (target=_blank, window.open, the
  // context menu's "Open Link in New Window").
  bool new_window = false;
  // The view's top frame, not an embedded frame.
  bool main_frame = true;
  // Started by the user (a click, a key) rather than by script or a redirect.
  bool user_initiated = false;
};

enum class NavigationVerdict : std::uint8_t {
  Stay,          // the view loads it
  HandOver,      // the desktop's default handler opens it; the view stays
  Refuse,        // nothing happens
};

// Without a home every navigation stays in the view (new windows are
// refused: the engine has none to give). With a home: the home's origin and
// the engine's own pages stay; every new window, every user navigation of
// the top frame elsewhere and every non-web scheme is handed over when
// may_hand_over allows it and refused otherwise. Embedded frames stay.
[[nodiscard]] NavigationVerdict judge_navigation(const NavigationRequest& request,
                                                 const std::optional<Origin>& home);

// When to try the home page again after a failed load: about 2 s first,
// doubling up to 30 s. reset() after a successful load.
class RetrySchedule {
 public:
  static constexpr std::chrono::milliseconds kFirst{2000};
  static constexpr std::chrono::milliseconds kLongest{30000};

  // The wait before the next try; each call lengthens the one after it.
  [[nodiscard]] std::chrono::milliseconds next() noexcept;
  void reset() noexcept { next_ = kFirst; }

 private:
  std::chrono::milliseconds next_ = kFirst;
};

// Whether a page whose render process died should be loaded again by
// itself: at most kLimit times within kWindow, so that a page that kills its
// process at every load is not restarted in a tight loop. The first reload
// waits kDelay.
class CrashGuard {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kLimit = 3;
  static constexpr std::chrono::seconds kWindow{60};
  static constexpr std::chrono::milliseconds kDelay{1000};

  // Notes a crash at `now`; true when a reload is still allowed.
  [[nodiscard]] bool allow_reload(Clock::time_point now);
  // After the user asked for a reload, start afresh.
  void reset() noexcept { count_ = 0; }

 private:
  Clock::time_point times_[kLimit]{};
  int count_ = 0;
};

enum class OwnPage : std::uint8_t {
  Offline,        // the server cannot be reached; retrying
  Certificate,    // the server's identity could not be verified; no retry
  Crashed,        // the page's process keeps dying; a "Reload" button
};

// The engine's page for `kind`, in the chat's language (Russian) with an
// English line beneath. Its "Reload" button loads `home` again; the offline
// page also says that it retries by itself.
[[nodiscard]] std::string own_page_html(OwnPage kind, std::string_view home);

}  // namespace velto::webview
