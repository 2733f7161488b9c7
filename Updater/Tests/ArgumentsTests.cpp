#include <gtest/gtest.h>

#include <vector>

#include "Arguments.h"

namespace velto::updater {
namespace {

TEST(ParseArguments, TakesWhatTheClientPasses) {
  const std::vector<Text> given = {
      u"/opt/velto/bin/velto", u"https://chat.example/uploads/chat_files/velto_web-chat_client-linux.tar.gz", u"4242"};
  const auto parsed = parse_arguments(given);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->client_path, given[0]);
  EXPECT_EQ(parsed->package_url, given[1]);
  EXPECT_EQ(parsed->client_pid, 4242U);
}

TEST(ParseArguments, RefusesAnythingElse) {
  const Text path = u"C:\\Velto\\velto.exe";
  const Text url = u"https://h/uploads/chat_files/velto_web-chat_client.zip";
  const std::vector<std::vector<Text>> cases = {
      {},
      {path, url},
      {path, url, u"1", u"extra"},
      {u"", url, u"1"},
      {path, u"http://h/package.zip", u"1"},
      {path, u"file:///package.zip", u"1"},
      {path, u"https://", u"1"},
      {path, u"https://h/a b.zip", u"1"},
      {path, url, u"0"},
      {path, url, u"-1"},
      {path, url, u"+1"},
      {path, url, u"012"},
      {path, url, u"12x"},
      {path, url, u""},
      {path, url, u"2147483648"},
      {path, url, u"99999999999"},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(parse_arguments(c)) << c.size();
  }
  EXPECT_TRUE(parse_arguments(std::vector<Text>{path, u"HTTPS://h/p.zip", u"2147483647"}));
}

}  // namespace
}  // namespace velto::updater
