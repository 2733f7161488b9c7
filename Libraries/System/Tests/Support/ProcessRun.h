#pragma once

// The fixture of the process tests of both platforms: a copy of the recorder
// in a directory with blanks in its name, started through process_run with
// the file it records to named in the environment. Recorders still running
// are ended after the test.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "SystemTestSupport.h"

#if defined(_WIN32)
#include "Win32Handles.h"
#else
#include <sys/types.h>
#endif

namespace velto::testing {

#if !defined(_WIN32)
struct ProcStat {
  char state = '?';
  pid_t parent = 0;
};

// The state and parent of a process from /proc, nothing when it is gone.
[[nodiscard]] std::optional<ProcStat> proc_stat(pid_t pid);
#endif

// Ends the recorder that wrote `record` if it is still running, by its PID,
// once the test is done with it.
class RecorderGuard {
 public:
  explicit RecorderGuard(const Record& record);
  ~RecorderGuard();
  RecorderGuard(const RecorderGuard&) = delete;
  RecorderGuard& operator=(const RecorderGuard&) = delete;

 private:
#if defined(_WIN32)
  unique_handle process_;
#else
  bool is_recorder() const;
  pid_t pid_ = -1;
#endif
};

class ProcessRunTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // The result of process_run, and what the recorder wrote if it did.
  struct Outcome {
    int result = 0;
    std::optional<Record> record;
  };

  Outcome run(TextView program, TextView parameters = {}, TextView working_directory = {});

  Sandbox sandbox_;
  std::filesystem::path recorder_;
  int runs_ = 0;
  std::vector<std::unique_ptr<RecorderGuard>> guards_;
};

}  // namespace velto::testing
