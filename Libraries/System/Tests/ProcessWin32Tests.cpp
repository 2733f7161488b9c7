// process_run on Windows with real programs: the recorder is started through
// the library and tells the command line it got, its directory and its
// environment.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Core/ModuleFileName.h"
#include "Core/Strings.h"
#include "Core/WinApi.h"
#include "ProcessInternal.h"
#include "ProcessRun.h"
#include "System/Process.h"

namespace velto {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::Record;
using testing::Sandbox;
using testing::ScopedVariable;
using testing::text_of;
using testing::utf8_of;
using testing::unique_handle;
using testing::value_of;
using testing::wide;

std::string current_directory() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, buffer);
  return to_utf8(TextView(reinterpret_cast<const char16_t*>(buffer), length));
}

using ProcessRun = testing::ProcessRunTest;

struct CommandCase {
  Text program;
  Text parameters;
  Text expected;
};

TEST_F(ProcessRun, CommandLineArrivesExactlyAsBuilt) {
  const Text recorder = text_of(recorder_);
  const Text quoted = u"\"" + recorder + u"\"";
  const std::vector<CommandCase> cases = {
      {recorder, u"", quoted},
      {recorder, u"-x", quoted + u" -x"},
      // The updater's shape: quoted client path, package URL, process id.
      {recorder, u"\"C:\\Users\\A B\\Velto Chat\\velto.exe\" https://host/x.zip 1234",
       quoted + u" \"C:\\Users\\A B\\Velto Chat\\velto.exe\" https://host/x.zip 1234"},
      {quoted + u" -a", u"-b", quoted + u" -a -b"},
      {recorder, uR"(a\"b "c d" e""f \\server\x\ )", quoted + uR"( a\"b "c d" e""f \\server\x\ )"},
      {recorder, u"Gr\u00fc\u00dfe \U0001D11E", quoted + u" Gr\u00fc\u00dfe \U0001D11E"},
  };
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(to_utf8(c.parameters));
    const Outcome outcome = run(c.program, c.parameters);
    ASSERT_EQ(outcome.result, 1);
    ASSERT_TRUE(outcome.record);
    EXPECT_EQ(value_of(*outcome.record, "command"), to_utf8(c.expected));
  }
}

TEST_F(ProcessRun, WorkingDirectoryIsUsedOnlyWhenGiven) {
  const fs::path work = sandbox_.directory("work dir");
  const Outcome in_work = run(text_of(recorder_), u"", text_of(work));
  ASSERT_EQ(in_work.result, 1);
  ASSERT_TRUE(in_work.record);
  EXPECT_EQ(value_of(*in_work.record, "cwd"), utf8_of(work));

  const Outcome inherited = run(text_of(recorder_));
  ASSERT_EQ(inherited.result, 1);
  ASSERT_TRUE(inherited.record);
  EXPECT_EQ(value_of(*inherited.record, "cwd"), current_directory());
}

// SEE_MASK_FLAG_NO_UI: a dialog here would block the call until the test's
// time runs out.
TEST_F(ProcessRun, ProgramThatExistsNowhereGivesZeroWithoutADialog) {
  EXPECT_EQ(run(text_of(sandbox_.root() / "missing" / "velto-missing.exe")).result, 0);
  EXPECT_EQ(run(u"velto-no-such-program-anywhere.exe", u"-x").result, 0);
  EXPECT_EQ(run(u"").result, 0);
}

// A document type of our own, opened by the recorder, registered while the
// test runs: for the current user, or in the machine's classes where those
// do not show through the classes root (Wine).
class DocumentAssociation {
 public:
  explicit DocumentAssociation(const fs::path& opener) {
    registered_ = register_under(HKEY_CURRENT_USER, u"Software\\Classes\\", opener);
    if (registered_ && !visible()) {
      registered_ = register_under(HKEY_CLASSES_ROOT, u"", opener) && visible();
    }
  }
  ~DocumentAssociation() {
    for (const auto& [root, prefix] : {std::pair{HKEY_CURRENT_USER, Text(u"Software\\Classes\\")},
                                       std::pair{HKEY_CLASSES_ROOT, Text()}}) {
      RegDeleteTreeW(root, wide(prefix + kExtension));
      RegDeleteTreeW(root, wide(prefix + kType));
    }
  }
  DocumentAssociation(const DocumentAssociation&) = delete;
  DocumentAssociation& operator=(const DocumentAssociation&) = delete;

  [[nodiscard]] bool registered() const { return registered_; }

