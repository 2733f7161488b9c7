// The update offer at start-up, as a user meets it: the real client against
// the local server, which publishes versions and a test updater on request.
// The question is answered with the keyboard, as a user would.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "ClientProcess.h"
#include "Desktop.h"
#include "LocalServer.h"
#include "UserDesktop.h"

namespace velto::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kQuestionTitle[] = "^Доступно обновление!$";
constexpr char kMainTitle[] = "Velto Чат";
constexpr char kDescriptorCopy[] = "velto_chat_version.ini";

// Writes its arguments, one a line, beside itself.
constexpr char kTestUpdater[] = "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/arguments.txt\"\n";
// An updater of before, kept in the app data directory: notes that it ran.
constexpr char kOldUpdater[] = "#!/bin/sh\ntouch \"$(dirname \"$0\")/old-updater-ran.txt\"\n";

std::string fetch(const std::string& path) {
  return server_fetch(path);
}

class UpdateCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto why = end_to_end_unavailable()) {
      GTEST_SKIP() << *why;
    }
    updater_source_ = temp_.path() + "/published-updater";
    std::ofstream(updater_source_) << kTestUpdater;
  }

  void TearDown() override { fetch("/test/reset"); }

  [[nodiscard]] std::string app_dir() const { return config_.path() + "/VeltoChat"; }
  [[nodiscard]] std::string updater_path() const { return app_dir() + "/Updater/updater"; }
  [[nodiscard]] std::string arguments_path() const { return app_dir() + "/Updater/arguments.txt"; }

  static void publish(const std::string& version) { fetch("/test/publish?version=" + url_encoded(version)); }
  static void publish_descriptor(const std::string& text) { fetch("/test/publish?descriptor=" + url_encoded(text)); }
  void publish_updater() const { fetch("/test/publish?updater_file=" + url_encoded(updater_source_)); }

  [[nodiscard]] static bool updater_was_requested() {
    return fetch("/test/requests").find("\"/uploads/chat_files/updater\"") != std::string::npos;
  }

  void start() {
    client_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{client_path_},
        std::vector<std::string>{"XDG_CONFIG_HOME=" + config_.path(), "TMPDIR=" + temp_.path()});
  }

  // The update question, when it comes up.
  [[nodiscard]] static std::optional<unsigned long> question(std::chrono::milliseconds timeout = 10s) {
    return find_window(kQuestionTitle, timeout);
  }

  // Waits for the update question and answers it with `keys`.
  [[nodiscard]] static bool answer_question(const std::string& keys) {
    const auto box = question();
    if (box) {
      shell("xdotool windowactivate --sync " + std::to_string(*box) + " key --clearmodifiers " + keys);
    }
    return box.has_value();
  }

  void close_and_expect_exit_code_zero(unsigned long window) {
    ASSERT_NO_FATAL_FAILURE(velto::testing::close_and_expect_exit_code_zero(*client_, window));
    if (!copy_name_taken_) {
      EXPECT_FALSE(fs::exists(temp_.path() + "/" + kDescriptorCopy)) << "the descriptor copy was left behind";
    }
  }

  void expect_exit_code_zero_without_window() {
    const auto status = client_->wait(15s);
    ASSERT_TRUE(status) << "the client kept running after the updater was started";
    EXPECT_EQ(*status, 0);
    EXPECT_FALSE(find_window("^" + std::string(kMainTitle), 0ms)) << "the chat window was shown";
  }

  // The client's first window; it must be the chat window, not a question.
  void expect_chat_window_without_question(std::chrono::milliseconds wait = 10s) {
    const auto window = find_window_of_pid(client_->pid(), wait);
    ASSERT_TRUE(window) << "no window appeared";
    EXPECT_EQ(window_title(*window).rfind(kMainTitle, 0), 0U) << "first window: " << window_title(*window);
    EXPECT_FALSE(question(0ms)) << "the update question was shown";
    close_and_expect_exit_code_zero(*window);
  }

  TempDir config_;
  TempDir temp_;
  // Another user's file holds the copy's name.
  bool copy_name_taken_ = false;
  std::string client_path_ = VELTO_CLIENT_PATH;
  std::string updater_source_;
  std::unique_ptr<ChildProcess> client_;
};

