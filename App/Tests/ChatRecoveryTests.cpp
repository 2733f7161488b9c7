// How the chat comes back by itself, as a user meets it: the page's process
// is killed under the real client, the server is down when the client
// starts and comes up later, or shows a certificate nobody vouches for.
// What the window shows is read from screenshots; the server says what
// reached it.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ClientProcess.h"
#include "Desktop.h"
#include "LocalServer.h"

namespace velto::testing {
namespace {

namespace fs = std::filesystem;

std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

// The browser's processes that render pages, below the client.
std::vector<pid_t> web_processes(pid_t client) {
  std::vector<pid_t> found;
  for (const pid_t pid : descendants(client)) {
    // The kernel keeps 15 bytes of the name.
    if (process_name(pid).rfind("WebKitWebProces", 0) == 0) {
      found.push_back(pid);
    }
  }
  return found;
}

// What a screenshot of the window shows.
class Screenshot {
 public:
  explicit Screenshot(unsigned long window) {
    const TempDir dir;
    const std::string file = dir.path() + "/shot.ppm";
    shell("import -window " + std::to_string(window) + " -depth 8 " + file + " 2>/dev/null");
    const std::string data = read_file(file);
    int max = 0;
    int consumed = 0;
    if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &width_, &height_, &max, &consumed) == 3 && max == 255 &&
        data.size() >= static_cast<std::size_t>(consumed) + 1 + static_cast<std::size_t>(width_ * height_ * 3)) {
      pixels_ = data.substr(static_cast<std::size_t>(consumed) + 1);
    } else {
      width_ = height_ = 0;
    }
  }

  // 0xRRGGBB.
  [[nodiscard]] unsigned long at(int x, int y) const {
    const std::size_t i =
        (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)) * 3;
    const auto byte = [&](std::size_t k) { return static_cast<unsigned long>(static_cast<unsigned char>(pixels_[k])); };
    return byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
  }

  // The background of the client's own pages in the corner.
  [[nodiscard]] bool own_page() const {
    return width_ > 0 && at(2, 2) == kOwnBackground && at(width_ - 3, height_ - 3) == kOwnBackground;
  }

  // Where to click the page's button: the lowest thing on the page, drawn
  // as a box whose edge is a line wider than any letter. Nothing when the
  // page has no button.
  [[nodiscard]] std::optional<std::pair<int, int>> button() const {
    if (!own_page()) {
      return std::nullopt;
    }
    for (int y = height_ - 1; y >= 0; --y) {
      int first = -1;
      int longest = 0;
      int run = 0;
      for (int x = 0; x < width_; ++x) {
        if (at(x, y) != kOwnBackground) {
          if (run == 0) {
            first = x;
          }
          ++run;
          longest = std::max(longest, run);
        } else {
          run = 0;
        }
      }
      if (first < 0) {
        continue;
      }
      if (longest < 60) {
        return std::nullopt;  // text: the offline page has no button
      }
      // Inside the box, above its lower edge.
      return std::make_pair(width_ / 2, y - 8);
    }
    return std::nullopt;
  }

 private:
  static constexpr unsigned long kOwnBackground = 0xf4f5f7;
  int width_ = 0;
  int height_ = 0;
  std::string pixels_;
};

void click(unsigned long window, std::pair<int, int> at) {
  shell("xdotool mousemove --window " + std::to_string(window) + " " + std::to_string(at.first) + " " +
        std::to_string(at.second) + " click 1");
}

// The client in a window of its own, closed by the window manager at the end.
class ClientTest : public ::testing::Test {
 protected:
  // Before the directories it uses go.
  void TearDown() override { client_.reset(); }

  void open_client(const std::vector<std::string>& argv, const std::string& config) {
    client_ = std::make_unique<ChildProcess>(argv, std::vector<std::string>{"XDG_CONFIG_HOME=" + config});
    ASSERT_NO_FATAL_FAILURE(wait_for_client_window(*client_, window_));
  }

  void close_and_expect_exit_code_zero() { velto::testing::close_and_expect_exit_code_zero(*client_, window_); }

  std::unique_ptr<ChildProcess> client_;
  unsigned long window_ = 0;
};

// ---- With the server up: the page's process dies.

class ChatRecovery : public ClientTest {
 protected:
  void SetUp() override {
    if (std::getenv("VELTO_OFFLINE") != nullptr) {
      GTEST_SKIP() << "needs the server";
    }
    if (const auto why = end_to_end_unavailable()) {
      GTEST_SKIP() << *why;
    }
  }

  static std::size_t loads() { return count_of(server_fetch("/test/beacons"), R"("event": "load")"); }

  void start() {
    open_client({VELTO_CLIENT_PATH}, config_.path());
    ASSERT_TRUE(eventually([] { return loads() == 1; }, 30s)) << "the chat page did not load";
  }

  // Kills the page's process, as a crash or the system running out of
  // memory would end it.
  void kill_page_process() {
    const std::vector<pid_t> processes = web_processes(client_->pid());
    ASSERT_FALSE(processes.empty()) << "no page process below the client";
    for (const pid_t pid : processes) {
      kill(pid, SIGKILL);
    }
  }

  TempDir config_;
};

TEST_F(ChatRecovery, AKilledPageComesBackByItself) {
  start();
  kill_page_process();
  EXPECT_TRUE(eventually([] { return loads() == 2; }, 20s)) << "the chat page did not come back";
  EXPECT_FALSE(Screenshot(window_).own_page());
  close_and_expect_exit_code_zero();
}

