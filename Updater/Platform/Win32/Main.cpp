#include <vector>

#include "Core/Heap.h"
#include "Update.h"

int wmain(int argc, wchar_t** argv) {
  velto::program_heap_create();
  std::vector<velto::Text> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  }
  const auto code = velto::updater::run_update(arguments);
  velto::program_heap_destroy();
  return static_cast<int>(code);
}
