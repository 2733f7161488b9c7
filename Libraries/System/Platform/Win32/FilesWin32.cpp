// Windows backend of the file library.
#include <cstdint>
#include <memory>
#include <type_traits>

#include "Core/WinApi.h"

#include <shlwapi.h>

#include "FilePath.h"
#include "FilesInternal.h"

namespace velto::platform {

namespace {

struct SearchCloser {
  void operator()(HANDLE search) const noexcept { FindClose(search); }
};
using unique_search = std::unique_ptr<std::remove_pointer_t<HANDLE>, SearchCloser>;

struct LibraryFreer {
  void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};
using unique_module = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

using GetLongPathNameWFunction = DWORD(WINAPI*)(LPCWSTR, LPWSTR, DWORD);

constexpr DWORD kTempPathCapacity = 260;

// Runtime text and Windows text are both UTF-16.
const wchar_t* wide(const Text& text) noexcept {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

bool exists(const Text& path) noexcept {
  return PathFileExistsW(wide(path)) != FALSE;
}

bool drive_absent(const Text& path) noexcept {
  const UINT type = GetDriveTypeW(wide(path));
  return type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR;
}

// Looks `path` up with a directory search, closed again at once.
bool search_for(const Text& path, WIN32_FIND_DATAW& found) noexcept {
  const HANDLE search = FindFirstFileW(wide(path), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return false;
  }
  const unique_search closer(search);
  return true;
}

// The size the search reported, or -2 for a directory.
std::int64_t found_size(const WIN32_FIND_DATAW& found) noexcept {
  if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return -2;
  }
  return static_cast<std::int64_t>((std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow);
}

}  // namespace

std::int64_t path_size(TextView path) {
  const Text copy(files::windows_size_path(path));
  if (files::is_drive_form(copy)) {
    const Text root = files::drive_root(copy);
    if (drive_absent(root)) {
      return -1;
    }
    return exists(root) ? -2 : -1;
  }

  WIN32_FIND_DATAW found{};
  if (search_for(copy, found)) {
    const std::int64_t candidate = found_size(found);
    // The search also matches wildcard patterns; the existence test does not.
    return exists(copy) ? candidate : -1;
  }

  // Share roots ("\\server\share") and the like are never found by a search.
  if (!files::needs_attribute_test(copy)) {
    return -1;
  }
  const DWORD attributes = GetFileAttributesW(wide(copy));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (drive_absent(copy)) {
      return -1;
    }
    return exists(copy) ? -2 : -1;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return exists(copy) ? -2 : -1;
  }
  return -1;
}

bool make_directory(TextView path) {
  const Text directory(files::windows_directory_path(path));
  return CreateDirectoryW(wide(directory), nullptr) != FALSE;
}

bool remove_file(TextView path) {
  const Text file(path);
  // A read-only file is left alone: its attribute is not cleared first.
  return DeleteFileW(wide(file)) != FALSE;
}

Text temporary_directory() {
  wchar_t buffer[kTempPathCapacity] = {};
  DWORD length = GetTempPathW(kTempPathCapacity, buffer);

  // Looked up on every call; without it the short form stands.
  if (const unique_module kernel{LoadLibraryW(L"Kernel32.DLL")}) {
    const FARPROC symbol = GetProcAddress(kernel.get(), "GetLongPathNameW");
    if (symbol) {
      const auto to_long_form =
          reinterpret_cast<GetLongPathNameWFunction>(reinterpret_cast<void (*)()>(symbol));
      length = to_long_form(buffer, buffer, kTempPathCapacity);
    }
  }

  // A length beyond the buffer is the size the system asked for, not a path
  // it wrote.
  if (length >= kTempPathCapacity) {
    length = 0;
  }
  return Text(reinterpret_cast<const char16_t*>(buffer), length);
}

}  // namespace velto::platform
