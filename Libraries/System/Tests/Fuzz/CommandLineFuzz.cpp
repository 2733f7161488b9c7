// libFuzzer target: splitting any command line, and splitting back what a
// caller quoted by the rules.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "CommandLine.h"

namespace {

using namespace velto;

void check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

// One argument quoted so that the Windows rules give it back unchanged:
// inside quotes, backslashes before a quote and before the closing quote
// are doubled and the quote escaped.
Text quoted(const Text& argument) {
  Text out(1, u'"');
  std::size_t backslashes = 0;
  for (const char16_t c : argument) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(2 * backslashes, u'\\');
  out.push_back(u'"');
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Two bytes a UTF-16 unit; NUL ends a command line, so none inside.
  Text line;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    line.push_back(unit == 0 ? u' ' : unit);
  }
  const std::vector<Text> parts = process::split_command_line(line);
  for (const Text& part : parts) {
    check(part.size() <= line.size());
  }

  // The same units as arguments of their own (cut at every 0x000A), quoted
  // by the rules after a plain program name: they split back exactly.
  std::vector<Text> arguments(1);
  for (const char16_t c : line) {
    if (c == u'\n') {
      arguments.emplace_back();
    } else {
      arguments.back().push_back(c);
    }
  }
  Text parameters;
  for (const Text& argument : arguments) {
    if (!parameters.empty()) {
      parameters.push_back(u' ');
    }
    parameters += quoted(argument);
  }
  const std::vector<Text> back = process::split_command_line(process::build_command_line(u"C:\\app\\up.exe", parameters));
  check(back.size() == arguments.size() + 1);
  check(back[0] == u"C:\\app\\up.exe");
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    check(back[i + 1] == arguments[i]);
  }
  return 0;
}
