// The chat view and the new-message alert, as a user meets them: the real
// client shows the local server's chat page; the page reports what it sees
// (its load and its viewport) to the server, messages come from the server,
// and the window and its urgency are read with the standard X tools.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ClientProcess.h"
#include "Desktop.h"
#include "LocalServer.h"

namespace velto::testing {
namespace {

namespace fs = std::filesystem;

// The alert's quiet time between two sounds.
constexpr std::chrono::milliseconds kSoundQuietTime{3000};

constexpr char kVariable[] = "WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS";

std::string fetch(const std::string& path) {
  return server_fetch(path);
}

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

bool beacon_seen(const std::string& event, const std::string& id = {}) {
  std::string wanted = "\"event\": \"" + event + "\"";
  if (!id.empty()) {
    wanted += ", \"id\": \"" + id + "\"";
  }
  return fetch("/test/beacons").find(wanted) != std::string::npos;
}

// The variable as the browser's processes were given it by the client.
std::optional<std::string> browser_environment(pid_t client, const std::string& name) {
  for (const pid_t pid : descendants(client)) {
    std::ifstream environ("/proc/" + std::to_string(pid) + "/environ", std::ios::binary);
    std::string entry;
    while (std::getline(environ, entry, '\0')) {
      if (entry.rfind(name + "=", 0) == 0) {
        return entry.substr(name.size() + 1);
      }
    }
  }
  return std::nullopt;
}

class ChatView : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto why = end_to_end_unavailable()) {
      GTEST_SKIP() << *why;
    }
    fs::create_directories(app_dir());
  }

  [[nodiscard]] std::string app_dir() const { return config_.path() + "/VeltoChat"; }
  [[nodiscard]] std::string data_dir() const { return app_dir() + "/WebView2Data"; }
  [[nodiscard]] std::string sound_log() const { return config_.path() + "/sounds.txt"; }
  [[nodiscard]] std::string sounds() const { return fs::exists(sound_log()) ? read_file(sound_log()) : ""; }

  void start(const std::vector<std::string>& environment = {}) {
    std::vector<std::string> env{"XDG_CONFIG_HOME=" + config_.path(), "LD_PRELOAD=" VELTO_SOUND_RECORDER,
                                 "VELTO_SOUND_LOG=" + sound_log()};
    env.insert(env.end(), environment.begin(), environment.end());
    client_ = std::make_unique<ChildProcess>(std::vector<std::string>{VELTO_CLIENT_PATH}, env);
    ASSERT_NO_FATAL_FAILURE(wait_for_client_window(*client_, window_));
    ASSERT_TRUE(eventually([] { return beacon_seen("load"); }, 30s)) << "the chat page did not load";
  }

  void close_and_expect_exit_code_zero() { velto::testing::close_and_expect_exit_code_zero(*client_, window_); }

  // Has a message arrive from someone else and waits until the page has
  // told the client about it and got its answer.
  static void message_arrives(const std::string& text) {
    const std::size_t before = count_of(fetch("/test/beacons"), "\"notify-resolved\"");
    fetch("/test/message?author=Anna&text=" + text);
    ASSERT_TRUE(eventually([&] { return count_of(fetch("/test/beacons"), "\"notify-resolved\"") > before; }, 15s))
        << "the page did not pass the message on";
  }

  // The urgency bit (XUrgencyHint) of the window's WM_HINTS flags.
  [[nodiscard]] bool urgent() const {
    const std::string hints = shell("xprop -id " + std::to_string(window_) + " -f WM_HINTS 32x '=$0' WM_HINTS");
    const auto equals = hints.find('=');
    return equals != std::string::npos && (std::strtoul(hints.c_str() + equals + 1, nullptr, 16) & 0x100U) != 0;
  }

  TempDir config_;
  std::unique_ptr<ChildProcess> client_;
  unsigned long window_ = 0;
};

TEST_F(ChatView, ShowsTheChatPageOverTheWholeWindow) {
  start();
  EXPECT_TRUE(eventually([] { return beacon_seen("viewport", "400x700"); }, 10s)) << "the page is not 400 × 700";
  TempDir shots;
  const std::string shot = shots.path() + "/window.png";
  shell("import -window " + std::to_string(window_) + " " + shot);
  const std::string colours = shell("identify -format '%k' " + shot);
  EXPECT_GT(std::atoi(colours.c_str()), 10) << "the window looks blank";

  shell("xdotool windowsize " + std::to_string(window_) + " 200 300");
  EXPECT_TRUE(eventually([] { return beacon_seen("viewport", "290x400"); }, 10s))
      << "the page does not cover the window at its minimum size";
  shell("xdotool windowsize " + std::to_string(window_) + " 500 600");
  EXPECT_TRUE(eventually([] { return beacon_seen("viewport", "500x600"); }, 10s));
  close_and_expect_exit_code_zero();
  EXPECT_FALSE(fs::is_empty(data_dir())) << "the browser kept nothing in its data directory";
}

