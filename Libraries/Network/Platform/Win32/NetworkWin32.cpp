#include <winsock2.h>

#include "Core/WinApi.h"
#include "NetworkInternal.h"

namespace velto::platform {

namespace {
// ws2_32 is also loaded by name so that the newer resolver entry points are
// used only where the system has them.
struct SocketLibrary {
  HMODULE module = nullptr;
  FARPROC getaddrinfo = nullptr;
  FARPROC freeaddrinfo = nullptr;
  FARPROC getnameinfo = nullptr;
  FARPROC string_to_address = nullptr;
};

SocketLibrary& socket_library() noexcept {
  static SocketLibrary library;
  return library;
}
}  // namespace

bool sockets_start() {
  WSADATA data{};
  const bool started = WSAStartup(0x101, &data) == 0;
  SocketLibrary& library = socket_library();
  library.module = LoadLibraryW(L"ws2_32.dll");
  if (library.module) {
    library.getaddrinfo = GetProcAddress(library.module, "getaddrinfo");
    library.freeaddrinfo = GetProcAddress(library.module, "freeaddrinfo");
    library.getnameinfo = GetProcAddress(library.module, "getnameinfo");
    library.string_to_address = GetProcAddress(library.module, "WSAStringToAddressA");
  }
  return started;
}

void sockets_stop() {
  WSACleanup();
  SocketLibrary& library = socket_library();
  if (library.module) {
    FreeLibrary(library.module);
  }
  library = SocketLibrary{};
}

void socket_close(std::uintptr_t socket) {
  closesocket(static_cast<SOCKET>(socket));
}

}  // namespace velto::platform
