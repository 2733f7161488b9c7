// Stands in for the updater in the Windows tests: writes the arguments it
// was started with, one a line in UTF-8, to arguments.txt beside itself.
#include <cstdio>
#include <string>

#include "Core/WinApi.h"

#include <shellapi.h>

namespace {

std::string utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? static_cast<std::size_t>(size) : 1U, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

}  // namespace

int wmain() {
  wchar_t self[MAX_PATH]{};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self);
  path.resize(path.find_last_of(L'\\') + 1);
  path += L"arguments.txt";

  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) {
    return 1;
  }
  std::string lines;
  for (int i = 1; i < count; ++i) {
    lines += utf8(arguments[i]) + "\n";
  }
  LocalFree(arguments);
  FILE* out = _wfopen(path.c_str(), L"wb");
  if (out == nullptr) {
    return 1;
  }
  std::fwrite(lines.data(), 1, lines.size(), out);
  std::fclose(out);
  return 0;
}
