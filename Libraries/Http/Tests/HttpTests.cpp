#include <gtest/gtest.h>

#include <array>
#include <string>
#include <thread>
#include <vector>

#include "Http/Http.h"
#include "HttpTestSupport.h"

namespace velto {
namespace {

namespace fs = std::filesystem;
using namespace velto::testing;

// Every test here talks to the run's local test server.
class HttpTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_available()) << server_missing_reason(); }

  Scratch scratch_;
};

// --- blocking downloads: what the file holds afterwards ----------------------

enum class Expect { kPattern, kContains, kNoFile };

struct DownloadCase {
  const char* name;
  const char* path;
  std::uint32_t flags;
  std::intptr_t result;
  Expect expect;
  std::size_t pattern_size = 0;    // kPattern: /test/bytes content of this size
  const char* contains = nullptr;  // kContains: text in the stored page
};

constexpr std::uint32_t kFail = HTTP_FAIL_ON_ERROR_STATUS;
constexpr std::uint32_t kNoRedirect = HTTP_NO_REDIRECT;

const DownloadCase kDownloadCases[] = {
    {"Body", "/test/bytes/1000", 0, 1, Expect::kPattern, 1000},
    {"EmptyBody", "/test/bytes/0", 0, 1, Expect::kPattern, 0},
    {"LargeBody", "/test/bytes/3000000", 0, 1, Expect::kPattern, 3000000},
    {"NoContent", "/test/status/204", 0, 1, Expect::kPattern, 0},
    // Any completed response counts: the error page is what the file holds.
    {"NotFoundPageStored", "/test/status/404", 0, 1, Expect::kContains, 0, "<title>404 Not Found</title>"},
    {"UnknownPathPageStored", "/no/such/page", 0, 1, Expect::kContains, 0, "<title>404 Not Found</title>"},
    {"ServerErrorPageStored", "/test/status/500", 0, 1, Expect::kContains, 0,
     "<title>500 Internal Server Error</title>"},
    {"RedirectFollowed", "/test/redirect?to=/test/bytes/777", 0, 1, Expect::kPattern, 777},
    {"PermanentRedirectFollowed", "/test/redirect?code=308&to=/test/bytes/300", 0, 1, Expect::kPattern, 300},
    {"RedirectChainFollowed", "/test/redirect?to=/test/redirect?to=/test/bytes/5", 0, 1, Expect::kPattern, 5},
    {"RedirectToErrorPageFollowed", "/test/redirect?to=/test/status/404", 0, 1, Expect::kContains, 0,
     "<title>404 Not Found</title>"},
    {"NoRedirectStoresRedirectPage", "/test/redirect?to=/test/bytes/777", kNoRedirect, 1, Expect::kContains, 0,
     "<title>Redirect</title>"},
    {"FailFlagNotFound", "/test/status/404", kFail, 0, Expect::kNoFile},
    {"FailFlagBadRequest", "/test/status/400", kFail, 0, Expect::kNoFile},
    {"FailFlagServerError", "/test/status/503", kFail, 0, Expect::kNoFile},
    {"FailFlagRedirectToNotFound", "/test/redirect?to=/test/status/404", kFail, 0, Expect::kNoFile},
    {"FailFlagSuccess", "/test/bytes/100", kFail, 1, Expect::kPattern, 100},
    {"FailFlagRedirectFollowed", "/test/redirect?to=/test/bytes/10", kFail, 1, Expect::kPattern, 10},
    {"FailFlagRedirectNotFollowed", "/test/redirect?to=/test/status/404", kFail | kNoRedirect, 1, Expect::kContains, 0,
     "<title>Redirect</title>"},
    {"ServerHangsUp", "/test/hangup", 0, 0, Expect::kNoFile},
};

void PrintTo(const DownloadCase& c, std::ostream* out) {
  *out << c.name;
}

