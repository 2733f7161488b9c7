// Test helper: records how it was started, as "key=value" lines in UTF-8, in
// the file named by VELTO_RECORD_FILE. The file appears complete or not at
// all. With VELTO_RECORD_RELEASE set it then stays until that file exists
// (30 s at most).
#include <string>

#include "Core/WinApi.h"

namespace {

std::wstring variable(const wchar_t* name, bool* present = nullptr) {
  wchar_t buffer[4096];
  SetLastError(ERROR_SUCCESS);
  const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
  if (present) {
    *present = length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  }
  return length < 4096 ? std::wstring(buffer, length) : std::wstring();
}

std::string utf8(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), needed, nullptr, nullptr);
  return out;
}

}  // namespace

int main() {
  const std::wstring record = variable(L"VELTO_RECORD_FILE");
  if (record.empty()) {
    return 2;
  }
  wchar_t directory[MAX_PATH] = {};
  const DWORD directory_length = GetCurrentDirectoryW(MAX_PATH, directory);
  bool value_present = false;
  const std::wstring value = variable(L"VELTO_RECORD_VALUE", &value_present);

  std::string text = "command=" + utf8(GetCommandLineW()) + "\n";
  text += "cwd=" + utf8(std::wstring(directory, directory_length)) + "\n";
  text += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
  text += value_present ? "value=" + utf8(value) + "\n" : std::string("value-unset=\n");

  const std::wstring partial = record + L".partial";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return 3;
  }
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || written != text.size() || !MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return 3;
  }

  const std::wstring release = variable(L"VELTO_RECORD_RELEASE");
  for (int round = 0; !release.empty() && round < 1500; ++round) {
    if (GetFileAttributesW(release.c_str()) != INVALID_FILE_ATTRIBUTES) {
      break;
    }
    Sleep(20);
  }
  return 0;
}