TEST_F(ChatRecovery, APageThatKeepsDyingWaitsForTheUser) {
  start();
  for (std::size_t n = 2; n <= 4; ++n) {
    kill_page_process();
    ASSERT_TRUE(eventually([&] { return loads() == n; }, 20s)) << "the chat page did not come back for load " << n;
  }
  kill_page_process();
  std::optional<std::pair<int, int>> button;
  ASSERT_TRUE(eventually([&] { return (button = Screenshot(window_).button()).has_value(); }, 20s))
      << "no page with a Reload button after the fourth crash";

  // It stays there: no reload, no new page process.
  const std::vector<pid_t> processes = web_processes(client_->pid());
  EXPECT_FALSE(eventually([&] { return loads() > 4 || web_processes(client_->pid()) != processes; }, 6s, 200ms))
      << "the client went on reloading a page that kept dying";

  click(window_, *button);
  EXPECT_TRUE(eventually([] { return loads() == 5; }, 20s)) << "the Reload button did not bring the chat back";
  close_and_expect_exit_code_zero();
}

// ---- Without a server at first: a private network in which nothing
// listens until the test starts a server on the client's port.

class ChatRecoveryOffline : public ClientTest {
 protected:
  void SetUp() override {
    if (!have_display() || std::getenv("VELTO_OFFLINE") == nullptr) {
      GTEST_SKIP() << "runs in a private network without a server (Scripts/with-test-server --no-server)";
    }
    // The test CA, made before the client starts so that it trusts it.
    int status = -1;
    shell("python3 '" VELTO_SERVER_SCRIPT "' --init-only --state-dir '" + state() + "' >/dev/null", &status);
    ASSERT_EQ(status, 0) << "could not make the test CA";
  }

  [[nodiscard]] std::string state() const { return dir_.path() + "/state"; }
  [[nodiscard]] std::string log() const { return dir_.path() + "/server.log"; }
  [[nodiscard]] std::string log_text() const { return fs::exists(log()) ? read_file(log()) : ""; }

  static std::string port() {
    const std::string host = VELTO_SERVER_HOST;
    return host.substr(host.rfind(':') + 1);
  }

  void start_client() {
    started_ = std::chrono::steady_clock::now();
    // Trusting the test CA, as the server will use it.
    open_client({VELTO_TRUSTED_SCRIPT, "--state-dir", state(), "--", VELTO_CLIENT_PATH}, dir_.path());
  }

  void start_server(const std::vector<std::string>& options = {}) {
    const std::string ready = dir_.path() + "/ready.json";
    std::vector<std::string> argv{
        "python3", VELTO_SERVER_SCRIPT, "--port", port(),         "--state-dir", state(), "--message-interval",
        "0",       "--log-file",        log(),    "--ready-file", ready};
    argv.insert(argv.end(), options.begin(), options.end());
    server_ = std::make_unique<ChildProcess>(argv);
    ASSERT_TRUE(eventually([&] { return fs::exists(ready); }, 30s)) << "the server did not start";
  }

  // A GET on the server, trusting the test CA as the client does.
  [[nodiscard]] std::string fetch(const std::string& path) const {
    return shell("curl -sS --max-time 10 --cacert '" + state() + "/ca.pem' '" + std::string(kServer) + path + "'");
  }

  TempDir dir_;
  std::chrono::steady_clock::time_point started_;
  std::unique_ptr<ChildProcess> server_;
};

TEST_F(ChatRecoveryOffline, TheChatLoadsWhenTheServerComesUp) {
  start_client();
  ASSERT_TRUE(eventually([&] { return Screenshot(window_).own_page(); }, 20s)) << "no page saying the server is away";
  EXPECT_FALSE(Screenshot(window_).button()) << "the offline page asks the user to act";
  // The server stays away for a while: the client tries and fails meanwhile.
  eventually([&] { return std::chrono::steady_clock::now() - started_ >= 5s; }, 10s, 100ms);

  start_server();
  // The client tries again after 2, 4, 8 s: well within a minute.
  EXPECT_TRUE(
      eventually([&] { return fetch("/test/beacons").find(R"("event": "load")") != std::string::npos; }, 30s, 200ms))
      << "the chat page did not load by itself";
  EXPECT_FALSE(Screenshot(window_).own_page());
  close_and_expect_exit_code_zero();
}

TEST_F(ChatRecoveryOffline, AnUntrustedCertificateStopsTheClient) {
  // The server's note of a handshake that the client broke off because it
  // did not trust the certificate.
  constexpr char kRefused[] = "alert unknown ca";
  start_server({"--untrusted"});
  start_client();
  std::optional<std::pair<int, int>> button;
  ASSERT_TRUE(eventually([&] { return (button = Screenshot(window_).button()).has_value(); }, 20s))
      << "no page saying the server could not be verified";
  const std::size_t refused = count_of(log_text(), kRefused);
  EXPECT_GE(refused, 1U) << log_text();

  // Another try would come after 2 s, the next 4 s later.
  EXPECT_FALSE(eventually([&] { return count_of(log_text(), kRefused) > refused; }, 10s, 200ms))
      << "the client kept trying: " << log_text();
  // Nothing went through: no request reached the server.
  EXPECT_EQ(log_text().find("\"GET "), std::string::npos) << log_text();
  close_and_expect_exit_code_zero();
}

}  // namespace
}  // namespace velto::testing
