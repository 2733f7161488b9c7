// The client as a user meets it: started, looked at, dragged, minimised and
// closed on the test display with the standard X tools.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "ClientProcess.h"
#include "Desktop.h"

// Last: Xlib's macros (None, Bool) clash with GoogleTest's names.
#include <X11/Xlib.h>

namespace velto::testing {
namespace {

constexpr char kVersionedTitle[] = "Velto Чат 0.2.16.38";

// Every size the X server gives a window from the moment of construction:
// a connection of its own that watches the window's configure notifications.
class SizeWatch {
 public:
  explicit SizeWatch(unsigned long window) : display_(XOpenDisplay(nullptr)), window_(window) {
    if (display_) {
      XSelectInput(display_, window_, StructureNotifyMask);
      // The selection is in place before anything the caller does next.
      XSync(display_, False);
    }
  }
  ~SizeWatch() {
    if (display_) {
      XCloseDisplay(display_);
    }
  }
  SizeWatch(const SizeWatch&) = delete;
  SizeWatch& operator=(const SizeWatch&) = delete;

  [[nodiscard]] bool watching() const { return display_ != nullptr; }

  // The sizes reported since the last call.
  std::vector<std::pair<int, int>> sizes() {
    std::vector<std::pair<int, int>> seen;
    if (!display_) {
      return seen;
    }
    XSync(display_, False);
    for (int i = 0; i < 10000 && XPending(display_) > 0; ++i) {
      XEvent event{};
      XNextEvent(display_, &event);
      if (event.type == ConfigureNotify && event.xconfigure.window == window_) {
        seen.emplace_back(event.xconfigure.width, event.xconfigure.height);
      }
    }
    return seen;
  }

 private:
  Display* display_;
  unsigned long window_;
};

class ClientWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_display()) {
      GTEST_SKIP() << "needs an X display with a window manager (run under Scripts/with-display)";
    }
  }

  [[nodiscard]] std::string app_dir() const { return config_.path() + "/VeltoChat"; }
  [[nodiscard]] std::string settings_path() const { return app_dir() + "/WindowSettings.ini"; }

  void write_settings(const std::string& bytes) const {
    std::filesystem::create_directories(app_dir());
    std::ofstream(settings_path(), std::ios::binary) << bytes;
  }

  void start() {
    client_ = std::make_unique<ChildProcess>(std::vector<std::string>{VELTO_CLIENT_PATH},
                                             std::vector<std::string>{"XDG_CONFIG_HOME=" + config_.path()});
    ASSERT_NO_FATAL_FAILURE(wait_for_client_window(*client_, window_));
  }

  void close_and_expect_exit_code_zero() { velto::testing::close_and_expect_exit_code_zero(*client_, window_); }

  [[nodiscard]] Geometry client() const { return client_geometry(window_).value_or(Geometry{}); }
  [[nodiscard]] Geometry frame() const { return frame_geometry(window_).value_or(Geometry{}); }

  [[nodiscard]] bool has_state(const std::string& atom) const {
    return shell("xprop -id " + std::to_string(window_) + " _NET_WM_STATE").find(atom) != std::string::npos;
  }

  [[nodiscard]] bool maximised() const {
    return has_state("_NET_WM_STATE_MAXIMIZED_VERT") && has_state("_NET_WM_STATE_MAXIMIZED_HORZ");
  }

  [[nodiscard]] bool fills_the_screen() const {
    const Geometry screen = screen_size();
    const Geometry outer = frame();
    return outer.x == 0 && outer.y == 0 && outer.width == screen.width && outer.height == screen.height;
  }

  void set_maximised(bool on) {
    shell("wmctrl -ir " + std::to_string(window_) + " -b " + (on ? "add" : "remove") +
          ",maximized_vert,maximized_horz");
  }

  bool maximise() {
    set_maximised(true);
    return eventually([&] { return maximised() && fills_the_screen(); });
  }

  bool minimise() {
    shell("xdotool windowminimize " + std::to_string(window_));
    return eventually([&] { return has_state("_NET_WM_STATE_HIDDEN"); });
  }

  bool client_size_becomes(int width, int height) {
    return eventually([&] {
      const Geometry g = client();
      return g.width == width && g.height == height;
    });
  }

  void drag_to(int width, int height) {
    shell("xdotool windowsize " + std::to_string(window_) + " " + std::to_string(width) + " " + std::to_string(height));
  }

  static std::string settings_bytes(int x, int y, int width, int height) {
    return "\xEF\xBB\xBF\r\nWindowX = " + std::to_string(x) + "\r\nWindowY = " + std::to_string(y) +
           "\r\nWindowWidth = " + std::to_string(width) + "\r\nWindowHeight = " + std::to_string(height) + "\r\n";
  }

  TempDir config_;
  std::unique_ptr<ChildProcess> client_;
  unsigned long window_ = 0;
};

