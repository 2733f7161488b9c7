#include "Core/WinApi.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <string>

#include "PrefsFile.h"

namespace velto::platform {

namespace {

HANDLE handle(const PrefsFile& file) noexcept {
  return reinterpret_cast<HANDLE>(file.native());
}

PrefsFile create_file(TextView path, DWORD access, DWORD share, DWORD disposition) noexcept {
  std::wstring name;
  try {
    name.assign(path.begin(), path.end());
  } catch (const std::exception&) {
    return PrefsFile();
  }
  const HANDLE file = ::CreateFileW(name.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return PrefsFile(reinterpret_cast<std::intptr_t>(file));
}

// ReadFile and WriteFile count in DWORDs.
constexpr std::size_t kMaxTransfer = 0x7FFFFFFF;

}  // namespace

void PrefsFile::close() noexcept {
  if (is_open()) {
    ::CloseHandle(reinterpret_cast<HANDLE>(release()));
  }
}

PrefsFile prefs_file_open(TextView path, PrefsAccess access) noexcept {
  switch (access) {
    case PrefsAccess::read_write:
      return create_file(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    case PrefsAccess::read_only:
      return create_file(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    case PrefsAccess::read_only_share_write:
      return create_file(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  }
  return PrefsFile();
}

PrefsFile prefs_file_create(TextView path) noexcept {
  return create_file(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
}

std::uint64_t prefs_file_size(const PrefsFile& file) noexcept {
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(handle(file), &size) || size.QuadPart < 0) {
    return 0;
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t prefs_file_read(const PrefsFile& file, char* buffer, std::size_t size) noexcept {
  DWORD got = 0;
  const auto wanted = static_cast<DWORD>(std::min(size, kMaxTransfer));
  if (!::ReadFile(handle(file), buffer, wanted, &got, nullptr)) {
    return 0;
  }
  return got;
}

bool prefs_file_rewind(const PrefsFile& file) noexcept {
  LARGE_INTEGER start = {};
  return ::SetFilePointerEx(handle(file), start, nullptr, FILE_BEGIN) != 0;
}

void prefs_file_replace(const PrefsFile& file, std::string_view bytes) noexcept {
  if (!prefs_file_rewind(file)) {
    return;
  }
  std::size_t written = 0;
  while (written < bytes.size()) {
    DWORD done = 0;
    const auto chunk = static_cast<DWORD>(std::min(bytes.size() - written, kMaxTransfer));
    if (!::WriteFile(handle(file), bytes.data() + written, chunk, &done, nullptr) || done == 0) {
      break;
    }
    written += done;
  }
  // The file pointer stands at the end of what was written.
  ::SetEndOfFile(handle(file));
}

bool prefs_ansi_to_utf8(std::string_view bytes, std::string& out) noexcept {
  try {
    out.clear();
    if (bytes.empty()) {
      return true;
    }
    if (bytes.size() > INT_MAX) {
      return false;
    }
    const int length = static_cast<int>(bytes.size());
    const int units = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (units <= 0) {
      return false;
    }
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    if (::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, wide.data(), units) != units) {
      return false;
    }
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
      return false;
    }
    out.resize(static_cast<std::size_t>(needed));
    return ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out.data(), needed, nullptr, nullptr) == needed;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace velto::platform
