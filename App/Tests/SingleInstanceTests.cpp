// One client per user, as a user meets it: a second start while a client
// runs brings that client's window forward and ends; a client that was
// killed keeps no later start away. The real clients run against the local
// server, whose request log shows which start ran the update check.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "ClientProcess.h"
#include "Desktop.h"
#include "LocalServer.h"

namespace velto::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kMainTitle[] = "^Velto Чат";
constexpr char kQuestionTitle[] = "^Доступно обновление!$";
constexpr char kDescriptorRequest[] = "\"/uploads/chat_files/velto_web-chat_client.ini\"";
constexpr char kSettings[] = "\xEF\xBB\xBF\r\nWindowX = 150\r\nWindowY = 120\r\nWindowWidth = 480\r\nWindowHeight = 560\r\n";

std::size_t descriptor_requests() {
  const std::string log = server_fetch("/test/requests");
  std::size_t count = 0;
  for (auto at = log.find(kDescriptorRequest); at != std::string::npos; at = log.find(kDescriptorRequest, at + 1)) {
    ++count;
  }
  return count;
}

// Every window with the client's title, shown or minimised.
std::size_t client_windows() {
  const std::string ids = shell("xdotool search --name '" + std::string(kMainTitle) + "' 2>/dev/null");
  return static_cast<std::size_t>(std::count(ids.begin(), ids.end(), '\n'));
}

unsigned long active_window() {
  const std::string text = shell("xprop -root _NET_ACTIVE_WINDOW");
  const auto at = text.find("# ");
  return at == std::string::npos ? 0 : std::strtoul(text.c_str() + at + 2, nullptr, 16);
}

bool minimised(unsigned long window) {
  return shell("xprop -id " + std::to_string(window) + " _NET_WM_STATE").find("_NET_WM_STATE_HIDDEN") !=
         std::string::npos;
}

// Only the user may ask a client for its window: every client's socket is
// the user's own, mode 0600.
void expect_private_sockets() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  ASSERT_TRUE(runtime != nullptr && *runtime != '\0');
  std::size_t sockets = 0;
  for (const auto& entry : fs::directory_iterator(runtime)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("VeltoChat-", 0) != 0 || !name.ends_with(".socket")) {
      continue;
    }
    struct stat info {};
    ASSERT_EQ(::lstat(entry.path().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode)) << name;
    EXPECT_EQ(info.st_mode & 07777, 0600U) << name;
    EXPECT_EQ(info.st_uid, ::getuid()) << name;
    ++sockets;
  }
  EXPECT_GE(sockets, 1U);
}

class SingleInstance : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto why = end_to_end_unavailable()) {
      GTEST_SKIP() << *why;
    }
  }

  void TearDown() override { server_fetch("/test/reset"); }

  [[nodiscard]] std::string app_dir() const { return config_.path() + "/VeltoChat"; }
  [[nodiscard]] std::string settings_path() const { return app_dir() + "/WindowSettings.ini"; }

  [[nodiscard]] std::unique_ptr<ChildProcess> launch(const TempDir& config) const {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{VELTO_CLIENT_PATH},
        std::vector<std::string>{"XDG_CONFIG_HOME=" + config.path(), "TMPDIR=" + temp_.path()});
  }

  // The first client, up to its window.
  void start() {
    client_ = launch(config_);
    ASSERT_NO_FATAL_FAILURE(wait_for_client_window(*client_, window_));
  }

  void minimise() {
    shell("xdotool windowminimize " + std::to_string(window_));
    ASSERT_TRUE(eventually([&] { return minimised(window_); })) << "the window manager did not minimise it";
  }

  // A later start with the same configuration; it must end by itself.
  void start_again_and_expect_exit_code_zero() {
    const auto again = launch(config_);
    const auto status = again->wait(15s);
    ASSERT_TRUE(status) << "the second start kept running";
    EXPECT_EQ(*status, 0);
    EXPECT_FALSE(find_window_of_pid(again->pid(), 0ms)) << "the second start opened a window";
  }

  void expect_window_in_front() {
    EXPECT_TRUE(eventually([&] { return !minimised(window_); })) << "the window is still minimised";
    EXPECT_TRUE(eventually([&] { return active_window() == window_; }))
        << "active: " << active_window() << ", the client's: " << window_;
    EXPECT_EQ(client_windows(), 1U);
  }

  void close_and_expect_exit_code_zero() { velto::testing::close_and_expect_exit_code_zero(*client_, window_); }

  TempDir config_;
  TempDir temp_;
  std::unique_ptr<ChildProcess> client_;
  unsigned long window_ = 0;
};

TEST_F(SingleInstance, ASecondStartBringsTheMinimisedWindowForwardAndEnds) {
  fs::create_directories(app_dir());
  std::ofstream(settings_path(), std::ios::binary) << kSettings;
  start();
  ASSERT_EQ(descriptor_requests(), 1U);
  expect_private_sockets();
  minimise();

  start_again_and_expect_exit_code_zero();
  expect_window_in_front();
  EXPECT_EQ(descriptor_requests(), 1U) << "the second start ran the update check";
  EXPECT_EQ(read_file(settings_path()), kSettings);
  close_and_expect_exit_code_zero();
}

// The first client has no window while it asks about an update; a second
// start still ends at once and leaves the app data directory alone.
TEST_F(SingleInstance, WhileTheFirstAsksAboutAnUpdateASecondStartTouchesNothing) {
  server_fetch("/test/publish?version=0.2.16.39");
  client_ = launch(config_);
  const auto question = find_window(kQuestionTitle);
  ASSERT_TRUE(question) << "no update question";

  start_again_and_expect_exit_code_zero();
  EXPECT_EQ(descriptor_requests(), 1U) << "the second start ran the update check";
  EXPECT_FALSE(fs::exists(app_dir())) << "the second start made the app data directory or the browser's data";
  EXPECT_FALSE(find_window(kMainTitle, 0ms)) << "a chat window opened";

  shell("xdotool windowactivate --sync " + std::to_string(*question) + " key --clearmodifiers alt+n");
  const auto window = find_window(kMainTitle);
  ASSERT_TRUE(window) << "the first client did not go on to its window";
  window_ = *window;
  close_and_expect_exit_code_zero();
}

TEST_F(SingleInstance, AKilledClientKeepsNoLaterStartAway) {
  start();
  ASSERT_EQ(::kill(client_->pid(), SIGKILL), 0);
  const auto status = client_->wait(10s);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 128 + SIGKILL);

  start();
  // The killed client's socket was replaced: the new one answers.
  minimise();
  start_again_and_expect_exit_code_zero();
  expect_window_in_front();
  close_and_expect_exit_code_zero();
}

TEST_F(SingleInstance, ClientsOfDifferentConfigurationDirectoriesRunSideBySide) {
  start();
  TempDir other_config;
  const auto other = launch(other_config);
  EXPECT_TRUE(find_window_of_pid(other->pid())) << "the other configuration's client did not open its window";
  EXPECT_TRUE(other->running());
  close_and_expect_exit_code_zero();
}

}  // namespace
}  // namespace velto::testing
