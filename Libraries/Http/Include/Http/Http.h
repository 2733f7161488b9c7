#pragma once

#include <cstdint>

#include "Core/Types.h"

namespace velto {

// Settings every download starts from.
struct HttpSettings {
  int connect_timeout_ms = 30000;
  int total_timeout_ms = 0;  // no overall limit
  // A transfer that moves less than one byte per second for this long is
  // ended, so a stalled server cannot hold a download forever while a slow
  // one still completes.
  int stall_time_s = 30;
};

void http_library_init();
[[nodiscard]] const HttpSettings& http_settings();

// http_receive_file flags.
inline constexpr std::uint32_t HTTP_ASYNC = 1;        // run on a thread of its own, return a handle at once
inline constexpr std::uint32_t HTTP_NO_REDIRECT = 2;  // store the redirect response itself
// A final HTTP status of 400 or above fails the download instead of storing
// the error page.
inline constexpr std::uint32_t HTTP_FAIL_ON_ERROR_STATUS = 4;

// Download states.
inline constexpr std::int32_t DOWNLOAD_RUNNING = -1;
inline constexpr std::int32_t DOWNLOAD_DONE = -2;
inline constexpr std::int32_t DOWNLOAD_FAILED = -3;
inline constexpr std::int32_t DOWNLOAD_ABORTED = -4;
inline constexpr std::int32_t DOWNLOAD_ABORT_REQUESTED = -5;

inline constexpr char16_t HTTP_DEFAULT_USER_AGENT[] = u"Mozilla/5.0 Gecko/41.0 Firefox/41.0";

// Bounds of one download beyond the settings; 0 leaves a bound out.
struct HttpLimits {
  // The body may hold at most this many bytes; a longer one fails the
  // download as soon as it is seen (announced or received).
  std::int64_t max_bytes = 0;
  // The whole transfer, connecting included, ends after this long.
  int total_timeout_ms = 0;
};

// Fetches `url` into `file`. Either the file ends up holding the whole body
// of the final response, or it stays as it was before the call (absent, or
// an older file of that name untouched): the body is written beside it and
// takes its place only when complete.
// Without HTTP_FAIL_ON_ERROR_STATUS any completed response counts, error
// pages included. A left-out or empty user agent sends the default one.
//
// Result: 0 when url or file is missing (a view without text: nothing
// happens) or the download failed; blocking: 1 on success; with HTTP_ASYNC:
// a download handle, to be given back with http_download_free. Call it from
// the runtime's thread: the download record comes from the program heap.
[[nodiscard]] std::intptr_t http_receive_file(TextView url, TextView file, std::uint32_t flags = 0,
                                              TextView user_agent = {}, const HttpLimits& limits = {}) noexcept;

// HTTP_ASYNC downloads. A handle that is not a live download answers 0 and
// is otherwise ignored.
[[nodiscard]] std::int32_t http_download_status(std::intptr_t handle) noexcept;
[[nodiscard]] std::int64_t http_download_bytes(std::intptr_t handle) noexcept;
// Asks a running download to stop; true when it was still running. It stops
// at the next data received, or at the latest when the stall time runs out.
bool http_download_abort(std::intptr_t handle) noexcept;
// Releases a download: one still running is asked to stop first, and the
// call waits for its thread to end. Call it from the thread that started it.
void http_download_free(std::intptr_t handle) noexcept;

}  // namespace velto
