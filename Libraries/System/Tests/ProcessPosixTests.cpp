// process_run on Linux with real programs: the recorder is started through
// the library and tells what arrived (arguments, directory, environment,
// session, standard streams).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Core/Strings.h"
#include "ProcessInternal.h"
#include "FilesTestSupport.h"
#include "ProcessRun.h"
#include "System/Process.h"

namespace velto {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::proc_stat;
using testing::Record;
using testing::Sandbox;
using testing::ScopedVariable;
using testing::text_of;
using testing::utf8_of;
using testing::value_of;
using testing::values_of;
using testing::write_file;

// Quotes a path for the Exec key of a desktop entry.
std::string desktop_exec_quoted(const std::string& path) {
  std::string quoted = "\"";
  for (const char c : path) {
    if (c == '"' || c == '`' || c == '$') {
      quoted += '\\';
    } else if (c == '\\') {
      quoted += "\\\\\\";
    } else if (c == '%') {
      quoted += '%';
    }
    quoted += c;
  }
  return quoted + "\"";
}

// A private desktop for the whole program, made before anything asks GIO:
// plain text and the "velto-test:" scheme open with the recorder.
class PrivateDesktop : public ::testing::Environment {
 public:
  void SetUp() override {
    sandbox_ = std::make_unique<Sandbox>();
    const fs::path applications = sandbox_->directory("data/applications");
    const fs::path config = sandbox_->directory("config");
    const std::string recorder = desktop_exec_quoted(utf8_of(testing::recorder_program()));
    write_file(applications / "velto-test-document.desktop",
               "[Desktop Entry]\nType=Application\nName=Velto test document\nNoDisplay=true\n"
               "MimeType=text/plain;\nExec=" +
                   recorder + " %f\n");
    write_file(applications / "velto-test-url.desktop",
               "[Desktop Entry]\nType=Application\nName=Velto test URL\nNoDisplay=true\n"
               "MimeType=x-scheme-handler/velto-test;\nExec=" +
                   recorder + " %u\n");
    write_file(config / "mimeapps.list",
               "[Default Applications]\ntext/plain=velto-test-document.desktop\n"
               "x-scheme-handler/velto-test=velto-test-url.desktop\n");
    variables_.push_back(std::make_unique<ScopedVariable>(u"XDG_DATA_HOME", text_of(sandbox_->root() / "data")));
    variables_.push_back(std::make_unique<ScopedVariable>(u"XDG_CONFIG_HOME", text_of(config)));
    // Without a session bus, GIO would try to start one for its launch
    // notices; an unreachable address keeps it from leaving a daemon behind.
    if (!testing::variable_exists(u"DBUS_SESSION_BUS_ADDRESS")) {
      variables_.push_back(std::make_unique<ScopedVariable>(
          u"DBUS_SESSION_BUS_ADDRESS", u"unix:path=" + text_of(sandbox_->root() / "no-bus")));
    }
  }

  void TearDown() override {
    variables_.clear();
    sandbox_.reset();
  }

