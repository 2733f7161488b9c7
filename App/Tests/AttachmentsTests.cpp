// Attachments in the chat, as a user saves them: the real client on a test
// user's desktop clicks a file in a message; it lands in the user's download
// folder under a name of its own, never over a file that is there, and a
// download that breaks off leaves nothing behind. The notice in the page
// tells of it and opens the folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "Desktop.h"
#include "LocalServer.h"
#include "UserDesktop.h"

namespace velto::testing {
namespace {

namespace fs = std::filesystem;

// The names in a folder.
std::set<std::string> names_in(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// What the server sends for the attachment `name`.
std::string attachment_bytes(const std::string& name) {
  return server_fetch("/chat/files/" + url_encoded(name));
}

void attach(const std::string& name, bool broken = false) {
  server_fetch("/test/message?author=Anna&text=file&attachment=" + url_encoded(name) + (broken ? "&broken=1" : ""));
}

class Attachments : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto why = end_to_end_unavailable()) {
      GTEST_SKIP() << *why;
    }
  }

  // Clicks the attachment and waits for the notice that tells of it.
  void save(ChatClient& client, const std::string& name, const std::string& notice) {
    ASSERT_TRUE(client.click("file:" + name)) << name << " was never shown";
    EXPECT_TRUE(eventually([&] { return beacon_containing("notice", notice); }, 20s, 100ms))
        << "no notice saying " << notice;
  }

  UserDesktop desktop_;
};

TEST_F(Attachments, AnAttachmentNeverReplacesAFile) {
  const std::string home = desktop_.home();
  const std::string folder = home + "/Fetched";
  fs::create_directories(folder);
  desktop_.set_download_folder("$HOME/Fetched");
  write_file(folder + "/report.pdf", "the user's own report in the download folder");
  write_file(home + "/report.pdf", "the user's own report at home");
  ChatClient client(desktop_);
  ASSERT_FALSE(client.failure()) << *client.failure();
  attach("report.pdf");

  save(client, "report.pdf", "Saved “report (1).pdf” to the downloads folder.");
  const std::string expected = attachment_bytes("report.pdf");
  ASSERT_EQ(expected.size(), 65536U);
  EXPECT_EQ(read_file(folder + "/report (1).pdf"), expected);
  // Again: the next number.
  save(client, "report.pdf", "Saved “report (2).pdf”");
  EXPECT_EQ(read_file(folder + "/report (2).pdf"), expected);

  EXPECT_EQ(read_file(folder + "/report.pdf"), "the user's own report in the download folder");
  EXPECT_EQ(read_file(home + "/report.pdf"), "the user's own report at home");
  // Nothing else, no temporary file either.
  EXPECT_EQ(names_in(folder), (std::set<std::string>{"report.pdf", "report (1).pdf", "report (2).pdf"}));
  EXPECT_EQ(names_in(home), (std::set<std::string>{"Fetched", "report.pdf"}));

  // The notice opens the folder with the desktop's file manager.
  ASSERT_TRUE(client.click("notice-open")) << "the notice has no button";
  EXPECT_TRUE(eventually([&] { return !desktop_.folders_shown().empty(); }, 15s, 100ms)) << "no folder was opened";
  // GIO gives a local folder to a program as its path, whichever form it asked for.
  std::string shown = desktop_.folders_shown().front();
  if (shown.rfind("file://", 0) == 0) {
    shown.erase(0, 7);
  }
  EXPECT_EQ(shown, folder);
  EXPECT_EQ(desktop_.folders_shown().size(), 1U);
  EXPECT_EQ(beacon_count("load"), 1U) << "the chat page was left";
  EXPECT_EQ(client.close(), 0);
}

