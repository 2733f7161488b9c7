// Stands in for the installer and for the client in the updater's Windows
// tests. Each start appends one line, "<own file name>|<arguments>|<client
// state>", to the file named by VELTO_TEST_RECORD, where the client state
// tells whether the process VELTO_TEST_CLIENT_PID still runs; then it exits
// with VELTO_TEST_EXIT_CODE (0 when unset).
// With the one argument --client it is the client the updater waits for: it
// prints its process id and ends when its input ends.
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "Core/Strings.h"
#include "Core/WinApi.h"

namespace {

std::string utf8(const wchar_t* text) {
  // Windows text and runtime text are both UTF-16.
  return velto::to_utf8(reinterpret_cast<const char16_t*>(text));
}

bool process_runs(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) {
    return false;
  }
  const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return runs;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"--client") == 0) {
    std::printf("%lu\n", GetCurrentProcessId());
    std::fflush(stdout);
    char line[64];
    while (std::fgets(line, sizeof line, stdin) != nullptr) {
    }
    return 0;
  }
  const wchar_t* record = _wgetenv(L"VELTO_TEST_RECORD");
  const wchar_t* client = _wgetenv(L"VELTO_TEST_CLIENT_PID");
  const wchar_t* code = _wgetenv(L"VELTO_TEST_EXIT_CODE");
  if (record == nullptr) {
    return 1;
  }
  std::string self = utf8(argv[0]);
  self = self.substr(self.find_last_of("\\/") + 1);
  std::string line = self + "|";
  for (int i = 1; i < argc; ++i) {
    line += (i > 1 ? " " : "") + utf8(argv[i]);
  }
  const DWORD pid = client != nullptr ? static_cast<DWORD>(std::wcstoul(client, nullptr, 10)) : 0;
  line += pid != 0 && process_runs(pid) ? "|client running\n" : "|client ended\n";
  FILE* out = _wfopen(record, L"ab");
  if (out == nullptr) {
    return 1;
  }
  std::fwrite(line.data(), 1, line.size(), out);
  std::fclose(out);
  return code != nullptr ? static_cast<int>(std::wcstol(code, nullptr, 10)) : 0;
}