 private:
  std::unique_ptr<Sandbox> sandbox_;
  std::vector<std::unique_ptr<ScopedVariable>> variables_;
};

[[maybe_unused]] ::testing::Environment* const private_desktop =
    ::testing::AddGlobalTestEnvironment(new PrivateDesktop);

bool has_children() {
  int status = 0;
  return !(waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD);
}

using ProcessRun = testing::ProcessRunTest;

pid_t recorded_pid(const Record& record) {
  const auto pid = value_of(record, "pid");
  return pid ? static_cast<pid_t>(std::stol(*pid)) : -1;
}

std::vector<std::string> arguments_after_program(const Record& record) {
  std::vector<std::string> arguments = values_of(record, "arg");
  if (!arguments.empty()) {
    arguments.erase(arguments.begin());
  }
  return arguments;
}

struct ArgumentCase {
  Text parameters;
  std::vector<std::string> expected;
};

TEST_F(ProcessRun, DeliversTheArgumentsAsWindowsWouldSplitThem) {
  const fs::path client = sandbox_.root() / "Velto Chat" / "velto";
  const std::vector<ArgumentCase> cases = {
      {u"", {}},
      {u"-x", {"-x"}},
      // The updater's shape: quoted client path, package URL, process id.
      {u"\"" + text_of(client) + u"\" https://host/x.zip 1234",
       {utf8_of(client), "https://host/x.zip", "1234"}},
      {uR"(a\"b "c d" e""f "g""h" \\server\x\ "tail\\")", {"a\"b", "c d", "ef", "g\"h", "\\\\server\\x\\", "tail\\"}},
      {u"  spaced\tout  ", {"spaced", "out"}},
      {u"Gr\u00fc\u00dfe \U0001D11E", {"Gr\xc3\xbc\xc3\x9f" "e", "\xf0\x9d\x84\x9e"}},
  };
  for (const ArgumentCase& c : cases) {
    SCOPED_TRACE(to_utf8(c.parameters));
    const Outcome outcome = run(text_of(recorder_), c.parameters);
    ASSERT_EQ(outcome.result, 1);
    ASSERT_TRUE(outcome.record);
    EXPECT_EQ(value_of(*outcome.record, "arg"), utf8_of(recorder_));
    EXPECT_EQ(arguments_after_program(*outcome.record), c.expected);
  }
}

TEST_F(ProcessRun, ProgramThatStartsWithAQuoteIsUsedUnchanged) {
  const Text program = u"\"" + text_of(recorder_) + u"\" -a \"b c\"";
  const Outcome outcome = run(program, u"-d");
  ASSERT_EQ(outcome.result, 1);
  ASSERT_TRUE(outcome.record);
  EXPECT_EQ(value_of(*outcome.record, "arg"), utf8_of(recorder_));
  EXPECT_EQ(arguments_after_program(*outcome.record), (std::vector<std::string>{"-a", "b c", "-d"}));
}

TEST_F(ProcessRun, StartsDetachedInItsOwnSessionWithQuietStreams) {
  const Outcome outcome = run(text_of(recorder_), u"-x");
  ASSERT_EQ(outcome.result, 1);
  ASSERT_TRUE(outcome.record);
  const Record& record = *outcome.record;
  EXPECT_NE(value_of(record, "ppid"), std::to_string(getpid()));
  EXPECT_NE(value_of(record, "sid"), std::to_string(getsid(0)));
  for (const char* stream : {"fd0", "fd1", "fd2"}) {
    EXPECT_EQ(value_of(record, stream), "/dev/null") << stream;
  }
  EXPECT_FALSE(has_children());
}

TEST_F(ProcessRun, LeavesNeitherAChildNorAZombie) {
  const fs::path release = sandbox_.root() / "release";
  const ScopedVariable linger(u"VELTO_RECORD_RELEASE", text_of(release));
  const Outcome outcome = run(text_of(recorder_));
  ASSERT_EQ(outcome.result, 1);
  ASSERT_TRUE(outcome.record);
  const pid_t pid = recorded_pid(*outcome.record);
  ASSERT_GT(pid, 0);

  // Still running, and not ours.
  const auto running = proc_stat(pid);
  ASSERT_TRUE(running);
  EXPECT_NE(running->state, 'Z');
  EXPECT_NE(running->parent, getpid());
  EXPECT_FALSE(has_children());

  write_file(release, "");
  // Once it ends, whoever adopted it reaps it; nothing is left with us.
  EXPECT_TRUE(testing::eventually([&] {
    const auto stat = proc_stat(pid);
    return !stat || (stat->state == 'Z' && stat->parent != getpid());
  }));
  EXPECT_FALSE(has_children());
}

TEST_F(ProcessRun, WorkingDirectoryIsUsedOnlyWhenGiven) {
  const fs::path work = sandbox_.directory("work dir");
  const Outcome in_work = run(text_of(recorder_), u"", text_of(work));
  ASSERT_EQ(in_work.result, 1);
  ASSERT_TRUE(in_work.record);
  EXPECT_EQ(value_of(*in_work.record, "cwd"), utf8_of(work));

  const Outcome inherited = run(text_of(recorder_), u"", u"");
  ASSERT_EQ(inherited.result, 1);
  ASSERT_TRUE(inherited.record);
  EXPECT_EQ(value_of(*inherited.record, "cwd"), utf8_of(fs::current_path()));
}

TEST_F(ProcessRun, RelativeProgramNamesAFileFromTheCallersDirectory) {
  const fs::path work = sandbox_.directory("work dir");
  const fs::path previous = fs::current_path();
  fs::current_path(sandbox_.root());
  const Text relative = text_of(fs::relative(recorder_, sandbox_.root()));
  const Outcome outcome = run(relative, u"", text_of(work));
  fs::current_path(previous);
  ASSERT_EQ(outcome.result, 1);
  ASSERT_TRUE(outcome.record);
  EXPECT_EQ(value_of(*outcome.record, "cwd"), utf8_of(work));
  EXPECT_EQ(value_of(*outcome.record, "arg"), to_utf8(relative));
}

TEST_F(ProcessRun, FindsAProgramByNameOnThePath) {
  const Text path = env_get(u"PATH");
  const ScopedVariable search(u"PATH", text_of(recorder_.parent_path()) + u":" + path);
  const Text name = text_of(recorder_.filename());
  const Outcome outcome = run(name, u"by-name");
  ASSERT_EQ(outcome.result, 1);
  ASSERT_TRUE(outcome.record);
  EXPECT_EQ(values_of(*outcome.record, "arg"), (std::vector<std::string>{to_utf8(name), "by-name"}));
}

TEST_F(ProcessRun, ProgramThatExistsNowhereGivesZero) {
  EXPECT_EQ(run(text_of(sandbox_.root() / "missing" / "velto-missing")).result, 0);
  EXPECT_EQ(run(u"velto-no-such-program-anywhere", u"-x").result, 0);
  EXPECT_EQ(run(u"").result, 0);
  EXPECT_FALSE(has_children());
}

TEST_F(ProcessRun, DocumentOpensWithTheDesktopsDefaultApplication) {
  const fs::path notes = sandbox_.directory("My Notes");
  const fs::path note = notes / "note.txt";
  write_file(note, "plain text\n");

  const Outcome by_path = run(text_of(note));
  ASSERT_EQ(by_path.result, 1);
  ASSERT_TRUE(by_path.record);
  EXPECT_EQ(arguments_after_program(*by_path.record), std::vector<std::string>{utf8_of(note)});

  // A relative document is looked for in the working directory.
  const Outcome relative = run(u"note.txt", u"", text_of(notes));
  ASSERT_EQ(relative.result, 1);
  ASSERT_TRUE(relative.record);
  EXPECT_EQ(arguments_after_program(*relative.record), std::vector<std::string>{utf8_of(note)});

  const Outcome quoted = run(u"\"" + text_of(note) + u"\"");
  ASSERT_EQ(quoted.result, 1);
  ASSERT_TRUE(quoted.record);
  EXPECT_EQ(arguments_after_program(*quoted.record), std::vector<std::string>{utf8_of(note)});
  EXPECT_FALSE(has_children());
}

TEST_F(ProcessRun, UrlOpensWithItsSchemesDefaultApplication) {
  const Outcome outcome = run(u"velto-test://host/path?x=1&y=%20");
  ASSERT_EQ(outcome.result, 1);
  ASSERT_TRUE(outcome.record);
  EXPECT_EQ(arguments_after_program(*outcome.record), std::vector<std::string>{"velto-test://host/path?x=1&y=%20"});
}

TEST(ProcessLibraryOnLinux, ReleasingAProgramClosesItsHandle) {
  process_library_init();
  ProgramRegistry* programs = process_state().programs;
  ASSERT_NE(programs, nullptr);
  const int handle = static_cast<int>(syscall(SYS_pidfd_open, getpid(), 0));
  ASSERT_GE(handle, 0);
  ProgramRecord* record = registry_alloc(*programs, 1);
  ASSERT_NE(record, nullptr);
  record->handle = handle;

  programs->release_routine()(1);
  EXPECT_EQ(registry_get(*programs, 1), nullptr);
  errno = 0;
  EXPECT_EQ(fcntl(handle, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
}  // namespace velto
