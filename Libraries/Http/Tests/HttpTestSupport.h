#pragma once

// What the HTTP tests share: the local test server that Scripts/with-test-server
// started for this run, a private directory, files and download handles.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "Core/Types.h"

namespace velto::testing {

using namespace std::chrono_literals;

// "https://127.0.0.1:<port>" + path on the server's certificate from the
// test CA, or on its self-signed one. Empty when the run has no server.
[[nodiscard]] Text server_url(std::string_view path);
[[nodiscard]] Text untrusted_url(std::string_view path);
// The same server over plain http (no TLS), as text: "" when it has none.
[[nodiscard]] std::string plain_url(std::string_view path);
[[nodiscard]] bool server_available();
// Why server_available() is false, for the failure message.
[[nodiscard]] std::string server_missing_reason();

// Body of the server's /test/bytes/<n> and /test/slow routes: byte i is i mod 251.
[[nodiscard]] std::string pattern_bytes(std::size_t count);

// The user agent the server logged for the request of `path` (path and
// query exactly as sent); nothing when it has no such request.
[[nodiscard]] std::optional<std::string> logged_user_agent(std::string_view path);

// Windows programs running under Wine (whose Schannel differs from Windows').
[[nodiscard]] bool running_under_wine();

// A fresh directory under the system's temporary directory, removed with
// everything in it.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  [[nodiscard]] const std::filesystem::path& root() const { return root_; }
  [[nodiscard]] std::filesystem::path operator/(std::u8string_view name) const { return root_ / name; }

 private:
  std::filesystem::path root_;
};

[[nodiscard]] Text text_of(const std::filesystem::path& path);
// Contents of a regular file; nothing when there is none.
[[nodiscard]] std::optional<std::string> file_contents(const std::filesystem::path& path);
bool write_file(const std::filesystem::path& path, std::string_view contents);
// Whether anything (a file, a link, a directory) has that name.
[[nodiscard]] bool name_exists(const std::filesystem::path& path);

// Polls the download until it is no longer running, at most `limit`; its
// last status.
[[nodiscard]] std::int32_t wait_until_finished(std::intptr_t handle, std::chrono::milliseconds limit = 60s);

// Shortens the stall time for one test and puts it back afterwards.
class StallTime {
 public:
  explicit StallTime(int seconds);
  ~StallTime();
  StallTime(const StallTime&) = delete;
  StallTime& operator=(const StallTime&) = delete;

 private:
  int saved_;
};

}  // namespace velto::testing