TEST_F(UpdateCheck, YesDownloadsTheUpdaterStartsItAndEndsTheClient) {
  fs::create_directories(app_dir());
  publish("0.2.16.39");
  publish_updater();
  start();
  ASSERT_TRUE(answer_question("Return")) << "no update question";
  expect_exit_code_zero_without_window();

  ASSERT_TRUE(eventually([&] { return fs::exists(arguments_path()); }, 10s)) << "the updater did not run";
  EXPECT_EQ(read_file(arguments_path()), fs::canonical(VELTO_CLIENT_PATH).string() + "\n" + kServer +
                                             "/uploads/chat_files/velto_web-chat_client-linux.tar.gz\n" +
                                             std::to_string(client_->pid()) + "\n");
  EXPECT_EQ(read_file(updater_path()), kTestUpdater);
  struct stat info {};
  ASSERT_EQ(::stat(updater_path().c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IXUSR, 0U) << "the updater was not made executable";
  EXPECT_FALSE(fs::exists(temp_.path() + "/" + kDescriptorCopy));
}

TEST_F(UpdateCheck, AnUpdaterAlreadyThereIsStartedWithoutDownloadingIt) {
  fs::create_directories(app_dir() + "/Updater");
  fs::copy_file(updater_source_, updater_path());
  fs::permissions(updater_path(), fs::perms::owner_all, fs::perm_options::replace);
  publish("0.2.16.39");
  publish_updater();
  start();
  ASSERT_TRUE(answer_question("Return"));
  expect_exit_code_zero_without_window();
  EXPECT_TRUE(eventually([&] { return fs::exists(arguments_path()); }, 10s)) << "the updater did not run";
  EXPECT_FALSE(updater_was_requested());
}

// A server that answers 200 with a page instead of the updater: the page is
// not kept, nothing is started, and the chat opens.
TEST_F(UpdateCheck, APageServedAsTheUpdaterIsNotKept) {
  fs::create_directories(app_dir());
  const std::string page = temp_.path() + "/page.html";
  std::ofstream(page) << "<!DOCTYPE html><html><body>Maintenance</body></html>\n";
  publish("0.2.16.39");
  fetch("/test/publish?updater_file=" + url_encoded(page));
  start();
  ASSERT_TRUE(answer_question("Return"));
  const auto window = find_window("^" + std::string(kMainTitle));
  ASSERT_TRUE(window) << "the chat window did not open";
  EXPECT_TRUE(updater_was_requested());
  EXPECT_FALSE(fs::exists(updater_path()));
  close_and_expect_exit_code_zero(*window);
}

// Such a page kept by an older client is replaced by the real updater.
TEST_F(UpdateCheck, AKeptUpdaterThatIsNoProgramIsDownloadedAgain) {
  fs::create_directories(app_dir() + "/Updater");
  std::ofstream(updater_path()) << "<html><body>Not Found</body></html>\n";
  publish("0.2.16.39");
  publish_updater();
  start();
  ASSERT_TRUE(answer_question("Return"));
  expect_exit_code_zero_without_window();
  EXPECT_TRUE(eventually([&] { return fs::exists(arguments_path()); }, 10s)) << "the updater did not run";
  EXPECT_TRUE(updater_was_requested());
  EXPECT_EQ(read_file(updater_path()), kTestUpdater);
}

// A client killed while the updater is still on its way leaves no part of
// it under the updater's name, and the next start downloads it again.
TEST_F(UpdateCheck, AKillDuringTheUpdaterDownloadLeavesNoUpdater) {
  fs::create_directories(app_dir());
  // Padded to a few KiB, so the slow line takes long enough to be caught.
  const std::string big = temp_.path() + "/big-updater";
  std::ofstream(big) << kTestUpdater << std::string(8192, '#') << "\n";
  publish("0.2.16.39");
  fetch("/test/publish?updater_drip_ms=100&updater_file=" + url_encoded(big));
  start();
  ASSERT_TRUE(answer_question("Return"));
  ASSERT_TRUE(eventually([&] { return updater_was_requested(); }, 20s));
  // Some of it has arrived beside the updater's name.
  const auto partial_exists = [&] {
    if (!fs::exists(app_dir() + "/Updater")) {
      return false;
    }
    for (const auto& item : fs::directory_iterator(app_dir() + "/Updater")) {
      if (item.path().filename().string().find(".velto-new-") != std::string::npos && item.file_size() > 0) {
        return true;
      }
    }
    return false;
  };
  ASSERT_TRUE(eventually(partial_exists, 20s));
  ::kill(client_->pid(), SIGKILL);
  static_cast<void>(client_->wait(10s));
  EXPECT_FALSE(fs::exists(updater_path())) << "a cut updater was left under its name";

  // The next start is offered the update again and gets the whole updater.
  fetch("/test/publish?updater_drip_ms=0");
  start();
  ASSERT_TRUE(answer_question("Return"));
  expect_exit_code_zero_without_window();
  EXPECT_TRUE(eventually([&] { return fs::exists(arguments_path()); }, 10s)) << "the updater did not run";
  EXPECT_EQ(read_file(updater_path()), read_file(big));
}

TEST_F(UpdateCheck, NoOpensTheChatWindow) {
  fs::create_directories(app_dir());
  publish("0.2.16.39");
  publish_updater();
  start();
  ASSERT_TRUE(answer_question("alt+n"));
  const auto window = find_window("^" + std::string(kMainTitle));
  ASSERT_TRUE(window) << "the chat window did not open after No";
  EXPECT_FALSE(updater_was_requested());
  EXPECT_FALSE(fs::exists(updater_path()));
  close_and_expect_exit_code_zero(*window);
}

TEST_F(UpdateCheck, NothingNewerMeansNoQuestion) {
  for (const char* version : {"0.2.16.38", "0.2.16.37", "0.1.99.99", "0.3.0", "0.2.16.x", "0.2.16.38.1"}) {
    SCOPED_TRACE(version);
    publish(version);
    start();
    expect_chat_window_without_question();
  }
  SCOPED_TRACE("chatvers only under a group line");
  publish_descriptor("[update]\r\nchatvers=1.0.0.0\r\n");
  start();
  expect_chat_window_without_question();
}

// A server that floods or drips its descriptor gets no say: the check gives
// up within its bounds and the chat window opens (the descriptors below would
// offer an update if they were read whole).
TEST_F(UpdateCheck, AHostileDescriptorOnlyDelaysTheWindow) {
  {
    SCOPED_TRACE("a descriptor of 8 MiB");
    publish("0.2.16.39");
    fetch("/test/publish?descriptor_padding=8388608");
    start();
    expect_chat_window_without_question();
  }
  {
    SCOPED_TRACE("a descriptor sent a byte every 0.9 s");
    fetch("/test/reset");
    publish("0.2.16.39");
    fetch("/test/publish?descriptor_drip_ms=900");
    start();
    // The bound is 15 s; the whole descriptor would take 18 s.
    expect_chat_window_without_question(60s);
  }
}

TEST_F(UpdateCheck, AnErrorPageIsNeverKeptAsTheUpdater) {
  fs::create_directories(app_dir());
  publish("0.2.16.39");  // and no updater: its URL answers 404
  start();
  ASSERT_TRUE(answer_question("Return"));
  const auto window = find_window("^" + std::string(kMainTitle));
  ASSERT_TRUE(window) << "the chat window did not open after the failed download";
  EXPECT_TRUE(updater_was_requested());
  EXPECT_FALSE(fs::exists(updater_path()));
  close_and_expect_exit_code_zero(*window);
}

// A link left under the descriptor copy's name (by a crash, or planted in a
// shared temporary folder) is neither written through nor able to stop the
// check: the copy takes the link's place.
// Another user's file under the copy's name (a shared temporary folder) is
// never read nor replaced, and does not stop the check.
TEST_F(UpdateCheck, AnotherUsersFileUnderTheCopysNameIsLeftAlone) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "making a file of another user needs root";
  }
  constexpr uid_t kNobody = 65534;
  const std::string planted = temp_.path() + "/" + kDescriptorCopy;
  const std::string lie = "chatvers=9.9.9.9\r\n";
  std::ofstream(planted) << lie;
  ASSERT_EQ(::chown(planted.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chmod(planted.c_str(), 0666), 0);
  copy_name_taken_ = true;
  {
    SCOPED_TRACE("nothing newer published: the planted file must not be read");
    start();
    expect_chat_window_without_question();
  }
  {
    SCOPED_TRACE("a newer release: the check still asks");
    publish("0.2.16.39");
    start();
    ASSERT_TRUE(answer_question("alt+n")) << "the planted file kept the check from asking";
    const auto window = find_window("^" + std::string(kMainTitle));
    ASSERT_TRUE(window);
    close_and_expect_exit_code_zero(*window);
  }
  EXPECT_EQ(read_file(planted), lie);
  struct stat info {};
  ASSERT_EQ(::stat(planted.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, kNobody);
  // Nothing of the client's is left beside it.
  for (const auto& item : fs::directory_iterator(temp_.path())) {
    EXPECT_EQ(item.path().filename().string().rfind("velto_chat_version-", 0), std::string::npos)
        << item.path() << " was left behind";
  }
  fs::remove(planted);
}

TEST_F(UpdateCheck, ALinkUnderTheDescriptorCopysNameIsNotFollowed) {
  const std::string victim = config_.path() + "/victim.txt";
  std::ofstream(victim) << "keep me";
  fs::create_symlink(victim, temp_.path() + "/" + kDescriptorCopy);
  publish("0.2.16.39");
  start();
  ASSERT_TRUE(answer_question("alt+n")) << "the link kept the check from asking";
  const auto window = find_window("^" + std::string(kMainTitle));
  ASSERT_TRUE(window);
  EXPECT_EQ(read_file(victim), "keep me");
  EXPECT_FALSE(fs::exists(temp_.path() + "/" + kDescriptorCopy)) << "the copy was not removed after the check";
  close_and_expect_exit_code_zero(*window);
}

// The client's twin built with the test update key: the updater must carry
// that key's signature, which the local server makes with its private half.
class SignedUpdateCheck : public UpdateCheck {
 protected:
  void SetUp() override {
    UpdateCheck::SetUp();
    if (IsSkipped()) {
      return;
    }
    client_path_ = VELTO_SIGNED_CLIENT_PATH;
    fetch("/test/publish?signing_key=" + url_encoded(VELTO_TEST_SIGNING_KEY));
  }

  [[nodiscard]] static bool signature_was_requested() {
    return fetch("/test/requests").find("\"/uploads/chat_files/updater.sig\"") != std::string::npos;
  }

  void keep_updater(const std::string& content) const {
    fs::create_directories(app_dir() + "/Updater");
    std::ofstream(updater_path()) << content;
    fs::permissions(updater_path(), fs::perms::owner_all, fs::perm_options::replace);
  }

  [[nodiscard]] std::string old_updater_mark() const { return app_dir() + "/Updater/old-updater-ran.txt"; }

  void expect_started_with_the_published_updater() {
    expect_exit_code_zero_without_window();
    ASSERT_TRUE(eventually([&] { return fs::exists(arguments_path()); }, 10s)) << "the updater did not run";
    EXPECT_EQ(read_file(arguments_path()).rfind(fs::canonical(client_path_).string() + "\n", 0), 0U);
    EXPECT_EQ(read_file(updater_path()), kTestUpdater);
    EXPECT_TRUE(signature_was_requested());
    expect_no_signature_left();
  }

  // Refused: nothing kept, nothing started, and the chat opens.
  void expect_refused_and_the_chat_window() {
    const auto window = find_window("^" + std::string(kMainTitle));
    ASSERT_TRUE(window) << "the chat window did not open";
    EXPECT_TRUE(updater_was_requested());
    EXPECT_TRUE(signature_was_requested());
    EXPECT_FALSE(fs::exists(updater_path())) << "the refused updater was kept";
    close_and_expect_exit_code_zero(*window);
    EXPECT_FALSE(fs::exists(arguments_path())) << "the refused updater ran";
    EXPECT_FALSE(fs::exists(old_updater_mark())) << "the updater of before ran";
    expect_no_signature_left();
  }

  void expect_no_signature_left() const {
    for (const auto& item : fs::directory_iterator(app_dir() + "/Updater")) {
      const std::string name = item.path().filename().string();
      EXPECT_TRUE(name == "updater" || name == "arguments.txt") << item.path() << " was left behind";
    }
  }

  // Publishes a newer version and the updater with a signature that is
  // `right`, `wrong` or `absent`; starts the client and says Yes.
  [[nodiscard]] bool offer_update_and_answer_yes(const std::string& signature) {
    fs::create_directories(app_dir());
    publish("0.2.16.39");
    publish_updater();
    fetch("/test/publish?signature=" + signature);
    start();
    return answer_question("Return");
  }
};

TEST_F(SignedUpdateCheck, ARightSignatureStartsTheUpdater) {
  ASSERT_TRUE(offer_update_and_answer_yes("right"));
  expect_started_with_the_published_updater();
  struct stat info {};
  ASSERT_EQ(::stat(updater_path().c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IXUSR, 0U) << "the updater was not made executable";
}

TEST_F(SignedUpdateCheck, AWrongSignatureKeepsNothingAndStartsNothing) {
  ASSERT_TRUE(offer_update_and_answer_yes("wrong"));
  expect_refused_and_the_chat_window();
}

TEST_F(SignedUpdateCheck, AMissingSignatureKeepsNothingAndStartsNothing) {
  ASSERT_TRUE(offer_update_and_answer_yes("absent"));
  expect_refused_and_the_chat_window();
}

TEST_F(SignedUpdateCheck, AKeptUpdaterThatVerifiesIsStartedWithoutDownloadingIt) {
  keep_updater(kTestUpdater);
  ASSERT_TRUE(offer_update_and_answer_yes("right"));
  expect_started_with_the_published_updater();
  EXPECT_FALSE(updater_was_requested());
}

// The updater on disk no longer matches the signature the server serves: it
// is deleted, never started, and the published one takes its place.
TEST_F(SignedUpdateCheck, AKeptUpdaterThatNoLongerVerifiesIsDownloadedAgain) {
  keep_updater(kOldUpdater);
  ASSERT_TRUE(offer_update_and_answer_yes("right"));
  expect_started_with_the_published_updater();
  EXPECT_TRUE(updater_was_requested());
  EXPECT_FALSE(fs::exists(old_updater_mark())) << "the updater of before ran";
}

// ... and when the new one does not verify either, nothing is left.
TEST_F(SignedUpdateCheck, AKeptUpdaterIsNotStartedWhenNothingVerifies) {
  keep_updater(kOldUpdater);
  ASSERT_TRUE(offer_update_and_answer_yes("wrong"));
  expect_refused_and_the_chat_window();
}

// Run without any server: nothing listens on the update server's port.
TEST(UpdateCheckOffline, TheWindowOpensWhenTheServerIsDown) {
  if (!have_display() || std::getenv("VELTO_OFFLINE") == nullptr) {
    GTEST_SKIP() << "runs in a private network without a server (Scripts/with-test-server --no-server)";
  }
  TempDir config;
  TempDir temp;
  ChildProcess client({VELTO_CLIENT_PATH}, {"XDG_CONFIG_HOME=" + config.path(), "TMPDIR=" + temp.path()});
  const auto window = find_window_of_pid(client.pid(), 10s);
  ASSERT_TRUE(window) << "no window after the failed connection";
  EXPECT_EQ(window_title(*window).rfind(kMainTitle, 0), 0U);
  EXPECT_TRUE(fs::is_empty(temp.path())) << "something was left in the temporary directory";
  shell("wmctrl -ic " + std::to_string(*window));
  const auto status = client.wait(15s);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 0);
}

}  // namespace
}  // namespace velto::testing
