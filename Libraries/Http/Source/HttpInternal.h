#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "Core/FileReplacement.h"
#include "Core/Types.h"
#include "Http/Http.h"

namespace velto {

// Backend contract: the text form libcurl takes.

// `text` as libcurl takes a URL or a user agent: the ANSI code page on
// Windows, UTF-8 elsewhere. Throws only std::bad_alloc.
[[nodiscard]] std::string http_native_text(TextView text);

// One download, from the call that starts it until it is released.
struct DownloadRecord {
  std::atomic<std::int32_t> status{DOWNLOAD_RUNNING};
  Text url;
  Text file;
  Text user_agent;
  // The body goes to a new file beside `file`, which takes the file's place
  // only when the transfer succeeded.
  FileReplacement target;
  std::uint32_t flags = 0;
  std::int32_t connect_timeout_ms = 0;
  std::int32_t total_timeout_ms = 0;
  std::int32_t stall_time_s = 0;
  std::int64_t max_bytes = 0;  // 0: no bound
  std::atomic<std::int64_t> bytes_written{0};
  std::thread worker;  // HTTP_ASYNC only
};

// Runs the transfer of `record` on the calling thread: 1 on success, 0 on failure.
int http_download_worker(DownloadRecord& record) noexcept;

// libcurl's write callback; `record` is the DownloadRecord.
std::size_t http_write_to_file(char* data, std::size_t size, std::size_t count, void* record) noexcept;

// The settings, changeable: tests shorten the stall time with it. The
// product never changes them.
[[nodiscard]] HttpSettings& http_settings_for_tests() noexcept;

}  // namespace velto
