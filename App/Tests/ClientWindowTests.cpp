// The client as a user meets it: started, looked at, dragged and closed on
// the test display with the standard X tools.
#include <gtest/gtest.h>

#include "Desktop.h"

namespace velto::testing {
namespace {

class ClientWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_display()) {
      GTEST_SKIP() << "needs an X display with a window manager (run under Scripts/with-display)";
    }
    client_ = std::make_unique<ChildProcess>(std::vector<std::string>{VELTO_CLIENT_PATH},
                                             std::vector<std::string>{"XDG_CONFIG_HOME=" + config_.path()});
    const auto window = find_window_of_pid(client_->pid());
    ASSERT_TRUE(window) << "the client's window did not appear";
    window_ = *window;
  }

  [[nodiscard]] Geometry client() const { return client_geometry(window_).value_or(Geometry{}); }

  bool client_size_becomes(int width, int height) {
    return eventually([&] {
      const Geometry g = client();
      return g.width == width && g.height == height;
    });
  }

  void drag_to(int width, int height) {
    shell("xdotool windowsize " + std::to_string(window_) + " " + std::to_string(width) + " " +
          std::to_string(height));
  }

  TempDir config_;
  std::unique_ptr<ChildProcess> client_;
  unsigned long window_ = 0;
};

TEST_F(ClientWindow, OpensCentredWithItsTitleAndDefaultSize) {
  EXPECT_EQ(window_title(window_), "Velto Чат");
  ASSERT_TRUE(client_size_becomes(400, 700));
  const Geometry screen = screen_size();
  const Geometry frame = frame_geometry(window_).value_or(Geometry{});
  EXPECT_EQ(frame.x, (screen.width - frame.width) / 2);
  EXPECT_EQ(frame.y, (screen.height - frame.height) / 2);
}

TEST_F(ClientWindow, SpringsBackToTheMinimumSize) {
  ASSERT_TRUE(client_size_becomes(400, 700));
  drag_to(200, 300);
  EXPECT_TRUE(client_size_becomes(290, 400)) << "too small on both axes";
  drag_to(500, 300);
  EXPECT_TRUE(client_size_becomes(500, 400)) << "too short only";
  drag_to(500, 600);
  EXPECT_TRUE(client_size_becomes(500, 600)) << "large enough: left alone";
}

TEST_F(ClientWindow, ClosingItEndsTheProcessWithExitCodeZero) {
  shell("wmctrl -ic " + std::to_string(window_));
  const auto status = client_->wait(15s);
  ASSERT_TRUE(status) << "the client did not end after its window was closed";
  EXPECT_EQ(*status, 0);
}

}  // namespace
}  // namespace velto::testing