TEST_F(ClientWindow, OpensCentredWithItsTitleAndDefaultSize) {
  start();
  EXPECT_EQ(window_title(window_), "Velto Чат");
  ASSERT_TRUE(client_size_becomes(400, 700));
  const Geometry screen = screen_size();
  EXPECT_EQ(frame().x, (screen.width - frame().width) / 2);
  EXPECT_EQ(frame().y, (screen.height - frame().height) / 2);
}

TEST_F(ClientWindow, SpringsBackToTheMinimumSize) {
  start();
  ASSERT_TRUE(client_size_becomes(400, 700));
  drag_to(200, 300);
  EXPECT_TRUE(client_size_becomes(290, 400)) << "too small on both axes";
  drag_to(500, 300);
  EXPECT_TRUE(client_size_becomes(500, 400)) << "too short only";
  drag_to(500, 600);
  EXPECT_TRUE(client_size_becomes(500, 600)) << "large enough: left alone";
}

// The window manager knows the minimum size, so a drag below it never
// shows the window smaller, not even before the client's spring-back.
TEST_F(ClientWindow, TheWindowManagerKeepsTheMinimumSize) {
  start();
  ASSERT_TRUE(client_size_becomes(400, 700));
  std::string hints;
  EXPECT_TRUE(eventually([&] {
    hints = shell("xprop -id " + std::to_string(window_) + " WM_NORMAL_HINTS");
    return hints.find("program specified minimum size: 290 by 400") != std::string::npos;
  })) << hints;
  SizeWatch watch(window_);
  ASSERT_TRUE(watch.watching());
  std::vector<std::pair<int, int>> sizes;
  drag_to(200, 300);
  EXPECT_TRUE(eventually([&] {
    const auto more = watch.sizes();
    sizes.insert(sizes.end(), more.begin(), more.end());
    return client().width == 290 && client().height == 400;
  }));
  for (const auto& [width, height] : sizes) {
    EXPECT_GE(width, 290);
    EXPECT_GE(height, 400);
  }
  close_and_expect_exit_code_zero();
}

TEST_F(ClientWindow, ClosingItEndsTheProcessWithExitCodeZero) {
  start();
  close_and_expect_exit_code_zero();
}

TEST_F(ClientWindow, ComesBackWhereTheUserLeftIt) {
  std::filesystem::create_directories(app_dir());
  start();
  ASSERT_TRUE(client_size_becomes(400, 700));
  shell("xdotool windowmove " + std::to_string(window_) + " 130 90");
  drag_to(520, 610);
  ASSERT_TRUE(client_size_becomes(520, 610));
  ASSERT_TRUE(eventually([&] { return frame().x == 130 && frame().y == 90; }));
  close_and_expect_exit_code_zero();
  EXPECT_EQ(read_file(settings_path()), settings_bytes(130, 90, 520, 610));

  start();
  EXPECT_EQ(window_title(window_), kVersionedTitle);
  EXPECT_TRUE(client_size_becomes(520, 610));
  EXPECT_TRUE(eventually([&] { return frame().x == 130 && frame().y == 90; }))
      << "frame at " << frame().x << "," << frame().y;
  close_and_expect_exit_code_zero();
}

// The client never makes its app data directory; the browser makes its own
// data directory inside it, parents included, as the Windows browser does.
TEST_F(ClientWindow, WithoutItsDirectoryTheBrowserMakesItsOwnAndTheClientStillEnds) {
  start();
  close_and_expect_exit_code_zero();
  EXPECT_TRUE(std::filesystem::is_directory(app_dir() + "/WebView2Data"));
}