 private:
  static constexpr const char16_t* kExtension = u".veltotest";
  static constexpr const char16_t* kType = u"VeltoTest.Document";

  static bool register_under(HKEY root, const Text& prefix, const fs::path& opener) {
    const Text command = u"\"" + text_of(opener) + u"\" \"%1\"";
    return set_default(root, prefix + kExtension, kType) &&
           set_default(root, prefix + kType + u"\\shell\\open\\command", command);
  }

  static bool set_default(HKEY root, const Text& key, const Text& value) {
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(char16_t));
    return RegSetKeyValueW(root, wide(key), nullptr, REG_SZ, value.c_str(), bytes) == ERROR_SUCCESS;
  }

  static bool visible() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L".veltotest", 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return false;
    }
    RegCloseKey(key);
    return true;
  }

  bool registered_ = false;
};

TEST_F(ProcessRun, DocumentIsOpenedByTheShellInItsOwnDirectory) {
  const DocumentAssociation association(recorder_);
  ASSERT_TRUE(association.registered());
  const fs::path documents = sandbox_.directory("My Docs");
  const fs::path document = documents / "note.veltotest";
  std::ofstream(document) << "not a program\n";

  const Outcome opened = run(text_of(document));
  ASSERT_EQ(opened.result, 1);
  ASSERT_TRUE(opened.record);
  const std::string command = value_of(*opened.record, "command").value_or("");
  EXPECT_NE(command.find(utf8_of(document)), std::string::npos) << command;
  // No working directory: the document's own, up to its last backslash.
  EXPECT_EQ(value_of(*opened.record, "cwd"), utf8_of(documents));

  const fs::path work = sandbox_.directory("work dir");
  const Outcome in_work = run(text_of(document), u"", text_of(work));
  ASSERT_EQ(in_work.result, 1);
  ASSERT_TRUE(in_work.record);
  EXPECT_EQ(value_of(*in_work.record, "cwd"), utf8_of(work));
}

// The updater's command line starts with the client's own path, so
// program_path must be whole, also in a folder whose path is 260 units or
// longer: GetModuleFileNameW then cuts it to its buffer, with a NUL in the
// last unit, and reports no error. Wine cannot start a program from such a
// path, but it loads a library from one, and module_file_name, which
// program_path reads the program's path with, answers the same for both.
TEST(ProgramPathOnWindows, PathsOf260UnitsAndMoreComeBackWhole) {
  const Sandbox sandbox;
  const fs::path module = fs::path(program_path()).parent_path() / "system_test_module.dll";
  ASSERT_TRUE(fs::is_regular_file(module)) << module;
  for (const std::size_t length : {std::size_t{259}, std::size_t{260}, std::size_t{261}, std::size_t{520},
                                   std::size_t{1000}}) {
    SCOPED_TRACE(length);
    fs::path folder = sandbox.directory("long");
    for (int i = 0; i < 100 && folder.native().size() + 200 < length; ++i) {
      folder /= "folder";
    }
    fs::create_directories(folder);
    const std::size_t name = length - folder.native().size() - 1;
    ASSERT_GE(name, 5u);
    const fs::path copy = folder / (std::string(name - 4, 'm') + ".dll");
    ASSERT_EQ(copy.native().size(), length);
    ASSERT_TRUE(fs::copy_file(module, copy));
    HMODULE loaded = LoadLibraryW(copy.c_str());
    ASSERT_NE(loaded, nullptr) << GetLastError();
    // What a single call with the usual buffer gives back.
    wchar_t usual[MAX_PATH] = {};
    const DWORD usual_length = GetModuleFileNameW(loaded, usual, MAX_PATH);
    EXPECT_EQ(usual_length, std::min<std::size_t>(length, MAX_PATH));
    EXPECT_EQ(module_file_name(loaded), copy.native());
    FreeLibrary(loaded);
  }
  EXPECT_EQ(module_file_name(nullptr), fs::path(program_path()).native());
}

TEST(ProcessLibraryOnWindows, ReleasingAProgramClosesItsHandle) {
  process_library_init();
  ProgramRegistry* programs = process_state().programs;
  ASSERT_NE(programs, nullptr);
  HANDLE handle = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &handle, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  ProgramRecord* record = registry_alloc(*programs, 1);
  ASSERT_NE(record, nullptr);
  record->handle = reinterpret_cast<std::intptr_t>(handle);

  programs->release_routine()(1);
  EXPECT_EQ(registry_get(*programs, 1), nullptr);
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(handle, &flags));
}

}  // namespace
}  // namespace velto
