// The delay, with the message box programs of both platforms.

#include <gtest/gtest.h>

#include <chrono>

#include "Window/Window.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(Delay, NegativeReturnsAtOnceOtherwiseSleeps) {
  const auto before_negative = Clock::now();
  delay_ms(-1);
  EXPECT_LT(Clock::now() - before_negative, 1s) << "a negative delay must not sleep";
  delay_ms(0);
  const auto before = Clock::now();
  delay_ms(50);
  EXPECT_GE(Clock::now() - before, 45ms);
}

}  // namespace
}  // namespace velto