TEST_F(ClientWindow, ClosedWhileMinimisedItSavesTheGeometryItWasShownWith) {
  write_settings(settings_bytes(150, 120, 480, 560));
  start();
  ASSERT_TRUE(client_size_becomes(480, 560));
  ASSERT_TRUE(minimise());
  close_and_expect_exit_code_zero();
  EXPECT_EQ(read_file(settings_path()), settings_bytes(150, 120, 480, 560));
}

// Closed maximised, the client keeps the normal geometry and one more key;
// the next start comes up maximised over that geometry, which restoring
// gives back. A normal close afterwards writes the four keys alone again.
TEST_F(ClientWindow, ClosedWhileMaximisedItComesBackMaximised) {
  write_settings(settings_bytes(150, 120, 480, 560));
  start();
  ASSERT_TRUE(client_size_becomes(480, 560));
  ASSERT_TRUE(eventually([&] { return frame().x == 150 && frame().y == 120; }));
  ASSERT_TRUE(maximise());
  close_and_expect_exit_code_zero();
  EXPECT_EQ(read_file(settings_path()), settings_bytes(150, 120, 480, 560) + "WindowMaximized = 1\r\n");

  start();
  EXPECT_TRUE(eventually([&] { return maximised(); }));
  EXPECT_TRUE(eventually([&] { return fills_the_screen(); }))
      << "frame " << frame().width << "x" << frame().height << "+" << frame().x << "+" << frame().y;
  set_maximised(false);
  EXPECT_TRUE(client_size_becomes(480, 560)) << client().width << "x" << client().height;
  EXPECT_TRUE(eventually([&] { return frame().x == 150 && frame().y == 120; }))
      << "frame at " << frame().x << "," << frame().y;
  EXPECT_FALSE(maximised());
  close_and_expect_exit_code_zero();
  EXPECT_EQ(read_file(settings_path()), settings_bytes(150, 120, 480, 560));
}

// A maximised window that the user then minimises counts as minimised, as on
// Windows: its normal geometry is saved, without the maximised key.
TEST_F(ClientWindow, ClosedMinimisedFromMaximisedItSavesTheNormalGeometry) {
  write_settings(settings_bytes(150, 120, 480, 560));
  start();
  ASSERT_TRUE(client_size_becomes(480, 560));
  ASSERT_TRUE(maximise());
  ASSERT_TRUE(minimise());
  close_and_expect_exit_code_zero();
  EXPECT_EQ(read_file(settings_path()), settings_bytes(150, 120, 480, 560));
}

TEST_F(ClientWindow, APlaceOffEveryScreenIsBroughtToTheMiddle) {
  write_settings(settings_bytes(30000, 30000, 480, 560));
  start();
  EXPECT_EQ(window_title(window_), kVersionedTitle);
  ASSERT_TRUE(client_size_becomes(480, 560));
  const Geometry screen = screen_size();
  EXPECT_TRUE(eventually([&] {
    return frame().x == (screen.width - frame().width) / 2 && frame().y == (screen.height - frame().height) / 2;
  })) << "frame at "
      << frame().x << "," << frame().y;
  close_and_expect_exit_code_zero();
}

TEST_F(ClientWindow, ADamagedSettingsFileNeverStopsTheStart) {
  write_settings(std::string("\xEF\xBB\xBF[broken\r\n\0\0WindowWidth==x\n;", 29));
  start();
  EXPECT_EQ(window_title(window_), kVersionedTitle) << "the file exists and opens: the stored branch";
  EXPECT_TRUE(client_size_becomes(400, 700)) << "no usable key: the defaults";
  close_and_expect_exit_code_zero();
}

