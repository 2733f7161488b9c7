#include <vector>

#include "Core/Heap.h"
#include "Core/Strings.h"
#include "Update.h"

int main(int argc, char** argv) {
  velto::program_heap_create();
  std::vector<velto::Text> arguments;
  for (int i = 1; i < argc; ++i) {
    arguments.push_back(velto::from_utf8(argv[i]));
  }
  const auto code = velto::updater::run_update(arguments);
  velto::program_heap_destroy();
  return static_cast<int>(code);
}
