#pragma once

#include <cstddef>
#include <memory>

namespace velto {

namespace detail {
struct HeapImpl;
}

// A private heap. Destroying it releases every block still allocated from it.
class Heap {
 public:
  Heap();
  ~Heap();
  Heap(const Heap&) = delete;
  Heap& operator=(const Heap&) = delete;

  // A block of at least `size` bytes, zero-filled when asked; nullptr on failure.
  [[nodiscard]] void* allocate(std::size_t size, bool zero = true) noexcept;
  // Resizes a block; the contents up to the smaller size are kept. nullptr on
  // failure, in which case the old block is still valid.
  [[nodiscard]] void* reallocate(void* block, std::size_t size) noexcept;
  void release(void* block) noexcept;

  [[nodiscard]] bool valid() const noexcept { return impl_ != nullptr; }

 private:
  std::unique_ptr<detail::HeapImpl> impl_;
};

// The program heap: library states, registries, object records. Created first
// thing by the entry and destroyed last by the end of the program.
void program_heap_create();
void program_heap_destroy();
[[nodiscard]] Heap& program_heap();

// Typed helpers over a heap, for records that are plain C++ objects.
template <class T, class... Args>
[[nodiscard]] T* heap_new(Heap& heap, Args&&... args) {
  void* block = heap.allocate(sizeof(T));
  return block ? new (block) T(std::forward<Args>(args)...) : nullptr;
}

template <class T>
void heap_delete(Heap& heap, T* object) noexcept {
  if (object) {
    object->~T();
    heap.release(object);
  }
}

// Takes a zero-filled library state record from the program heap and runs
// its initialiser. The record lives until the program heap goes.
template <class State>
[[nodiscard]] State* state_alloc(void (*initialise)(State&) = nullptr) {
  State* state = heap_new<State>(program_heap());
  if (state && initialise) {
    initialise(*state);
  }
  return state;
}

}  // namespace velto
