#include "Http/Http.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "Core/Heap.h"
#include "HttpInternal.h"

namespace velto {

namespace {

// Below one byte per second for the stall time counts as no progress.
constexpr long kStallBytesPerSecond = 1;

struct HttpState {
  HttpSettings settings;
  std::once_flag curl_ready;
  std::mutex live_lock;
  std::vector<DownloadRecord*> live;  // HTTP_ASYNC downloads not yet released
};

HttpState& http_state() noexcept {
  static HttpState state;
  return state;
}

struct CurlCleanup {
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

struct RecordRelease {
  void operator()(DownloadRecord* record) const noexcept { heap_delete(program_heap(), record); }
};
using RecordPtr = std::unique_ptr<DownloadRecord, RecordRelease>;

RecordPtr record_create(TextView url, TextView file, std::uint32_t flags, TextView user_agent,
                        const HttpLimits& limits) {
  RecordPtr record(heap_new<DownloadRecord>(program_heap()));
  if (!record) {
    return record;
  }
  const HttpSettings& settings = http_state().settings;
  record->url.assign(url);
  record->file.assign(file);
  record->user_agent.assign(user_agent.empty() ? TextView(HTTP_DEFAULT_USER_AGENT) : user_agent);
  record->flags = flags;
  record->connect_timeout_ms = settings.connect_timeout_ms;
  record->total_timeout_ms = limits.total_timeout_ms > 0 ? limits.total_timeout_ms : settings.total_timeout_ms;
  record->stall_time_s = settings.stall_time_s;
  record->max_bytes = limits.max_bytes > 0 ? limits.max_bytes : 0;
  return record;
}

bool url_is_https(std::string_view url) noexcept {
  constexpr std::string_view kScheme = "https:";
  return url.size() >= kScheme.size() &&
         std::equal(kScheme.begin(), kScheme.end(), url.begin(), [](char expected, char c) {
           return expected == (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
         });
}

// The transfer itself; true when the file holds the whole body.
bool run_transfer(DownloadRecord& record) {
  const std::string url = http_native_text(record.url);
  const std::string user_agent = http_native_text(record.user_agent);
  // The file is only touched once a transfer can actually start; a path with
  // an embedded NUL would name some other file.
  const CurlHandle curl(curl_easy_init());
  if (!curl || record.file.find(u'\0') != Text::npos || !record.target.begin(record.file)) {
    return false;
  }
  CURL* const handle = curl.get();
  const curl_write_callback write = http_write_to_file;
  if (!(record.flags & HTTP_NO_REDIRECT)) {
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    // What starts protected stays protected: no redirect to plain http.
    if (url_is_https(url)) {
      curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    }
  }
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_USERAGENT, user_agent.c_str());
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, write);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, static_cast<void*>(&record));
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(record.connect_timeout_ms));
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(record.total_timeout_ms));
  // No signals: transfers may run on threads of their own.
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, kStallBytesPerSecond);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(record.stall_time_s));
  if (record.max_bytes > 0) {
    // An announced length over the bound fails before any byte is written;
    // the write callback holds the bound for bodies of unknown length.
    curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(record.max_bytes));
  }
  if (record.flags & HTTP_FAIL_ON_ERROR_STATUS) {
    curl_easy_setopt(handle, CURLOPT_FAILONERROR, 1L);
  }
  const CURLcode result = curl_easy_perform(handle);
  if (result != CURLE_OK || record.status.load() == DOWNLOAD_ABORT_REQUESTED) {
    // No partial file is left, and an older file of that name stays.
    record.target.discard();
    return false;
  }
  return record.target.commit();
}

// Handles are looked up, never dereferenced: a stale or made-up one answers nothing.
DownloadRecord* live_download(HttpState& state, std::intptr_t handle) noexcept {
  const auto found = std::find_if(state.live.begin(), state.live.end(), [handle](const DownloadRecord* record) {
    return reinterpret_cast<std::intptr_t>(record) == handle;
  });
  return found == state.live.end() ? nullptr : *found;
}

}  // namespace

void http_library_init() {
  http_state().settings = HttpSettings{};
}

const HttpSettings& http_settings() {
  return http_state().settings;
}

HttpSettings& http_settings_for_tests() noexcept {
  return http_state().settings;
}