TEST_F(ChatView, TheBrowserGetsTheClientsSwitchesWhateverTheParentSet) {
  const std::string expected = "--user-data-dir=\"" + data_dir() + "\" --disk-cache-dir=\"" + data_dir() + "\"";
  start({std::string(kVariable) + "=--disk-cache-dir=/elsewhere --lang=de"});
  const auto seen = browser_environment(client_->pid(), kVariable);
  ASSERT_TRUE(seen) << "no browser process found below the client";
  EXPECT_EQ(*seen, expected);
  close_and_expect_exit_code_zero();
}

TEST_F(ChatView, AFileInThePlaceOfTheDataDirectoryIsLeftAlone) {
  std::ofstream(data_dir()) << "not a directory";
  start();
  const auto seen = browser_environment(client_->pid(), kVariable);
  ASSERT_TRUE(seen);
  EXPECT_NE(seen->find("--user-data-dir=\"" + data_dir() + "\""), std::string::npos);
  close_and_expect_exit_code_zero();
  EXPECT_TRUE(fs::is_regular_file(data_dir()));
  EXPECT_EQ(read_file(data_dir()), "not a directory");
}

TEST_F(ChatView, AMessageAlertsOnlyAUserWhoIsLookingElsewhere) {
  start();
  shell("xdotool windowactivate --sync " + std::to_string(window_));
  message_arrives("in%20front");
  EXPECT_FALSE(urgent()) << "alerted while the user was looking at the client";
  EXPECT_EQ(sounds(), "");

  // Another program in front.
  ChildProcess other({"xmessage", "-title", "velto-other", "another program"});
  const auto other_window = find_window("^velto-other$");
  ASSERT_TRUE(other_window);
  shell("xdotool windowactivate --sync " + std::to_string(*other_window));
  message_arrives("behind");
  EXPECT_TRUE(eventually([&] { return urgent(); })) << "no urgency hint while another window was in front";
  EXPECT_EQ(sounds(), "message-new-instant\n");
  const auto first_sound = std::chrono::steady_clock::now();

  // Coming back to the client clears the hint.
  shell("xdotool windowactivate --sync " + std::to_string(window_));
  EXPECT_TRUE(eventually([&] { return !urgent(); })) << "the urgency hint stayed after the user came back";

  // Minimised, once the client may sound again.
  shell("xdotool windowminimize --sync " + std::to_string(window_));
  std::this_thread::sleep_until(first_sound + kSoundQuietTime);
  message_arrives("minimised");
  EXPECT_TRUE(eventually([&] { return urgent(); })) << "no urgency hint while minimised";
  EXPECT_EQ(sounds(), "message-new-instant\nmessage-new-instant\n");
  const auto second_sound = std::chrono::steady_clock::now();

  // A burst of messages within the quiet time sounds no more. (On a machine
  // so loaded that the burst took longer, a third sound would be right.)
  const std::size_t before = count_of(fetch("/test/beacons"), "\"notify-resolved\"");
  for (int i = 0; i < 5; ++i) {
    fetch("/test/message?author=Anna&text=burst" + std::to_string(i));
  }
  ASSERT_TRUE(eventually([&] { return count_of(fetch("/test/beacons"), "\"notify-resolved\"") >= before + 5; }, 30s));
  if (std::chrono::steady_clock::now() - second_sound < kSoundQuietTime) {
    EXPECT_EQ(sounds(), "message-new-instant\nmessage-new-instant\n");
  }
  close_and_expect_exit_code_zero();
}

// The size the page reported last, "<width>x<height>" in CSS pixels.
std::string last_viewport() {
  const std::string beacons = fetch("/test/beacons");
  const std::string marker = "\"event\": \"viewport\", \"id\": \"";
  const auto at = beacons.rfind(marker);
  if (at == std::string::npos) {
    return "";
  }
  const auto start = at + marker.size();
  return beacons.substr(start, beacons.find('"', start) - start);
}

int viewport_width() {
  return std::atoi(last_viewport().c_str());
}

TEST_F(ChatView, TypingRightAfterStartReachesTheMessageField) {
  start();
  // As a user would: the window came up in front and nothing was clicked.
  ASSERT_TRUE(eventually([&] { return shell("xdotool getactivewindow") == std::to_string(window_) + "\n"; }, 10s))
      << "the window manager did not put the client in front";
  shell("xdotool type --delay 30 'typed at once'");
  shell("xdotool key Return");
  EXPECT_TRUE(eventually([] { return fetch("/chat/messages").find("typed at once") != std::string::npos; }, 10s))
      << "the keys did not reach the page's message field";
  close_and_expect_exit_code_zero();
}

