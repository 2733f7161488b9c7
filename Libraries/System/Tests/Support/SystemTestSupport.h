#pragma once

// Shared by the process and file tests of both platforms: a private
// directory, the recorder program and what it recorded, the environment.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Core/Types.h"

namespace velto::testing {

using namespace std::chrono_literals;

// A fresh directory under the system's temporary directory, removed with
// everything in it.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  [[nodiscard]] const std::filesystem::path& root() const { return root_; }
  // A directory inside, made on the way.
  std::filesystem::path directory(std::string_view relative) const;

 private:
  std::filesystem::path root_;
};

// The recorder program built beside this test program.
[[nodiscard]] std::filesystem::path recorder_program();

// A copy of the recorder at `target`, made executable.
[[nodiscard]] bool copy_recorder(const std::filesystem::path& target);

// The lines "key=value" the recorder wrote, in order.
using Record = std::vector<std::pair<std::string, std::string>>;

// Waits (bounded) for the recorder to write `file`; nothing if it never did.
[[nodiscard]] std::optional<Record> wait_for_record(const std::filesystem::path& file,
                                                    std::chrono::milliseconds timeout = 30s);

[[nodiscard]] std::vector<std::string> values_of(const Record& record, std::string_view key);
[[nodiscard]] std::optional<std::string> value_of(const Record& record, std::string_view key);

// Polls `condition` until it holds or the time is up.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout = 10s);

[[nodiscard]] Text text_of(const std::filesystem::path& path);
[[nodiscard]] std::string utf8_of(const std::filesystem::path& path);

// Sets an environment variable of this process for the life of the object
// and puts the old state back afterwards.
class ScopedVariable {
 public:
  ScopedVariable(TextView name, TextView value);
  ~ScopedVariable();
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  Text name_;
  std::optional<Text> old_;
};

// Whether a variable exists at all (env_get cannot tell unset from empty).
[[nodiscard]] bool variable_exists(TextView name);

void pause_briefly();

// Works in another directory for the life of the object.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::filesystem::path& directory);
  ~CurrentDirectory();
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  std::filesystem::path old_;
};

template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    pause_briefly();
  }
  return true;
}

}  // namespace velto::testing