TEST_F(Attachments, TheHomeFolderAsDownloadFolderKeepsItsFilesToo) {
  const std::string home = desktop_.home();
  // user-dirs' way of saying "no download folder of its own".
  desktop_.set_download_folder("$HOME/");
  write_file(home + "/archive.tar.gz", "an archive of the user's");
  ChatClient client(desktop_);
  ASSERT_FALSE(client.failure()) << *client.failure();
  attach("archive.tar.gz");

  save(client, "archive.tar.gz", "Saved “archive (1).tar.gz”");
  EXPECT_EQ(read_file(home + "/archive (1).tar.gz"), attachment_bytes("archive.tar.gz"));
  EXPECT_EQ(read_file(home + "/archive.tar.gz"), "an archive of the user's");
  EXPECT_EQ(names_in(home), (std::set<std::string>{"archive.tar.gz", "archive (1).tar.gz"}));
  EXPECT_EQ(client.close(), 0);
}

TEST_F(Attachments, WithoutADownloadFolderFilesGoToDownloadsInTheHomeFolder) {
  const std::string home = desktop_.home();
  write_file(home + "/Отчёт за март.pdf", "at home");
  ChatClient client(desktop_);
  ASSERT_FALSE(client.failure()) << *client.failure();
  attach("Отчёт за март.pdf");

  save(client, "Отчёт за март.pdf", "Файл «Отчёт за март.pdf» сохранён в папке загрузок.");
  EXPECT_EQ(read_file(home + "/Downloads/Отчёт за март.pdf"), attachment_bytes("Отчёт за март.pdf"));
  EXPECT_EQ(read_file(home + "/Отчёт за март.pdf"), "at home");
  EXPECT_EQ(names_in(home + "/Downloads"), std::set<std::string>{"Отчёт за март.pdf"});
  EXPECT_EQ(client.close(), 0);
}

TEST_F(Attachments, WhatTheViewCannotShowAndDownloadLinksAreSavedToo) {
  const std::string folder = desktop_.home() + "/Downloads";
  ChatClient client(desktop_);
  ASSERT_FALSE(client.failure()) << *client.failure();
  // Bytes without a name or a type the view could show; a page that the
  // view could show but that the link asks to download.
  server_fetch("/test/message?author=Anna&text=x&link=" + url_encoded("bytes|same-tab|/test/bytes/300") +
               "&link=" + url_encoded("page|download|/test/status/200"));

  ASSERT_TRUE(client.click("bytes"));
  ASSERT_TRUE(eventually([&] { return beacon_containing("notice", "Saved “300”"); }, 20s, 100ms))
      << "the bytes were not saved";
  EXPECT_EQ(read_file(folder + "/300"), server_fetch("/test/bytes/300"));
  ASSERT_TRUE(client.click("page"));
  ASSERT_TRUE(eventually([&] { return names_in(folder).size() == 2; }, 20s, 100ms)) << "the page was not saved";
  std::set<std::string> names = names_in(folder);
  names.erase("300");
  EXPECT_EQ(read_file(folder + "/" + *names.begin()), server_fetch("/test/status/200"));
  EXPECT_EQ(beacon_count("load"), 1U) << "the chat page was left";
  EXPECT_TRUE(client.chat_answers());
  EXPECT_EQ(client.close(), 0);
}

TEST_F(Attachments, ADownloadThatBreaksOffLeavesNothingBehind) {
  const std::string folder = desktop_.home() + "/Fetched";
  fs::create_directories(folder);
  desktop_.set_download_folder("$HOME/Fetched");
  write_file(folder + "/cut.bin", "kept");
  ChatClient client(desktop_);
  ASSERT_FALSE(client.failure()) << *client.failure();
  attach("cut.bin", true);

  save(client, "cut.bin", "“cut.bin” could not be downloaded.");
  EXPECT_EQ(names_in(folder), std::set<std::string>{"cut.bin"});
  EXPECT_EQ(read_file(folder + "/cut.bin"), "kept");
  EXPECT_TRUE(client.chat_answers());
  EXPECT_EQ(client.close(), 0);
}

}  // namespace
}  // namespace velto::testing
