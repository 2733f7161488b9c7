#include "HttpTestSupport.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#include "Http/Http.h"
#include "HttpInternal.h"

#if defined(_WIN32)
#include "Core/WinApi.h"
#endif

namespace velto::testing {

namespace fs = std::filesystem;

namespace {
std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

Text url_on(const char* port_variable, std::string_view path) {
  const std::string port = environment(port_variable);
  if (port.empty()) {
    return {};
  }
  const std::string url = "https://127.0.0.1:" + port + std::string(path);
  return Text(url.begin(), url.end());
}
}  // namespace

Text server_url(std::string_view path) {
  return url_on("VELTO_TEST_SERVER_PORT", path);
}

Text untrusted_url(std::string_view path) {
  return url_on("VELTO_TEST_UNTRUSTED_PORT", path);
}

std::string plain_url(std::string_view path) {
  const std::string port = environment("VELTO_TEST_PLAIN_PORT");
  return port.empty() ? std::string() : "http://127.0.0.1:" + port + std::string(path);
}

bool server_available() {
  return !environment("VELTO_TEST_SERVER_PORT").empty() && !environment("VELTO_TEST_UNTRUSTED_PORT").empty() &&
         !environment("VELTO_TEST_CA").empty();
}

std::string server_missing_reason() {
  return "no test server: run this program through Scripts/with-test-server (ctest does), which starts one "
         "and trusts its CA for this process only";
}

std::string pattern_bytes(std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<char>(i % 251);
  }
  return bytes;
}

std::optional<std::string> logged_user_agent(std::string_view path) {
  const Scratch scratch;
  const fs::path log = scratch / u8"requests.json";
  if (http_receive_file(server_url("/test/requests"), text_of(log)) != 1) {
    return std::nullopt;
  }
  const std::optional<std::string> json = file_contents(log);
  if (!json) {
    return std::nullopt;
  }
  // The log is a JSON list of flat objects whose strings the tests chose
  // without quotes or escapes; the newest request comes last.
  const std::string wanted = "\"path\": \"" + std::string(path) + "\"";
  const std::size_t at = json->rfind(wanted);
  if (at == std::string::npos) {
    return std::nullopt;
  }
  const std::size_t begin = json->rfind('{', at);
  const std::size_t end = json->find('}', at);
  const std::string entry = json->substr(begin, end - begin);
  const std::string key = "\"user_agent\": \"";
  const std::size_t value = entry.find(key);
  if (value == std::string::npos) {
    return std::nullopt;
  }
  const std::size_t value_begin = value + key.size();
  return entry.substr(value_begin, entry.find('"', value_begin) - value_begin);
}

bool running_under_wine() {
#if defined(_WIN32)
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

Scratch::Scratch() {
  std::random_device random;
  const fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100 && root_.empty(); ++attempt) {
    const fs::path candidate = base / ("velto-http-" + std::to_string(random()));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      root_ = candidate;
    }
  }
}

Scratch::~Scratch() {
  std::error_code ignored;
  if (!root_.empty()) {
    fs::remove_all(root_, ignored);
  }
}

Text text_of(const fs::path& path) {
  return path.u16string();
}

std::optional<std::string> file_contents(const fs::path& path) {
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(path, error))) {
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool write_file(const fs::path& path, std::string_view contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  return static_cast<bool>(out);
}

bool name_exists(const fs::path& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type() != fs::file_type::not_found && !error;
}

std::int32_t wait_until_finished(std::intptr_t handle, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::int32_t status = http_download_status(handle);
  while ((status == DOWNLOAD_RUNNING || status == DOWNLOAD_ABORT_REQUESTED) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
    status = http_download_status(handle);
  }
  return status;
}

StallTime::StallTime(int seconds) : saved_(http_settings().stall_time_s) {
  http_settings_for_tests().stall_time_s = seconds;
}

StallTime::~StallTime() {
  http_settings_for_tests().stall_time_s = saved_;
}

}  // namespace velto::testing
