// libFuzzer target: whatever a page posts to the program, and whatever URL
// it asks the view to open.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Browsing.h"
#include "Engine.h"

namespace {

using namespace velto::webview;

void check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

std::string envelope(const PageCall& call) {
  return "{\"id\":" + json_quote(call.id) + ",\"method\":" + json_quote(call.method) + ",\"params\":" + call.params +
         "}";
}

void envelope_round_trip(std::string_view message) {
  const std::optional<PageCall> call = parse_page_call(message);
  if (!call) {
    return;
  }
  check(call->params.size() >= 2 && call->params.front() == '[' && call->params.back() == ']');
  // What the reader took out, quoted again, reads back the same.
  const std::optional<PageCall> again = parse_page_call(envelope(*call));
  check(again.has_value());
  check(again->id == call->id && again->method == call->method && again->params == call->params);
}

void quoting(std::string_view text) {
  const std::string quoted = json_quote(text);
  check(quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"');
  // Nothing that ends a script or a line of it gets through unescaped.
  for (const char c : quoted) {
    check(static_cast<unsigned char>(c) >= 0x20);
  }
  check(quoted.find("\xE2\x80\xA8") == std::string::npos && quoted.find("\xE2\x80\xA9") == std::string::npos);
  // As the id of an envelope it reads back as the text it stands for
  // (invalid UTF-8 having become U+FFFD), which quotes to the same literal.
  // A call needs an id to be answered: an empty one is no call.
  if (text.empty()) {
    check(!parse_page_call("{\"id\":\"\",\"method\":\"m\",\"params\":[]}"));
    return;
  }
  const std::optional<PageCall> call = parse_page_call("{\"id\":" + quoted + ",\"method\":\"m\",\"params\":[]}");
  check(call.has_value());
  check(json_quote(call->id) == quoted);
}

void navigation(std::string_view url) {
  const std::optional<Origin> home = url_origin("https://localhost:8443/chat");
  const std::string scheme = url_scheme(url);
  for (int bits = 0; bits < 8; ++bits) {
    const NavigationRequest request{url, (bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0};
    const NavigationVerdict verdict = judge_navigation(request, home);
    if (verdict == NavigationVerdict::HandOver) {
      // Only what may be handed over ever is, and never a local program.
      check(may_hand_over(url));
      check(scheme != "file" && scheme != "javascript" && scheme != "data" && scheme != "vbscript");
    }
  }
  if (const std::optional<Origin> origin = url_origin(url)) {
    check(origin->scheme == "http" || origin->scheme == "https");
    check(!origin->host.empty() && origin->port >= 0 && origin->port <= 65535);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  envelope_round_trip(input);
  quoting(input);
  navigation(input);
  static_cast<void>(own_page_html(OwnPage::Crashed, input));
  static_cast<void>(browser_switch_value(input, "--user-data-dir"));
  return 0;
}
