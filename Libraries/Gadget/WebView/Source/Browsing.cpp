#include "Browsing.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "Engine.h"

namespace velto::webview {

namespace {

constexpr char lower(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), lower);
  return out;
}

constexpr bool scheme_char(char c, bool first) noexcept {
  const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return first ? alpha : alpha || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// Schemes that address a person, a call or a meeting, and nothing on this
// machine.
constexpr std::array<std::string_view, 8> kHandedOverSchemes{"http", "https", "mailto", "tel", "callto", "sip",
                                                            "sms", "xmpp"};

bool handed_over_scheme(std::string_view scheme) {
  return std::find(kHandedOverSchemes.begin(), kHandedOverSchemes.end(), scheme) != kHandedOverSchemes.end();
}

// Navigations to these never leave the view: blank pages and what the engine
// shows itself.
bool internal_scheme(std::string_view scheme) {
  return scheme == "about";
}

}  // namespace

std::string url_scheme(std::string_view url) {
  const auto colon = url.find(':');
  if (colon == std::string_view::npos || colon == 0) {
    return {};
  }
  for (std::size_t i = 0; i < colon; ++i) {
    if (!scheme_char(url[i], i == 0)) {
      return {};
    }
  }
  return lowered(url.substr(0, colon));
}

std::optional<Origin> url_origin(std::string_view url) {
  Origin origin;
  origin.scheme = url_scheme(url);
  if (origin.scheme != "http" && origin.scheme != "https") {
    return std::nullopt;
  }
  std::string_view rest = url.substr(origin.scheme.size() + 1);
  if (rest.substr(0, 2) != "//") {
    return std::nullopt;
  }
  rest.remove_prefix(2);
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#\\"));
  // User information is no part of the origin.
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  std::string_view host = authority;
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) {
      return std::nullopt;
    }
    host = authority.substr(0, close + 1);
    const std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') {
        return std::nullopt;
      }
      port = after.substr(1);
    }
  } else if (const auto colon = authority.rfind(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  if (host.empty()) {
    return std::nullopt;
  }
  origin.host = lowered(host);
  // "example.org." names the same host as "example.org".
  if (origin.host.size() > 1 && origin.host.back() == '.') {
    origin.host.pop_back();
  }
  origin.port = origin.scheme == "https" ? 443 : 80;
  if (!port.empty()) {
    int value = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (error != std::errc{} || end != port.data() + port.size() || value < 0 || value > 65535) {
      return std::nullopt;
    }
    origin.port = value;
  }
  return origin;
}

bool may_hand_over(std::string_view url) {
  const std::string scheme = url_scheme(url);
  if (scheme == "http" || scheme == "https") {
    return url_origin(url).has_value();
  }
  return handed_over_scheme(scheme);
}

NavigationVerdict judge_navigation(const NavigationRequest& request, const std::optional<Origin>& home) {
  const std::string scheme = url_scheme(request.url);
  if (!home) {
    return request.new_window ? NavigationVerdict::Refuse : NavigationVerdict::Stay;
  }
  const auto outside = [&] {
    return may_hand_over(request.url) ? NavigationVerdict::HandOver : NavigationVerdict::Refuse;
  };
  if (request.new_window) {
    return outside();
  }
  if (!request.main_frame) {
    return NavigationVerdict::Stay;
  }
  if (internal_scheme(scheme)) {
    return NavigationVerdict::Stay;
  }
  if (scheme == "blob") {
    // Data the page made itself ("blob:https://home/…", a file it built
    // for saving, say) stays; a blob of any other origin is refused.
    const std::optional<Origin> maker = url_origin(request.url.substr(scheme.size() + 1));
    return maker && *maker == *home ? NavigationVerdict::Stay : NavigationVerdict::Refuse;
  }
  if (scheme != "http" && scheme != "https") {
    // mailto: and its kind go to their handler whoever started them;
    // anything else (file:, data:, javascript:, unknown) is refused.
    return outside();
  }
  const std::optional<Origin> target = url_origin(request.url);
  if (target && *target == *home) {
    return NavigationVerdict::Stay;
  }
  // A page's own redirect to another site (a sign-in service, say) stays;
  // only what the user follows leaves.
  return request.user_initiated ? outside() : NavigationVerdict::Stay;
}

std::chrono::milliseconds RetrySchedule::next() noexcept {
  const std::chrono::milliseconds now = next_;
  next_ = std::min(next_ * 2, kLongest);
  return now;
}

bool CrashGuard::allow_reload(Clock::time_point now) {
  // The oldest of the last kLimit crashes decides.
  int recent = 0;
  for (int i = 0; i < std::min(count_, kLimit); ++i) {
    if (now - times_[i] < kWindow) {
      ++recent;
    }
  }
  times_[count_ % kLimit] = now;
  ++count_;
  return recent < kLimit;
}

std::string own_page_html(OwnPage kind, std::string_view home) {
  std::string_view title;
  std::string_view russian;
  std::string_view english;
  bool retrying = false;
  switch (kind) {
    case OwnPage::Offline:
      title = "Нет связи с сервером";
      russian = "Не удаётся подключиться к серверу чата. Повторная попытка будет выполнена автоматически.";
      english = "The chat server cannot be reached. Velto will try again by itself.";
      retrying = true;
      break;
    case OwnPage::Certificate:
      title = "Подлинность сервера не подтверждена";
      russian = "Не удалось проверить подлинность сервера чата. Соединение не установлено.";
      english = "The server's identity could not be verified. Velto did not connect.";
      break;
    case OwnPage::Crashed:
      title = "Страница чата остановлена";
      russian = "Страница чата несколько раз завершилась с ошибкой.";
      english = "The chat page stopped working several times.";
      break;
  }
  std::string html =
      "<!DOCTYPE html><html lang=\"ru\"><head><meta charset=\"utf-8\">"
      "<meta name=\"velto-own-page\" content=\"";
  html += kind == OwnPage::Offline ? "offline" : kind == OwnPage::Certificate ? "certificate" : "crashed";
  html +=
      "\"><title>Velto</title><style>"
      "body{font-family:sans-serif;margin:0;display:flex;align-items:center;justify-content:center;"
      "height:100vh;background:#f4f5f7;color:#222}"
      "main{max-width:22em;padding:1.5em;text-align:center}"
      "h1{font-size:1.2em}p.en{color:#666;font-size:.9em}"
      "button{font-size:1em;padding:.4em 1.2em;margin-top:1em}"
      "</style></head><body><main><h1>";
  html += title;
  html += "</h1><p>";
  html += russian;
  html += "</p><p class=\"en\" lang=\"en\">";
  html += english;
  html += "</p>";
  if (!retrying) {
    html += "<button id=\"reload\" type=\"button\">Обновить · Reload</button>";
  }
  // The home URL reaches the script as a JSON string, never as markup.
  html += "<script>var home=";
  for (const char c : json_quote(home)) {
    // "</script>" inside the string must not end the script.
    if (c == '<') {
      html += "\\u003c";
    } else {
      html += c;
    }
  }
  html +=
      ";var b=document.getElementById(\"reload\");"
      "if(b)b.addEventListener(\"click\",function(){location.replace(home);});</script>"
      "</main></body></html>";
  return html;
}

}  // namespace velto::webview