TEST_F(ChatView, ZoomAndReloadKeys) {
  start();
  shell("xdotool windowactivate --sync " + std::to_string(window_));
  ASSERT_TRUE(eventually([] { return last_viewport() == "400x700"; }, 10s));

  shell("xdotool key ctrl+plus");
  EXPECT_TRUE(eventually([] { return viewport_width() < 400; }, 10s)) << "Ctrl+plus did not enlarge the page";
  shell("xdotool key ctrl+0");
  EXPECT_TRUE(eventually([] { return last_viewport() == "400x700"; }, 10s)) << "Ctrl+0 did not reset the zoom";
  shell("xdotool key ctrl+minus");
  EXPECT_TRUE(eventually([] { return viewport_width() > 400; }, 10s)) << "Ctrl+minus did not shrink the page";
  shell("xdotool key ctrl+0");
  ASSERT_TRUE(eventually([] { return last_viewport() == "400x700"; }, 10s));

  // The wheel with Ctrl held, over the page.
  shell("xdotool mousemove --window " + std::to_string(window_) + " 200 300");
  shell("xdotool keydown ctrl click 4 keyup ctrl");
  EXPECT_TRUE(eventually([] { return viewport_width() < 400; }, 10s)) << "Ctrl+wheel up did not enlarge the page";
  shell("xdotool key ctrl+0");
  ASSERT_TRUE(eventually([] { return last_viewport() == "400x700"; }, 10s));

  const std::size_t loads = count_of(fetch("/test/beacons"), "\"event\": \"load\"");
  shell("xdotool key F5");
  EXPECT_TRUE(eventually([&] { return count_of(fetch("/test/beacons"), "\"event\": \"load\"") > loads; }, 15s))
      << "F5 did not reload the page";
  shell("xdotool key ctrl+r");
  EXPECT_TRUE(eventually([&] { return count_of(fetch("/test/beacons"), "\"event\": \"load\"") > loads + 1; }, 15s))
      << "Ctrl+R did not reload the page";
  close_and_expect_exit_code_zero();
}

// The desktop's notification service, stood in for on the test's session
// bus; it notes every call in a file.
class NotificationService {
 public:
  explicit NotificationService(std::string log) : log_(std::move(log)), process_({VELTO_NOTIFICATION_SERVICE, log_}) {}
  [[nodiscard]] std::string calls() const { return fs::exists(log_) ? read_file(log_) : ""; }
  [[nodiscard]] bool ready() const {
    return eventually([&] { return calls().find("ready\n") != std::string::npos; }, 10s);
  }

 private:
  std::string log_;
  ChildProcess process_;
};

TEST_F(ChatView, TheChatsNotificationsReachTheDesktop) {
  NotificationService service(config_.path() + "/notifications.txt");
  ASSERT_TRUE(service.ready()) << "the stand-in did not get the notification service's name";
  fetch("/test/chat-setup?notifications=1");
  start();
  // The chat knows it may before it asks.
  EXPECT_TRUE(eventually([] { return beacon_seen("notification-permission", "granted"); }, 10s));
  // It asks at the first key, and is granted.
  shell("xdotool windowactivate --sync " + std::to_string(window_));
  shell("xdotool type x");
  EXPECT_TRUE(eventually([] { return beacon_seen("permission-answer", "granted"); }, 10s));

  message_arrives("are%20you%20there");
  EXPECT_TRUE(eventually([&] { return service.calls().find("\tAnna\tare you there\n") != std::string::npos; }, 10s))
      << "no notification reached the service; it saw:\n"
      << service.calls();
  close_and_expect_exit_code_zero();
}

TEST_F(ChatView, AFrameOfAnotherOriginMayNotNotify) {
  NotificationService service(config_.path() + "/notifications.txt");
  ASSERT_TRUE(service.ready());
  // The same server under its address is another origin than the chat's.
  const std::string frame =
      std::string("https%3A%2F%2F127.0.0.1%3A") + std::getenv("VELTO_TEST_SERVER_PORT") + "%2Ftest%2Fpermission-frame";
  fetch("/test/chat-setup?notifications=1&frame=" + frame);
  start();
  ASSERT_TRUE(eventually([] { return fetch("/test/beacons").find("\"frame-load\"") != std::string::npos; }, 10s))
      << "the frame did not load";
  // A click into the frame, which lies over the top of the page, makes it ask.
  shell("xdotool windowactivate --sync " + std::to_string(window_));
  shell("xdotool mousemove --window " + std::to_string(window_) + " 30 30 click 1");
  EXPECT_TRUE(eventually([] { return beacon_seen("frame-permission", "denied"); }, 10s));
  EXPECT_FALSE(beacon_seen("frame-permission", "granted"));
  // The chat itself still may.
  EXPECT_TRUE(beacon_seen("notification-permission", "granted"));
  close_and_expect_exit_code_zero();
}

}  // namespace
}  // namespace velto::testing
