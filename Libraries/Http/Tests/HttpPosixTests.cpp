#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Http/Http.h"
#include "HttpTestSupport.h"

namespace velto {
namespace {

namespace fs = std::filesystem;
using namespace velto::testing;

// The temporary directory may be shared between users: a link or FIFO
// under the target's name is never written through or opened; the finished
// download takes the name's place (a foreign one in a sticky folder cannot
// be replaced, and the download fails).
class HttpPlantedTarget : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_available()) << server_missing_reason(); }

  Scratch scratch_;
};

TEST_F(HttpPlantedTarget, LinkToAFileIsNotFollowed) {
  const fs::path victim = scratch_ / u8"victim.txt";
  const fs::path target = scratch_ / u8"descriptor.ini";
  ASSERT_TRUE(write_file(victim, "precious"));
  fs::create_symlink(victim, target);
  EXPECT_EQ(http_receive_file(server_url("/test/bytes/10"), text_of(target)), 1);
  EXPECT_FALSE(fs::is_symlink(target));
  EXPECT_EQ(file_contents(target), pattern_bytes(10));
  EXPECT_EQ(file_contents(victim), "precious");
}

TEST_F(HttpPlantedTarget, DanglingLinkCreatesNothingElsewhere) {
  const fs::path elsewhere = scratch_ / u8"created-through-the-link";
  const fs::path target = scratch_ / u8"descriptor.ini";
  fs::create_symlink(elsewhere, target);
  EXPECT_EQ(http_receive_file(server_url("/test/bytes/10"), text_of(target)), 1);
  EXPECT_FALSE(name_exists(elsewhere));
  EXPECT_EQ(file_contents(target), pattern_bytes(10));
}

TEST_F(HttpPlantedTarget, FifoDoesNotBlockTheDownload) {
  const fs::path target = scratch_ / u8"descriptor.ini";
  ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
  EXPECT_EQ(http_receive_file(server_url("/test/bytes/10"), text_of(target)), 1);
  EXPECT_TRUE(fs::is_regular_file(target));
}

TEST(HttpTargetMode, NewFileFollowsTheUmask) {
  ASSERT_TRUE(server_available()) << server_missing_reason();
  const Scratch scratch;
  const fs::path target = scratch / u8"download.bin";
  const mode_t saved = ::umask(027);
  const std::intptr_t result = http_receive_file(server_url("/test/bytes/10"), text_of(target));
  ::umask(saved);
  ASSERT_EQ(result, 1);
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace velto
