#include <unistd.h>

#include "NetworkInternal.h"

namespace velto::platform {

// Sockets need no start-up here.
bool sockets_start() {
  return true;
}

void sockets_stop() {}

void socket_close(std::uintptr_t socket) {
  ::close(static_cast<int>(socket));
}

}  // namespace velto::platform