class HttpDownloadCase : public HttpTest, public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(HttpDownloadCase, LeavesTheExpectedFile) {
  const DownloadCase& c = GetParam();
  const fs::path target = scratch_ / u8"download.bin";
  EXPECT_EQ(http_receive_file(server_url(c.path), text_of(target), c.flags), c.result);
  const std::optional<std::string> contents = file_contents(target);
  switch (c.expect) {
    case Expect::kPattern:
      ASSERT_TRUE(contents.has_value());
      EXPECT_EQ(contents->size(), c.pattern_size);
      EXPECT_TRUE(*contents == pattern_bytes(c.pattern_size));
      break;
    case Expect::kContains:
      ASSERT_TRUE(contents.has_value());
      EXPECT_NE(contents->find(c.contains), std::string::npos) << *contents;
      break;
    case Expect::kNoFile:
      EXPECT_FALSE(name_exists(target));
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Http, HttpDownloadCase, ::testing::ValuesIn(kDownloadCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// --- the target file -----------------------------------------------------------

TEST_F(HttpTest, TargetInMissingDirectoryFailsAndCreatesNothing) {
  const fs::path missing = scratch_ / u8"missing";
  EXPECT_EQ(http_receive_file(server_url("/test/bytes/10"), text_of(missing / u8"download.bin")), 0);
  EXPECT_FALSE(name_exists(missing));
}

TEST_F(HttpTest, ExistingFileIsReplaced) {
  const fs::path target = scratch_ / u8"download.bin";
  ASSERT_TRUE(write_file(target, std::string(5000, 'x')));
  EXPECT_EQ(http_receive_file(server_url("/test/bytes/10"), text_of(target)), 1);
  EXPECT_EQ(file_contents(target), pattern_bytes(10));
}

// Nothing of a failed transfer lands: an older file of that name stays as
// it was, and no part of the new one is left beside it.
TEST_F(HttpTest, AFailedTransferLeavesTheFolderAsItWas) {
  const fs::path target = scratch_ / u8"download.bin";
  ASSERT_TRUE(write_file(target, "an older download"));
  EXPECT_EQ(http_receive_file(server_url("/test/hangup"), text_of(target)), 0);
  EXPECT_EQ(file_contents(target), "an older download");
  EXPECT_EQ(http_receive_file(server_url("/test/status/500"), text_of(target), HTTP_FAIL_ON_ERROR_STATUS), 0);
  EXPECT_EQ(file_contents(target), "an older download");
  std::vector<fs::path> names;
  for (const auto& item : fs::directory_iterator(scratch_.root())) {
    names.push_back(item.path().filename());
  }
  EXPECT_EQ(names, std::vector<fs::path>{u8"download.bin"});
}

// Whatever the transfer has written so far is not at the target's name.
TEST_F(HttpTest, TheTargetAppearsOnlyWhenTheTransferIsComplete) {
  const fs::path target = scratch_ / u8"download.bin";
  const std::intptr_t download = http_receive_file(server_url("/test/slow?bytes=4000&chunk=400&delay_ms=150"),
                                                   text_of(target), HTTP_ASYNC);
  ASSERT_NE(download, 0);
  bool seen_running_with_bytes = false;
  for (int i = 0; i < 600 && http_download_status(download) == DOWNLOAD_RUNNING; ++i) {
    // In this order: bytes only grow, so a part of the body seen after the
    // name means the name came before the whole body.
    const bool named = name_exists(target);
    const std::int64_t bytes = http_download_bytes(download);
    if (bytes > 0 && bytes < 4000) {
      seen_running_with_bytes = true;
      EXPECT_FALSE(named);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(seen_running_with_bytes);
  ASSERT_EQ(http_download_status(download), DOWNLOAD_DONE);
  http_download_free(download);
  EXPECT_EQ(file_contents(target)->size(), 4000U);
}

TEST_F(HttpTest, ABodyOverItsBoundFailsWhetherAnnouncedOrNot) {
  const fs::path target = scratch_ / u8"download.bin";
  HttpLimits limits;
  limits.max_bytes = 1000;
  for (const char* path : {"/test/bytes/1001", "/test/bytes/300000?unannounced=1"}) {
    EXPECT_EQ(http_receive_file(server_url(path), text_of(target), 0, {}, limits), 0) << path;
    EXPECT_TRUE(fs::is_empty(scratch_.root())) << path;
  }
  EXPECT_EQ(http_receive_file(server_url("/test/bytes/1000?unannounced=1"), text_of(target), 0, {}, limits), 1);
  EXPECT_EQ(file_contents(target), pattern_bytes(1000));
}

// A server that drips its answer cannot hold a bounded download for longer
// than its bound.
TEST_F(HttpTest, ATotalBoundEndsASlowTransfer) {
  const fs::path target = scratch_ / u8"download.bin";
  HttpLimits limits;
  limits.total_timeout_ms = 1500;
  // 40 chunks a quarter of a second apart: ten seconds in all.
  EXPECT_EQ(http_receive_file(server_url("/test/slow?bytes=4000&chunk=100&delay_ms=250"), text_of(target), 0, {},
                              limits),
            0);
  EXPECT_TRUE(fs::is_empty(scratch_.root()));
}

TEST_F(HttpTest, AnHttpsTransferFollowsNoRedirectToPlainHttp) {
  const fs::path target = scratch_ / u8"download.bin";
  const std::string plain = plain_url("/test/bytes/10");
  ASSERT_FALSE(plain.empty()) << "the test server offers no plain http";
  // The plain listener itself answers.
  EXPECT_EQ(http_receive_file(Text(plain.begin(), plain.end()), text_of(target)), 1);
  ASSERT_TRUE(fs::remove(target));
  EXPECT_EQ(http_receive_file(server_url("/test/redirect?to=" + plain), text_of(target)), 0);
  EXPECT_FALSE(name_exists(target));
  // https to https still follows.
  EXPECT_EQ(http_receive_file(server_url("/test/redirect?to=/test/bytes/10"), text_of(target)), 1);
  EXPECT_EQ(file_contents(target), pattern_bytes(10));
}

TEST_F(HttpTest, EmptyUrlFailsAndLeavesNoFile) {
  const fs::path target = scratch_ / u8"download.bin";
  EXPECT_EQ(http_receive_file(u"", text_of(target)), 0);
  EXPECT_FALSE(name_exists(target));
}

TEST_F(HttpTest, MissingUrlOrFileChangesNothing) {
  const fs::path target = scratch_ / u8"download.bin";
  ASSERT_TRUE(write_file(target, "kept"));
  EXPECT_EQ(http_receive_file(TextView{}, text_of(target)), 0);
  EXPECT_EQ(file_contents(target), "kept");
  EXPECT_EQ(http_receive_file(server_url("/test/bytes/10"), TextView{}), 0);
  EXPECT_EQ(http_receive_file(server_url("/test/bytes/10"), TextView{}, HTTP_ASYNC), 0);
}

TEST_F(HttpTest, TargetNameOutsideAsciiIsUsedAsGiven) {
  const fs::path target = scratch_ / u8"обновление-ü.ini";
  EXPECT_EQ(http_receive_file(server_url("/test/bytes/64"), text_of(target)), 1);
  EXPECT_EQ(file_contents(target), pattern_bytes(64));
}

// --- TLS -----------------------------------------------------------------------

TEST_F(HttpTest, UntrustedCertificateFailsAndChangesNothing) {
  if (running_under_wine()) {
    GTEST_SKIP() << "Wine's Schannel accepts certificates from an unknown CA; on Windows this is a real test";
  }
  const fs::path target = scratch_ / u8"download.bin";
  ASSERT_TRUE(write_file(target, "an older download"));
  EXPECT_EQ(http_receive_file(untrusted_url("/test/bytes/10"), text_of(target)), 0);
  EXPECT_EQ(file_contents(target), "an older download");
}

// --- the request ---------------------------------------------------------------

struct UserAgentCase {
  const char* name;
  const char16_t* given;  // nullptr: left out
  const char* sent;
};

const UserAgentCase kUserAgentCases[] = {
    {"LeftOut", nullptr, "Mozilla/5.0 Gecko/41.0 Firefox/41.0"},
    {"Empty", u"", "Mozilla/5.0 Gecko/41.0 Firefox/41.0"},
    {"Given", u"VeltoTest/1.0 (agent check)", "VeltoTest/1.0 (agent check)"},
};

void PrintTo(const UserAgentCase& c, std::ostream* out) {
  *out << c.name;
}

class HttpUserAgentCase : public HttpTest, public ::testing::WithParamInterface<UserAgentCase> {};

TEST_P(HttpUserAgentCase, IsSentWithTheRequest) {
  const UserAgentCase& c = GetParam();
  const std::string path = std::string("/test/bytes/1?agent=") + c.name;
  const TextView agent = c.given ? TextView(c.given) : TextView{};
  ASSERT_EQ(http_receive_file(server_url(path), text_of(scratch_ / u8"one.bin"), 0, agent), 1);
  EXPECT_EQ(logged_user_agent(path), c.sent);
}

INSTANTIATE_TEST_SUITE_P(Http, HttpUserAgentCase, ::testing::ValuesIn(kUserAgentCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// --- stalls ----------------------------------------------------------------------

// The product's stall time is 30 s; these tests shorten it for their own process.
constexpr int kShortStallS = 2;

TEST_F(HttpTest, StalledResponseFailsAndLeavesNoFile) {
  const StallTime stall(kShortStallS);
  const fs::path target = scratch_ / u8"download.bin";
  // The server sends 100 bytes of the 101 it announced, then nothing.
  EXPECT_EQ(http_receive_file(server_url("/test/stall?bytes=100"), text_of(target)), 0);
  EXPECT_FALSE(name_exists(target));
}

TEST_F(HttpTest, SlowButMovingTransferCompletes) {
  const StallTime stall(kShortStallS);
  const fs::path target = scratch_ / u8"download.bin";
  // 10 pieces 600 ms apart: longer in all than the stall time, never still for that long.
  EXPECT_EQ(http_receive_file(server_url("/test/slow?bytes=640&chunk=64&delay_ms=600"), text_of(target)), 1);
  EXPECT_EQ(file_contents(target), pattern_bytes(640));
}

// --- HTTP_ASYNC ------------------------------------------------------------------

// Frees a download handle at the end of the test, whatever happened.
class DownloadHandle {
 public:
  explicit DownloadHandle(std::intptr_t handle) : handle_(handle) {}
  ~DownloadHandle() { http_download_free(handle_); }
  DownloadHandle(const DownloadHandle&) = delete;
  DownloadHandle& operator=(const DownloadHandle&) = delete;
  [[nodiscard]] std::intptr_t get() const { return handle_; }

 private:
  std::intptr_t handle_;
};

TEST_F(HttpTest, AsyncReturnsAHandleAtOnceAndCompletes) {
  const fs::path target = scratch_ / u8"download.bin";
  // The server takes over a second to send all of it.
  const DownloadHandle download(
      http_receive_file(server_url("/test/slow?bytes=512&chunk=64&delay_ms=200"), text_of(target), HTTP_ASYNC));
  ASSERT_NE(download.get(), 0);
  EXPECT_EQ(http_download_status(download.get()), DOWNLOAD_RUNNING);
  ASSERT_EQ(wait_until_finished(download.get()), DOWNLOAD_DONE);
  EXPECT_EQ(file_contents(target), pattern_bytes(512));
  EXPECT_EQ(http_download_bytes(download.get()), 512);
  EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(target)), http_download_bytes(download.get()));
}

TEST_F(HttpTest, AsyncDownloadsRunSideBySide) {
  constexpr std::array<std::size_t, 4> kSizes = {100000, 1, 250000, 4096};
  std::vector<std::unique_ptr<DownloadHandle>> downloads;
  for (std::size_t i = 0; i < kSizes.size(); ++i) {
    const std::string path = "/test/bytes/" + std::to_string(kSizes[i]);
    const fs::path target = scratch_.root() / ("download-" + std::to_string(i) + ".bin");
    downloads.push_back(
        std::make_unique<DownloadHandle>(http_receive_file(server_url(path), text_of(target), HTTP_ASYNC)));
    ASSERT_NE(downloads.back()->get(), 0);
  }
  // A blocking download meanwhile, on this thread.
  EXPECT_EQ(http_receive_file(server_url("/test/bytes/2000"), text_of(scratch_ / u8"blocking.bin")), 1);
  EXPECT_EQ(file_contents(scratch_ / u8"blocking.bin"), pattern_bytes(2000));
  for (std::size_t i = 0; i < kSizes.size(); ++i) {
    const fs::path target = scratch_.root() / ("download-" + std::to_string(i) + ".bin");
    EXPECT_EQ(wait_until_finished(downloads[i]->get()), DOWNLOAD_DONE);
    EXPECT_EQ(http_download_bytes(downloads[i]->get()), static_cast<std::int64_t>(kSizes[i]));
    EXPECT_TRUE(file_contents(target) == pattern_bytes(kSizes[i])) << i;
  }
}

TEST_F(HttpTest, AsyncFailureIsAStatus) {
  const fs::path target = scratch_ / u8"download.bin";
  const DownloadHandle download(http_receive_file(server_url("/test/hangup"), text_of(target), HTTP_ASYNC));
  ASSERT_NE(download.get(), 0);
  EXPECT_EQ(wait_until_finished(download.get()), DOWNLOAD_FAILED);
  EXPECT_FALSE(name_exists(target));
  EXPECT_FALSE(http_download_abort(download.get()));
}

TEST_F(HttpTest, AsyncDownloadStopsWhenAsked) {
  const fs::path target = scratch_ / u8"download.bin";
  // About a minute in all, so it is still running when the stop comes.
  const DownloadHandle download(
      http_receive_file(server_url("/test/slow?bytes=64000&chunk=64&delay_ms=60"), text_of(target), HTTP_ASYNC));
  ASSERT_NE(download.get(), 0);
  for (int i = 0; i < 3000 && http_download_bytes(download.get()) == 0; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_GT(http_download_bytes(download.get()), 0);
  EXPECT_TRUE(http_download_abort(download.get()));
  EXPECT_EQ(wait_until_finished(download.get()), DOWNLOAD_ABORTED);
  EXPECT_FALSE(name_exists(target));
  // Nor is any part of it left beside the target.
  EXPECT_TRUE(fs::is_empty(scratch_.root()));
  EXPECT_FALSE(http_download_abort(download.get()));
}

TEST_F(HttpTest, FreeingARunningDownloadStopsIt) {
  const fs::path target = scratch_ / u8"download.bin";
  const std::intptr_t download =
      http_receive_file(server_url("/test/slow?bytes=64000&chunk=64&delay_ms=60"), text_of(target), HTTP_ASYNC);
  ASSERT_NE(download, 0);
  for (int i = 0; i < 3000 && http_download_bytes(download) == 0; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  http_download_free(download);
  EXPECT_TRUE(fs::is_empty(scratch_.root()));
  EXPECT_EQ(http_download_status(download), 0);
}

TEST(HttpHandles, UnknownHandlesAnswerNeutrally) {
  for (const std::intptr_t handle : {std::intptr_t{0}, std::intptr_t{1}, std::intptr_t{-1}}) {
    EXPECT_EQ(http_download_status(handle), 0);
    EXPECT_EQ(http_download_bytes(handle), 0);
    EXPECT_FALSE(http_download_abort(handle));
    http_download_free(handle);
  }
}

}  // namespace
}  // namespace velto
