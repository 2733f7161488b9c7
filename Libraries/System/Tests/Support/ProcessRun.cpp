#include "ProcessRun.h"

#include <string>

#include "System/Process.h"

#if !defined(_WIN32)
#include <signal.h>

#include <cstdio>
#include <fstream>
#endif

namespace velto::testing {

namespace fs = std::filesystem;

#if defined(_WIN32)

RecorderGuard::RecorderGuard(const Record& record) {
  if (const auto pid = value_of(record, "pid")) {
    process_.reset(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, static_cast<DWORD>(std::stoul(*pid))));
  }
}

RecorderGuard::~RecorderGuard() {
  if (process_ && WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) {
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 5000);
  }
}

#else

std::optional<ProcStat> proc_stat(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(in, text)) {
    return std::nullopt;
  }
  // "pid (comm) state ppid ...": comm may hold blanks and parentheses.
  const std::size_t close = text.rfind(')');
  ProcStat stat;
  if (close == std::string::npos || std::sscanf(text.c_str() + close + 1, " %c %d", &stat.state, &stat.parent) != 2) {
    return std::nullopt;
  }
  return stat;
}

RecorderGuard::RecorderGuard(const Record& record) {
  if (const auto pid = value_of(record, "pid")) {
    pid_ = static_cast<pid_t>(std::stol(*pid));
  }
}

// The PID is checked to still be a recorder before it is ended.
RecorderGuard::~RecorderGuard() {
  if (pid_ <= 0) {
    return;
  }
  const auto still_running = [this] {
    const auto stat = proc_stat(pid_);
    return stat && stat->state != 'Z' && is_recorder();
  };
  if (eventually([&] { return !still_running(); }, 10s)) {
    return;
  }
  kill(pid_, SIGKILL);
}

bool RecorderGuard::is_recorder() const {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/" + std::to_string(pid_) + "/exe", error);
  return !error && exe.filename() == recorder_program().filename();
}

#endif

void ProcessRunTest::SetUp() {
  ASSERT_FALSE(sandbox_.root().empty());
  ASSERT_TRUE(fs::exists(recorder_program())) << recorder_program();
  recorder_ = sandbox_.directory("Program Files/Velto Tools") / recorder_program().filename();
  ASSERT_TRUE(copy_recorder(recorder_));
}

ProcessRunTest::Outcome ProcessRunTest::run(TextView program, TextView parameters, TextView working_directory) {
  const fs::path file = sandbox_.directory("records") / ("record-" + std::to_string(++runs_) + ".txt");
  const ScopedVariable record_file(u"VELTO_RECORD_FILE", text_of(file));
  Outcome outcome;
  outcome.result = process_run(program, parameters, working_directory);
  if (outcome.result == 1) {
    outcome.record = wait_for_record(file);
    if (outcome.record) {
      guards_.push_back(std::make_unique<RecorderGuard>(*outcome.record));
    }
  }
  return outcome;
}

}  // namespace velto::testing