std::size_t http_write_to_file(char* data, std::size_t size, std::size_t count, void* record) noexcept {
  auto& download = *static_cast<DownloadRecord*>(record);
  if (download.status.load() == DOWNLOAD_ABORT_REQUESTED) {
    return 0;  // libcurl ends the transfer with a write error
  }
  const std::size_t bytes = size * count;
  if (download.max_bytes > 0 &&
      static_cast<std::uint64_t>(download.bytes_written.load()) + bytes > static_cast<std::uint64_t>(download.max_bytes)) {
    return 0;  // too long: ended as above
  }
  const std::size_t written = download.target.write(data, bytes);  // fewer ends the transfer
  download.bytes_written.fetch_add(static_cast<std::int64_t>(written));
  return written;
}

int http_download_worker(DownloadRecord& record) noexcept {
  bool done = false;
  try {
    done = run_transfer(record);
  } catch (...) {
    // Only the text conversions allocate, and they come before the file exists.
    done = false;
  }
  std::int32_t status = record.status.load();
  std::int32_t final_status = DOWNLOAD_FAILED;
  do {
    final_status = done ? DOWNLOAD_DONE : status == DOWNLOAD_ABORT_REQUESTED ? DOWNLOAD_ABORTED : DOWNLOAD_FAILED;
  } while (!record.status.compare_exchange_weak(status, final_status));
  return done ? 1 : 0;
}

std::intptr_t http_receive_file(TextView url, TextView file, std::uint32_t flags, TextView user_agent,
                                const HttpLimits& limits) noexcept {
  if (!url.data() || !file.data()) {
    return 0;
  }
  try {
    HttpState& state = http_state();
    // libcurl's global set-up is not safe to run from two transfers at once.
    std::call_once(state.curl_ready, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    RecordPtr record = record_create(url, file, flags, user_agent, limits);
    if (!record) {
      return 0;
    }
    if (!(flags & HTTP_ASYNC)) {
      return http_download_worker(*record);
    }
    const std::lock_guard lock(state.live_lock);
    // Reserved first, so that nothing can fail once the thread runs.
    state.live.reserve(state.live.size() + 1);
    // A joinable std::thread rather than a detached native one: releasing a
    // download must be able to wait until its worker no longer uses the record.
    DownloadRecord* const download = record.get();
    download->worker = std::thread([download] { http_download_worker(*download); });
    state.live.push_back(download);
    return reinterpret_cast<std::intptr_t>(record.release());
  } catch (...) {
    return 0;
  }
}

std::int32_t http_download_status(std::intptr_t handle) noexcept {
  HttpState& state = http_state();
  const std::lock_guard lock(state.live_lock);
  const DownloadRecord* record = live_download(state, handle);
  return record ? record->status.load() : 0;
}

std::int64_t http_download_bytes(std::intptr_t handle) noexcept {
  HttpState& state = http_state();
  const std::lock_guard lock(state.live_lock);
  const DownloadRecord* record = live_download(state, handle);
  return record ? record->bytes_written.load() : 0;
}

bool http_download_abort(std::intptr_t handle) noexcept {
  HttpState& state = http_state();
  const std::lock_guard lock(state.live_lock);
  DownloadRecord* record = live_download(state, handle);
  std::int32_t running = DOWNLOAD_RUNNING;
  return record && record->status.compare_exchange_strong(running, DOWNLOAD_ABORT_REQUESTED);
}

void http_download_free(std::intptr_t handle) noexcept {
  HttpState& state = http_state();
  RecordPtr record;
  {
    const std::lock_guard lock(state.live_lock);
    DownloadRecord* found = live_download(state, handle);
    if (!found) {
      return;
    }
    state.live.erase(std::find(state.live.begin(), state.live.end(), found));
    record.reset(found);
  }
  std::int32_t running = DOWNLOAD_RUNNING;
  record->status.compare_exchange_strong(running, DOWNLOAD_ABORT_REQUESTED);
  if (record->worker.joinable()) {
    try {
      record->worker.join();
    } catch (...) {
      // join only fails for a thread that is not joinable or is this one;
      // releasing the record under a running worker would be worse.
      static_cast<void>(record.release());
    }
  }
}

}  // namespace velto
