#pragma once

// The start and end of every GTK test with real windows: the library once
// per program, the windows closed and their events dropped after each test,
// and a skip where there is no display.

#include <gtest/gtest.h>

#include "Desktop.h"

namespace velto::testing {

class WindowGuiTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;
};

}  // namespace velto::testing
