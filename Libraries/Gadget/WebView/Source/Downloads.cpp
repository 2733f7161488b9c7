#include "Downloads.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

#include "Engine.h"
#include "Utf8.h"

namespace velto::webview {

namespace {

constexpr char kReplacementChar = '_';
// A dot part longer than this ("notes.from the meeting") is part of the name.
constexpr std::size_t kMaxExtensionBytes = 13;
constexpr std::string_view kNoticePrefix = "open-folder:";

constexpr char upper(char c) noexcept {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return upper(x) == upper(y); });
}

// Characters that Windows refuses in names, and the separators of both.
constexpr bool refused(char32_t c) noexcept {
  switch (c) {
    case '/':
    case '\\':
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '?':
    case '*':
      return true;
    default:
      return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
  }
}

// Marks that change the direction text is shown in ("report\u202Efdp.exe"
// shows as "reportexe.pdf") or that show as nothing at all.
constexpr bool invisible(char32_t c) noexcept {
  return c == 0x061C || c == 0x200B || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

// Names Windows gives to devices, with any extension: "CON.txt" is the
// console there.
bool reserved_device_name(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') {
    stem.remove_suffix(1);
  }
  for (const std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (equal_ignoring_case(stem, device)) {
      return true;
    }
  }
  if (stem.size() < 4 ||
      !(equal_ignoring_case(stem.substr(0, 3), "COM") || equal_ignoring_case(stem.substr(0, 3), "LPT"))) {
    return false;
  }
  const std::string_view digit = stem.substr(3);
  // Superscript one, two and three count as digits there.
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" || digit == "\xC2\xB2" ||
         digit == "\xC2\xB3";
}

void trim_dots_and_blanks(std::string& name, bool front) {
  const auto strip = [](char c) { return c == '.' || c == ' '; };
  if (front) {
    name.erase(name.begin(), std::find_if_not(name.begin(), name.end(), strip));
  } else {
    name.erase(std::find_if_not(name.rbegin(), name.rend(), strip).base(), name.end());
  }
}

// The longest start of `text` of at most `bytes` bytes that ends between
// two characters.
std::string_view utf8_prefix(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) {
    return text;
  }
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0U) == 0x80U) {
    --end;
  }
  return text.substr(0, end);
}

// Text shown by the notice: the name is spliced in as data, never markup.
std::string quoted_name(std::string_view before, std::string_view name, std::string_view after) {
  std::string text(before);
  text += name;
  text += after;
  return json_quote(text);
}

}  // namespace

std::string safe_file_name(std::string_view suggested) {
  std::string name;
  name.reserve(suggested.size());
  for (std::size_t pos = 0; pos < suggested.size();) {
    const char32_t c = next_utf8(suggested, pos);
    if (invisible(c)) {
      continue;
    }
    if (refused(c)) {
      name += kReplacementChar;
    } else {
      append_utf8(name, c);
    }
  }
  trim_dots_and_blanks(name, true);
  trim_dots_and_blanks(name, false);
  if (name.empty()) {
    return std::string(kFallbackFileName);
  }
  if (reserved_device_name(name)) {
    name.insert(name.begin(), kReplacementChar);
  }
  if (name.size() > kMaxFileNameBytes) {
    const std::size_t dot = extension_start(name);
    const std::string extension = name.substr(dot);
    std::string stem(utf8_prefix(std::string_view(name).substr(0, dot), kMaxFileNameBytes - extension.size()));
    trim_dots_and_blanks(stem, false);
    name = stem.empty() ? std::string(kFallbackFileName) + extension : stem + extension;
  }
  return name;
}

std::size_t extension_start(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size() || name.size() - dot > kMaxExtensionBytes ||
      name.find(' ', dot) != std::string_view::npos) {
    return name.size();
  }
  const std::string_view last = name.substr(dot);
  constexpr std::array<std::string_view, 8> kCompressed{".gz", ".bz2", ".xz", ".zst", ".lz", ".lzma", ".z", ".br"};
  const bool compressed = std::any_of(kCompressed.begin(), kCompressed.end(),
                                      [&](std::string_view c) { return equal_ignoring_case(c, last); });
  if (compressed && dot > 4 && equal_ignoring_case(name.substr(dot - 4, 4), ".tar")) {
    return dot - 4;
  }
  return dot;
}

std::string numbered_file_name(std::string_view name, int number) {
  if (number == 0) {
    return std::string(name);
  }
  const std::size_t dot = extension_start(name);
  std::string numbered(name.substr(0, dot));
  numbered += " (";
  numbered += std::to_string(number);
  numbered += ')';
  numbered += name.substr(dot);
  return numbered;
}

