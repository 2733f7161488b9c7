#include "Core/WinApi.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <string>

#include "Core/FileReplacement.h"
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

namespace {

std::wstring wide_path(TextView path) {
  return std::wstring(path.begin(), path.end());
}

bool folder_exists(const std::wstring& name) {
  const auto slash = name.find_last_of(L"\\/");
  if (slash == std::wstring::npos) {
    return true;  // the current folder
  }
  // "C:\x.ini": the root of a drive.
  const std::wstring folder = name.substr(0, slash == 0 || name[slash - 1] == L':' ? slash + 1 : slash);
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool prefs_file_replaceable(TextView path) noexcept {
  try {
    const std::wstring name = wide_path(path);
    if (name.empty()) {
      return false;
    }
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = ::GetLastError();
      return (error == ERROR_FILE_NOT_FOUND) && folder_exists(name);
    }
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
  } catch (const std::exception&) {
    return false;
  }
}

bool prefs_file_write_whole(TextView path, std::string_view bytes) noexcept {
  if (!prefs_file_replaceable(path)) {
    return false;
  }
  FileReplacement replacement;
  return replacement.begin(path) && replacement.write(bytes.data(), bytes.size()) == bytes.size() &&
         replacement.commit();
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
