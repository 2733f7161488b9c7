#include "Core/FileReplacement.h"

#include "Core/WinApi.h"

#include <algorithm>
#include <exception>
#include <random>
#include <string>
#include <utility>

namespace velto {

namespace {

constexpr unsigned kNameAttempts = 100;
// WriteFile counts in DWORDs.
constexpr std::size_t kMaxTransfer = 0x7FFFFFFF;

std::wstring wide(TextView text) {
  return std::wstring(text.begin(), text.end());
}

HANDLE native(std::intptr_t handle) noexcept {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

bool FileReplacement::begin(TextView target, std::optional<unsigned> /*mode*/) noexcept {
  discard();
  try {
    if (target.empty() || target.find(u'\0') != TextView::npos) {
      return false;
    }
    std::random_device random;
    const unsigned start = random();
    for (unsigned attempt = 0; attempt < kNameAttempts; ++attempt) {
      const std::wstring name = wide(target) + std::wstring(kMarker.begin(), kMarker.end()) +
                                std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(start + attempt) +
                                L".tmp";
      // CREATE_NEW: whatever is already under the name is left alone.
      const HANDLE file =
          ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
          continue;
        }
        return false;
      }
      handle_ = reinterpret_cast<std::intptr_t>(file);
      name_.assign(name.begin(), name.end());
      target_.assign(target);
      return true;
    }
  } catch (const std::exception&) {
    discard();
  }
  return false;
}

std::size_t FileReplacement::write(const char* data, std::size_t size) noexcept {
  if (!is_open()) {
    return 0;
  }
  std::size_t done = 0;
  while (done < size) {
    DWORD count = 0;
    const auto chunk = static_cast<DWORD>(std::min(size - done, kMaxTransfer));
    if (!::WriteFile(native(handle_), data + done, chunk, &count, nullptr) || count == 0) {
      break;
    }
    done += count;
  }
  return done;
}

bool FileReplacement::commit() noexcept {
  if (!is_open()) {
    return false;
  }
  try {
    bool done = ::FlushFileBuffers(native(handle_)) != 0;
    done = ::CloseHandle(native(std::exchange(handle_, kClosed))) != 0 && done;
    const std::wstring name = wide(name_);
    const std::wstring target = wide(target_);
    // One step, and on the disk before it returns.
    done = done &&
           ::MoveFileExW(name.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!done) {
      discard();
      return false;
    }
    name_.clear();
    return true;
  } catch (const std::exception&) {
    discard();
    return false;
  }
}

void FileReplacement::close() noexcept {
  if (is_open()) {
    ::CloseHandle(native(std::exchange(handle_, kClosed)));
  }
}

void FileReplacement::discard() noexcept {
  close();
  if (!name_.empty()) {
    try {
      ::DeleteFileW(wide(name_).c_str());
    } catch (const std::exception&) {
      // Out of memory: the new file stays behind, and is never read.
    }
    name_.clear();
  }
}

}  // namespace velto
