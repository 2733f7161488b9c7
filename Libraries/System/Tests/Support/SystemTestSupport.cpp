#include "SystemTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "System/Process.h"

#if defined(_WIN32)
#include "Core/WinApi.h"
#endif

namespace velto::testing {

namespace fs = std::filesystem;

Sandbox::Sandbox() {
  std::random_device random;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
    const fs::path candidate = base / ("velto-system-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      root_ = candidate;
    }
  }
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  if (!root_.empty()) {
    fs::remove_all(root_, ignored);
  }
}

fs::path Sandbox::directory(std::string_view relative) const {
  const fs::path path = root_ / fs::path(std::u8string(relative.begin(), relative.end()));
  std::error_code ignored;
  fs::create_directories(path, ignored);
  return path;
}

fs::path recorder_program() {
#if defined(_WIN32)
  constexpr const char* kName = "system_test_recorder.exe";
#else
  constexpr const char* kName = "system_test_recorder";
#endif
  return fs::path(program_path()).parent_path() / kName;
}

bool copy_recorder(const fs::path& target) {
  std::error_code error;
  fs::copy_file(recorder_program(), target, fs::copy_options::overwrite_existing, error);
  if (error) {
    return false;
  }
  fs::permissions(target, fs::perms::owner_all, fs::perm_options::add, error);
  return !error;
}

std::optional<Record> wait_for_record(const fs::path& file, std::chrono::milliseconds timeout) {
  // The recorder renames a finished file into place; still, a reader under
  // Wine has been seen to get it before its lines. The last line, the
  // value, tells a whole record.
  Record record;
  const auto whole = [&] {
    record.clear();
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      const std::size_t equals = line.find('=');
      if (equals != std::string::npos) {
        record.emplace_back(line.substr(0, equals), line.substr(equals + 1));
      }
    }
    return !values_of(record, "value").empty() || !values_of(record, "value-unset").empty();
  };
  if (!eventually(whole, timeout)) {
    return std::nullopt;
  }
  return record;
}

std::vector<std::string> values_of(const Record& record, std::string_view key) {
  std::vector<std::string> values;
  for (const auto& [name, value] : record) {
    if (name == key) {
      values.push_back(value);
    }
  }
  return values;
}

std::optional<std::string> value_of(const Record& record, std::string_view key) {
  for (const auto& [name, value] : record) {
    if (name == key) {
      return value;
    }
  }
  return std::nullopt;
}

Text text_of(const fs::path& path) {
  return path.u16string();
}

std::string utf8_of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

ScopedVariable::ScopedVariable(TextView name, TextView value) : name_(name) {
  if (variable_exists(name)) {
    old_ = env_get(name);
  }
  env_set(name, value);
}

ScopedVariable::~ScopedVariable() {
  if (old_) {
    env_set(name_, *old_);
  } else {
#if defined(_WIN32)
    SetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(name_.c_str()), nullptr);
#else
    unsetenv(utf8_of(fs::path(name_)).c_str());
#endif
  }
}

bool variable_exists(TextView name) {
  const Text key(name);
#if defined(_WIN32)
  return GetEnvironmentVariableW(reinterpret_cast<const wchar_t*>(key.c_str()), nullptr, 0) > 0;
#else
  return std::getenv(utf8_of(fs::path(key)).c_str()) != nullptr;
#endif
}

void pause_briefly() {
  std::this_thread::sleep_for(20ms);
}

CurrentDirectory::CurrentDirectory(const fs::path& directory) : old_(fs::current_path()) {
  fs::current_path(directory);
}

CurrentDirectory::~CurrentDirectory() {
  std::error_code ignored;
  fs::current_path(old_, ignored);
}

}  // namespace velto::testing
