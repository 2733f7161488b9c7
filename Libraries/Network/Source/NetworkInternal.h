#pragma once

#include <cstdint>

namespace velto {

struct ConnectionRecord {
  std::uintptr_t handle = 0;  // the socket
};

namespace platform {
[[nodiscard]] bool sockets_start();
void sockets_stop();
void socket_close(std::uintptr_t socket);
}  // namespace platform

}  // namespace velto