std::optional<std::string> place_numbered(std::string_view name,
                                          const std::function<Placement(const std::string&)>& place) {
  for (int number = 0; number <= kMaxFileNumber; ++number) {
    std::string candidate = numbered_file_name(name, number);
    switch (place(candidate)) {
      case Placement::Placed:
        return candidate;
      case Placement::Taken:
        break;
      case Placement::Failed:
        return std::nullopt;
    }
  }
  return std::nullopt;
}

std::string notice_message(std::uint32_t id) {
  return std::string(kNoticePrefix) + std::to_string(id);
}

std::optional<std::uint32_t> parse_notice_message(std::string_view message) {
  if (message.substr(0, kNoticePrefix.size()) != kNoticePrefix) {
    return std::nullopt;
  }
  const std::string_view digits = message.substr(kNoticePrefix.size());
  std::uint32_t id = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
  if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return id;
}

std::uint32_t NoticeTargets::remember(std::string target) {
  const std::uint32_t id = next_++;
  if (next_ == 0) {
    next_ = 1;  // 0 is the id of notices without a button
  }
  targets_[id] = std::move(target);
  if (targets_.size() > kRemembered) {
    targets_.erase(targets_.begin());
  }
  return id;
}

std::optional<std::string> NoticeTargets::find(std::uint32_t id) const {
  const auto found = targets_.find(id);
  if (found == targets_.end()) {
    return std::nullopt;
  }
  return found->second;
}

std::optional<std::string> NoticeTargets::take(std::uint32_t id) {
  std::optional<std::string> target = find(id);
  targets_.erase(id);
  return target;
}

std::string_view file_name_of(std::string_view path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

std::string download_notice_script(DownloadOutcome outcome, std::string_view file_name, std::uint32_t id,
                                   std::string_view post) {
  const bool saved = outcome == DownloadOutcome::Saved;
  const std::string russian = saved ? quoted_name("Файл «", file_name, "» сохранён в папке загрузок.")
                                    : quoted_name("Не удалось загрузить файл «", file_name, "».");
  const std::string english = saved ? quoted_name("Saved “", file_name, "” to the downloads folder.")
                                    : quoted_name("“", file_name, "” could not be downloaded.");
  std::string script = "(function(){\"use strict\";var post=";
  script += post;
  script += ";var ru=" + russian + ";var en=" + english + ";var message=" + json_quote(notice_message(id)) +
            ";var withFolder=" + (saved ? "true" : "false") + ";";
  // The page's own style sheets must not reach the notice: every element
  // starts from the initial values.
  script += R"js(
var reset="all:initial;box-sizing:border-box;font:13px/1.35 sans-serif;";
var old=document.getElementById("velto-download-notice");
if(old)old.remove();
var box=document.createElement("div");
box.id="velto-download-notice";
box.setAttribute("role","status");
box.lang="ru";
box.style.cssText=reset+"position:fixed;z-index:2147483647;right:12px;bottom:72px;max-width:340px;display:block;"+
  "padding:10px 34px 10px 12px;background:#fff;color:#1d2330;border-radius:8px;"+
  "box-shadow:0 2px 10px rgba(0,0,0,.25);border-left:4px solid "+(withFolder?"#2f9e44":"#d9480f")+";";
function line(text,extra){
  var p=document.createElement("div");
  p.textContent=text;
  p.style.cssText=reset+"display:block;overflow-wrap:anywhere;"+extra;
  box.appendChild(p);
  return p;
}
line(ru,"");
line(en,"color:#66707f;font-size:12px;margin-top:2px;").lang="en";
var timer=0;
function dismiss(){clearTimeout(timer);box.remove();}
function arm(){clearTimeout(timer);timer=setTimeout(dismiss,30000);}
if(withFolder){
  var open=document.createElement("button");
  open.type="button";
  open.textContent="Открыть папку · Show in folder";
  open.style.cssText=reset+"display:inline-block;margin-top:8px;padding:4px 10px;border-radius:4px;"+
    "background:#2f6fde;color:#fff;cursor:pointer;font-weight:600;";
  open.addEventListener("click",function(e){
    // Only the user's own click: the page may click buttons too.
    if(!e.isTrusted)return;
    post(message);
    dismiss();
  });
  box.appendChild(open);
}
var close=document.createElement("button");
close.type="button";
close.textContent="×";
close.title="Закрыть · Close";
close.setAttribute("aria-label","Закрыть · Close");
close.style.cssText=reset+"position:absolute;top:4px;right:6px;padding:0 6px;font-size:18px;color:#66707f;"+
  "background:transparent;cursor:pointer;";
close.addEventListener("click",dismiss);
box.appendChild(close);
box.addEventListener("mouseenter",function(){clearTimeout(timer);});
box.addEventListener("mouseleave",arm);
(document.body||document.documentElement).appendChild(box);
arm();
})();)js";
  return script;
}

}  // namespace velto::webview
