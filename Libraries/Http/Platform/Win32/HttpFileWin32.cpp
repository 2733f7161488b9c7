#include "Core/WinApi.h"

#include <algorithm>
#include <climits>
#include <string>

#include "HttpInternal.h"

namespace velto {

namespace {
std::wstring wide_path(TextView path) {
  return std::wstring(path.begin(), path.end());
}

HANDLE native_handle(std::intptr_t handle) noexcept {
  return reinterpret_cast<HANDLE>(handle);
}
}  // namespace

HttpTargetFile::~HttpTargetFile() {
  close();
}

bool HttpTargetFile::create(TextView path) noexcept {
  close();
  try {
    const HANDLE file = ::CreateFileW(wide_path(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
  } catch (...) {
    return false;
  }
}

std::size_t HttpTargetFile::write(const char* data, std::size_t size) noexcept {
  if (handle_ == -1) {
    return 0;
  }
  std::size_t done = 0;
  while (done < size) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(native_handle(handle_), data + done, chunk, &written, nullptr) || written == 0) {
      break;  // a full disk, for instance: libcurl then ends the transfer
    }
    done += written;
  }
  return done;
}

void HttpTargetFile::close() noexcept {
  if (handle_ != -1) {
    ::CloseHandle(native_handle(handle_));
    handle_ = -1;
  }
}

void http_file_delete(TextView path) noexcept {
  try {
    ::DeleteFileW(wide_path(path).c_str());
  } catch (...) {
    // Out of memory for the path copy; nothing else can be done.
  }
}

std::string http_native_text(TextView text) {
  if (text.empty() || text.size() >= INT_MAX) {
    return {};
  }
  const auto* source = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  // Characters the code page lacks become its default character.
  const int needed = ::WideCharToMultiByte(CP_ACP, 0, source, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return {};
  }
  std::string out(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, source, length, out.data(), needed, nullptr, nullptr);
  return out;
}

}  // namespace velto
