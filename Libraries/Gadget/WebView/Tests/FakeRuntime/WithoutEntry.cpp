// An installed runtime's library that lacks the entry point the engine
// looks for, as a damaged or an unexpected install would.

#include "Core/WinApi.h"

extern "C" __declspec(dllexport) int velto_fake_runtime_without_entry() {
  return 0;
}
