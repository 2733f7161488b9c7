#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "CommandLine.h"
#include "Core/Strings.h"
#include "Core/WinApi.h"

#include <shellapi.h>

namespace velto::process {
namespace {

struct LocalMemoryFree {
  void operator()(LPWSTR* block) const noexcept { LocalFree(block); }
};

std::vector<Text> system_split(const Text& line) {
  int count = 0;
  const std::unique_ptr<LPWSTR, LocalMemoryFree> arguments(
      CommandLineToArgvW(reinterpret_cast<const wchar_t*>(line.c_str()), &count));
  std::vector<Text> result;
  for (int i = 0; arguments && i < count; ++i) {
    result.emplace_back(reinterpret_cast<const char16_t*>(arguments.get()[i]));
  }
  return result;
}

// The system's own parser agrees on every line that avoids the two forms
// where its rules and the C runtime's differ (see CommandLine.cpp).
TEST(SplitCommandLineOnWindows, AgreesWithTheSystemParser) {
  for (const char16_t* line : {
           u"\"C:\\Program Files\\Velto\\updater.exe\" \"C:\\Users\\A B\\velto.exe\" https://host/x.zip 1234",
           u"\"C:\\Tools\\app.exe\" -x",
           u"\"C:\\Tools\\app.exe\"",
           u"C:\\Tools\\app.exe -x \t y",
           u"\"C:\\dir\\\" x",
           u"p \"a b c\" d e",
           u"p \"ab\\\"c\" \"\\\\\" d",
           u"p a\\\\\\b d\"e f\"g h",
           u"p a\\\\\\\"b c d",
           u"p a\\\\\\\\\"b c\" d e",
           u"p \"\" \"\"",
           u"p \"unterminated arg",
           u"p trailing\\ \\\\server\\share\\",
           u"p \"C:\\dir\\\\\"",
       }) {
    EXPECT_EQ(split_command_line(line), system_split(line)) << to_utf8(line);
  }
}

}  // namespace
}  // namespace velto::process
