#include "Core/WinApi.h"

#include "Core/Startup.h"

namespace velto {

void thread_slot_init() {
  // One thread-local slot, kept for the life of the process.
  static const DWORD slot = TlsAlloc();
  static_cast<void>(slot);
}

}  // namespace velto
