#include "Core/WinApi.h"

#include <ole2.h>

#include "Core/Startup.h"

namespace velto {

void ole_init() {
  static_cast<void>(OleInitialize(nullptr));
}

void ole_end() {
  OleUninitialize();
}

}  // namespace velto
