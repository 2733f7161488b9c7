#include "CommandLine.h"

namespace velto::process {

namespace {

constexpr char16_t kQuote = u'"';
constexpr char16_t kBackslash = u'\\';

bool is_blank(char16_t c) noexcept {
  return c == u' ' || c == u'\t';
}

}  // namespace

Text build_command_line(TextView program, TextView parameters) {
  Text line;
  // The size of the block Windows builds it in: both texts, two quotes, the
  // blank and the terminator.
  line.reserve(program.size() + parameters.size() + 4);
  if (!program.empty() && program.front() == kQuote) {
    line.append(program);
  } else {
    line.push_back(kQuote);
    line.append(program);
    line.push_back(kQuote);
  }
  if (!parameters.empty()) {
    line.push_back(u' ');
    line.append(parameters);
  }
  return line;
}

// The rules of the current Microsoft C runtime:
// - the program name ends at the first blank (space or tab) outside double
//   quotes; its quotes are dropped and backslashes are ordinary characters;
// - every other argument ends at a blank outside quotes; 2n backslashes
//   before a quote give n backslashes and the quote opens or closes quoting,
//   2n+1 give n backslashes and a literal quote; backslashes before anything
//   else are literal; inside quotes, a doubled quote is one literal quote and
//   quoting goes on; an unterminated quote runs to the end of the line.
// CommandLineToArgvW differs for a doubled quote inside quotes (it ends the
// quoting) and for text glued to the program name's closing quote (a new
// argument there); the program part of build_command_line never has either.
std::vector<Text> split_command_line(TextView command_line) {
  std::vector<Text> arguments;
  std::size_t i = 0;
  const std::size_t end = command_line.size();
  if (end == 0) {
    return arguments;
  }

  Text program;
  for (bool quoted = false; i < end; ++i) {
    const char16_t c = command_line[i];
    if (c == kQuote) {
      quoted = !quoted;
    } else if (!quoted && is_blank(c)) {
      break;
    } else {
      program.push_back(c);
    }
  }
  arguments.push_back(std::move(program));

  while (true) {
    while (i < end && is_blank(command_line[i])) {
      ++i;
    }
    if (i == end) {
      break;
    }
    Text argument;
    bool quoted = false;
    while (i < end) {
      std::size_t backslashes = 0;
      while (i < end && command_line[i] == kBackslash) {
        ++backslashes;
        ++i;
      }
      if (i < end && command_line[i] == kQuote) {
        argument.append(backslashes / 2, kBackslash);
        if (backslashes % 2 == 1) {
          argument.push_back(kQuote);
          ++i;
        } else if (quoted && i + 1 < end && command_line[i + 1] == kQuote) {
          argument.push_back(kQuote);
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
        continue;
      }
      argument.append(backslashes, kBackslash);
      if (i == end || (!quoted && is_blank(command_line[i]))) {
        break;
      }
      argument.push_back(command_line[i]);
      ++i;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

TextView shell_directory(TextView program, TextView working_directory) noexcept {
  if (!working_directory.empty()) {
    return working_directory;
  }
  const std::size_t last = program.rfind(kBackslash);
  if (last == TextView::npos || last == 0) {
    return {};
  }
  return program.substr(0, last + 1);
}

TextView without_long_path_prefix(TextView path) noexcept {
  constexpr TextView kPrefix = u"\\\\?\\";
  return path.starts_with(kPrefix) ? path.substr(kPrefix.size()) : path;
}

}  // namespace velto::process
