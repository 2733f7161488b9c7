// The names downloads are saved under, and the notice that tells of them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "Downloads.h"
#include "Engine.h"

namespace velto::webview {
namespace {

TEST(DownloadNames, WhatTheServerSuggestsBecomesASafeName) {
  struct Case {
    std::string suggested;
    std::string name;
  };
  const std::vector<Case> cases{
      {"report.pdf", "report.pdf"},
      {"Отчёт за март.pdf", "Отчёт за март.pdf"},
      // Nothing leaves the folder or hides in it.
      {"../../x", "_.._x"},
      {"..\\..\\Windows\\win.ini", "_.._Windows_win.ini"},
      {"/etc/passwd", "_etc_passwd"},
      {".bashrc", "bashrc"},
      {"...", "download"},
      {". .profile", "profile"},
      {"..", "download"},
      // Windows drops trailing dots and blanks itself; the name would differ.
      {"report.pdf. . ", "report.pdf"},
      // Device names, with or without an extension and in any case.
      {"CON.txt", "_CON.txt"},
      {"nul", "_nul"},
      {"Com1.tar.gz", "_Com1.tar.gz"},
      {"lpt9", "_lpt9"},
      {"aux .log", "_aux .log"},
      {"conin$", "_conin$"},
      {"COM\xC2\xB9.txt", "_COM\xC2\xB9.txt"},
      {"CONSOLE.txt", "CONSOLE.txt"},
      {"COM10", "COM10"},
      {"LPT", "LPT"},
      // Control characters, the ones Windows refuses, invisible ones.
      {std::string("a\nb\tc\rd\x7F"
                   "e\x01.txt"),
       "a_b_c_d_e_.txt"},
      {std::string("nul\0byte.txt", 12), "nul_byte.txt"},
      {"a<b>c:d\"e|f?g*h.txt", "a_b_c_d_e_f_g_h.txt"},
      {"\xC2\x85next.txt", "_next.txt"},
      {"invoice\xE2\x80\xAE"
       "fdp.exe",
       "invoicefdp.exe"},
      {"\xEF\xBB\xBFname\xE2\x81\xA6.txt", "name.txt"},
      {"line\xE2\x80\xA8sep", "line_sep"},
      // Broken UTF-8 becomes the replacement character.
      {"bad\xC3(.txt", "bad\xEF\xBF\xBD(.txt"},
      {"\xFF\xFE", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"", "download"},
      {"   ", "download"},
      {"//", "__"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(safe_file_name(c.suggested), c.name) << c.suggested;
  }
}

TEST(DownloadNames, LongNamesAreCutBeforeTheExtension) {
  const std::string long_name = std::string(300, 'a') + ".pdf";
  const std::string cut = safe_file_name(long_name);
  EXPECT_EQ(cut.size(), kMaxFileNameBytes);
  EXPECT_EQ(cut, std::string(kMaxFileNameBytes - 4, 'a') + ".pdf");

  // Never inside a character: "я" is two bytes.
  std::string cyrillic;
  for (int i = 0; i < 150; ++i) {
    cyrillic += "я";
  }
  const std::string cut_cyrillic = safe_file_name(cyrillic + ".tar.gz");
  EXPECT_LE(cut_cyrillic.size(), kMaxFileNameBytes);
  EXPECT_EQ((cut_cyrillic.size() - 7) % 2, 0U) << "cut inside a character";
  EXPECT_EQ(cut_cyrillic.substr(cut_cyrillic.size() - 7), ".tar.gz");
  EXPECT_EQ(safe_file_name(cut_cyrillic), cut_cyrillic);

  // A blank left before the extension by the cut goes too.
  const std::string blank =
      safe_file_name(std::string(kMaxFileNameBytes - 5, 'b') + "  " + std::string(50, 'c') + ".txt");
  EXPECT_EQ(blank, std::string(kMaxFileNameBytes - 5, 'b') + ".txt");

  // Without an extension, only the length counts.
  EXPECT_EQ(safe_file_name(std::string(1000, 'z')), std::string(kMaxFileNameBytes, 'z'));
  // The longest numbered name still fits the file systems' 255.
  EXPECT_LT(numbered_file_name(cut, kMaxFileNumber).size(), 255U);
}

TEST(DownloadNames, ANumberGoesBeforeTheExtension) {
  struct Case {
    const char* name;
    int number;
    const char* numbered;
  };
  const std::vector<Case> cases{
      {"report.pdf", 0, "report.pdf"},
      {"report.pdf", 1, "report (1).pdf"},
      {"report.pdf", 12, "report (12).pdf"},
      // Archives keep their double extension.
      {"archive.tar.gz", 1, "archive (1).tar.gz"},
      {"archive.TAR.XZ", 2, "archive (2).TAR.XZ"},
      {"photo.gz", 1, "photo (1).gz"},
      {"backup.2024.zip", 1, "backup.2024 (1).zip"},
      {"README", 3, "README (3)"},
      // A dot part with blanks or a long one is no extension.
      {"Version 1.2 notes", 1, "Version 1.2 notes (1)"},
      {"notes.averyveryverylongpart", 1, "notes.averyveryverylongpart (1)"},
      {"_CON.txt", 1, "_CON (1).txt"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(numbered_file_name(c.name, c.number), c.numbered) << c.name << " " << c.number;
  }
}

TEST(DownloadNames, TheFirstFreeNumberIsTakenAndExistingFilesStay) {
  std::set<std::string> folder{"report.pdf", "report (1).pdf", "report (3).pdf"};
  std::vector<std::string> offered;
  const auto place = [&](const std::string& name) {
    offered.push_back(name);
    return folder.insert(name).second ? Placement::Placed : Placement::Taken;
  };
  EXPECT_EQ(place_numbered("report.pdf", place), "report (2).pdf");
  EXPECT_EQ(offered, (std::vector<std::string>{"report.pdf", "report (1).pdf", "report (2).pdf"}));
  EXPECT_EQ(place_numbered("report.pdf", place), "report (4).pdf");
  EXPECT_EQ(place_numbered("new.txt", place), "new.txt");

  // A failure ends the search; so does a folder where every number is taken.
  int tries = 0;
  EXPECT_EQ(place_numbered("x", [&](const std::string&) { return ++tries, Placement::Failed; }), std::nullopt);
  EXPECT_EQ(tries, 1);
  tries = 0;
  EXPECT_EQ(place_numbered("x", [&](const std::string&) { return ++tries, Placement::Taken; }), std::nullopt);
  EXPECT_EQ(tries, kMaxFileNumber + 1);
}

TEST(DownloadNotice, TheNameIsScriptDataAndTheButtonNamesItsNotice) {
  const std::string hostile = "a\"</div><img src=x onerror=alert(1)>\\\xE2\x80\xA8.txt";
  const std::string script = download_notice_script(DownloadOutcome::Saved, hostile, 7, "function(m){}");
  // The name only ever appears inside the quoted texts.
  EXPECT_NE(script.find(json_quote("Файл «" + hostile + "» сохранён в папке загрузок.")), std::string::npos);
  EXPECT_NE(script.find(json_quote("Saved “" + hostile + "” to the downloads folder.")), std::string::npos);
  std::size_t markup = 0;
  for (auto at = script.find("<img"); at != std::string::npos; at = script.find("<img", at + 1)) {
    ++markup;
  }
  EXPECT_EQ(markup, 2U) << "the name appears outside its two texts";
  EXPECT_EQ(script.find("innerHTML"), std::string::npos);
  EXPECT_NE(script.find(json_quote("open-folder:7")), std::string::npos);
  EXPECT_NE(script.find("isTrusted"), std::string::npos);

  const std::string failed = download_notice_script(DownloadOutcome::Failed, "cut.bin", 8, "function(m){}");
  EXPECT_NE(failed.find(json_quote("Не удалось загрузить файл «cut.bin».")), std::string::npos);
  EXPECT_NE(failed.find("withFolder=false"), std::string::npos);
}

TEST(DownloadNotice, OnlyWellFormedMessagesNameANotice) {
  EXPECT_EQ(parse_notice_message(notice_message(0)), 0U);
  EXPECT_EQ(parse_notice_message(notice_message(4294967295U)), 4294967295U);
  EXPECT_EQ(parse_notice_message("open-folder:12"), 12U);
  EXPECT_EQ(parse_notice_message("open-folder:"), std::nullopt);
  EXPECT_EQ(parse_notice_message("open-folder:-1"), std::nullopt);
  EXPECT_EQ(parse_notice_message("open-folder:1x"), std::nullopt);
  EXPECT_EQ(parse_notice_message("open-folder:4294967296"), std::nullopt);
  EXPECT_EQ(parse_notice_message("open-file:1"), std::nullopt);
  EXPECT_EQ(parse_notice_message(""), std::nullopt);
}

TEST(DownloadNotice, OnlyRecentNoticesOpenSomethingAndTakenOnesNoMore) {
  NoticeTargets targets;
  std::vector<std::uint32_t> ids;
  for (std::size_t i = 0; i < NoticeTargets::kRemembered + 2; ++i) {
    ids.push_back(targets.remember("file " + std::to_string(i)));
  }
  EXPECT_EQ(std::set<std::uint32_t>(ids.begin(), ids.end()).size(), ids.size());
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 0U), 0) << "0 is a notice without a button";
  EXPECT_EQ(targets.find(ids[0]), std::nullopt);
  EXPECT_EQ(targets.find(ids[1]), std::nullopt);
  EXPECT_EQ(targets.find(ids[2]), "file 2");
  EXPECT_EQ(targets.take(ids.back()), "file " + std::to_string(ids.size() - 1));
  EXPECT_EQ(targets.take(ids.back()), std::nullopt);
  EXPECT_EQ(targets.find(ids[2]), "file 2") << "taking one keeps the others";
}

TEST(DownloadNames, ABrowsersPathSuggestsItsLastPart) {
  EXPECT_EQ(file_name_of("C:\\Users\\me\\Downloads\\report (1).pdf"), "report (1).pdf");
  EXPECT_EQ(file_name_of("/home/me/Downloads/notes.txt"), "notes.txt");
  EXPECT_EQ(file_name_of("C:/mixed\\separators/a.b"), "a.b");
  EXPECT_EQ(file_name_of("plain"), "plain");
  EXPECT_EQ(file_name_of("C:\\folder\\"), "");
  EXPECT_EQ(file_name_of(""), "");
}

}  // namespace
}  // namespace velto::webview
