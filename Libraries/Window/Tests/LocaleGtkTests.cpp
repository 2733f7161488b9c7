// The window library's start-up (GTK's initialisation) keeps the numeric
// locale that the core's start-up step set: numbers format with a decimal
// point whatever the user's locale. GTK initialises once per process, so
// this is a program of its own.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Core/Startup.h"
#include "Window/Events.h"
#include "Window/Window.h"

namespace velto {
namespace {

namespace fs = std::filesystem;

std::string formatted(double value) {
  char text[32] = {};
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

TEST(WindowLocale, NumbersKeepTheDecimalPointAfterTheWindowLibrarysStartUp) {
  // A German locale (decimal comma), compiled for this test only.
  const fs::path locales = fs::temp_directory_path() / ("velto-locale-" + std::to_string(::getpid()));
  fs::create_directories(locales);
  const std::string compile =
      "timeout 120 localedef -i de_DE -f UTF-8 '" + (locales / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
  const int compiled = std::system(compile.c_str());
  if (!WIFEXITED(compiled) || WEXITSTATUS(compiled) > 1) {  // 1: compiled with warnings
    fs::remove_all(locales);
    GTEST_SKIP() << "localedef could not compile de_DE.UTF-8";
  }
  ::setenv("LOCPATH", locales.c_str(), 1);
  ::setenv("LC_ALL", "de_DE.UTF-8", 1);

  locale_init();
  const std::string ctype = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_EQ(ctype, "de_DE.UTF-8") << "the user's locale is in use";
  ASSERT_STREQ(std::localeconv()->decimal_point, ".");
  {
    // The locale itself writes a comma.
    const std::string numeric = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_NUMERIC, "");
    EXPECT_EQ(formatted(1.5), "1,5");
    std::setlocale(LC_NUMERIC, numeric.c_str());
  }

  event_queue_init();
  window_library_init();
  EXPECT_EQ(formatted(1.5), "1.5");
  EXPECT_STREQ(std::localeconv()->decimal_point, ".");
  EXPECT_EQ(std::string(std::setlocale(LC_CTYPE, nullptr)), "de_DE.UTF-8");
  window_library_end();
  fs::remove_all(locales);
}

}  // namespace
}  // namespace velto