// The disk fills up while the client runs (here: a small file system of its
// own as the app data directory, filled to the last byte): closing cannot
// write the new geometry, and the settings of the last run stay whole.
TEST_F(ClientWindow, AFullDiskAtCloseKeepsTheOldSettings) {
  if (::geteuid() != 0 || shell("command -v unshare nsenter").empty()) {
    GTEST_SKIP() << "a file system of its own needs root, unshare and nsenter";
  }
  const std::string old = settings_bytes(120, 90, 500, 600);
  const std::string seed = config_.path() + "/seed.ini";
  const std::string out = config_.path() + "/after.ini";
  const std::string listing = config_.path() + "/after.txt";
  const std::string pid_file = config_.path() + "/client.pid";
  std::ofstream(seed, std::ios::binary) << old;
  std::filesystem::create_directories(app_dir());
  // The client runs in a mount namespace where the app data directory is a
  // 4 MiB tmpfs; what is left there afterwards is copied out.
  const std::string script =
      "mount -t tmpfs -o size=4m velto-full \"$APP\" && cp \"$SEED\" \"$APP/WindowSettings.ini\" || exit 99; "
      "\"$CLIENT\" & echo $! > \"$PID_FILE\"; wait $!; status=$?; "
      "cp \"$APP/WindowSettings.ini\" \"$OUT\"; ls -a \"$APP\" > \"$LISTING\"; exit $status";
  client_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"unshare", "--mount", "--propagation", "private", "sh", "-c", script},
      std::vector<std::string>{"XDG_CONFIG_HOME=" + config_.path(), "APP=" + app_dir(), "SEED=" + seed, "OUT=" + out,
                               "LISTING=" + listing, "PID_FILE=" + pid_file, "CLIENT=" VELTO_CLIENT_PATH});
  const auto window = find_window("^" + std::string(kVersionedTitle) + "$", 30s);
  ASSERT_TRUE(window) << "the client's window did not appear";
  window_ = *window;
  ASSERT_TRUE(client_size_becomes(500, 600));
  drag_to(700, 650);
  ASSERT_TRUE(client_size_becomes(700, 650));
  // Fill the client's file system to the last byte.
  const std::string pid = read_file(pid_file).substr(0, read_file(pid_file).find('\n'));
  shell("nsenter -t " + pid + " -m sh -c 'cat /dev/zero > \"" + app_dir() + "/filler\"' 2>/dev/null");
  close_and_expect_exit_code_zero();
  EXPECT_EQ(read_file(out), old) << "the settings were cut or emptied";
  EXPECT_EQ(read_file(listing).find(".velto-new-"), std::string::npos) << "a partial file was left: " << read_file(listing);
}

// Killed at any moment around the close, the client leaves the settings of
// the last run or those of this one, whole; never an empty or cut file.
TEST_F(ClientWindow, AKillAtAnyMomentOfTheCloseLeavesWholeSettings) {
  const std::string old = settings_bytes(120, 90, 500, 600);
  int old_seen = 0;
  int new_seen = 0;
  // The kill comes ever later after the close request.
  for (const int delay_us : {0, 500, 1000, 2000, 4000, 8000, 16000, 32000}) {
    SCOPED_TRACE("kill " + std::to_string(delay_us) + " us after the close");
    write_settings(old);
    start();
    ASSERT_TRUE(client_size_becomes(500, 600));
    drag_to(700, 650);
    ASSERT_TRUE(client_size_becomes(700, 650));
    shell("wmctrl -ic " + std::to_string(window_));
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    ::kill(client_->pid(), SIGKILL);
    static_cast<void>(client_->wait(15s));
    const std::string now = read_file(settings_path());
    if (now == old) {
      ++old_seen;
    } else {
      // Whole, in the layout the client writes, with the new size.
      EXPECT_NE(now.find("\r\nWindowWidth = 700\r\nWindowHeight = 650\r\n"), std::string::npos) << now;
      EXPECT_EQ(now.rfind("\xEF\xBB\xBF\r\nWindowX = ", 0), 0U) << now;
      ++new_seen;
    }
  }
  EXPECT_EQ(old_seen + new_seen, 8);
}

// A stored size of nothing takes the default of its key instead.
TEST_F(ClientWindow, AStoredSizeOfNothingGivesTheDefaultSize) {
  write_settings(settings_bytes(100, 80, 0, -5));
  start();
  EXPECT_EQ(window_title(window_), kVersionedTitle);
  EXPECT_TRUE(client_size_becomes(400, 700));
  close_and_expect_exit_code_zero();
}

}  // namespace
}  // namespace velto::testing
