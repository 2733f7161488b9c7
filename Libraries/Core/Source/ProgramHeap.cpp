#include <cassert>
#include <memory>

#include "Core/Heap.h"

namespace velto {

namespace {
std::unique_ptr<Heap>& program_heap_slot() {
  static std::unique_ptr<Heap> heap;
  return heap;
}
}  // namespace

void program_heap_create() {
  program_heap_slot() = std::make_unique<Heap>();
}

void program_heap_destroy() {
  program_heap_slot().reset();
}

Heap& program_heap() {
  assert(program_heap_slot() && "the program heap is created first thing at start");
  return *program_heap_slot();
}

}  // namespace velto
