#include "Core/WinApi.h"

#include "Core/Heap.h"

namespace velto {
namespace detail {

struct HeapImpl {
  HANDLE handle = nullptr;
  ~HeapImpl() {
    if (handle) {
      HeapDestroy(handle);
    }
  }
};

}  // namespace detail

Heap::Heap() : impl_(std::make_unique<detail::HeapImpl>()) {
  // Growable private heap with the same initial size the runtime always used.
  impl_->handle = HeapCreate(0, 4096, 0);
  if (!impl_->handle) {
    impl_.reset();
  }
}

Heap::~Heap() = default;

void* Heap::allocate(std::size_t size, bool zero) noexcept {
  if (!impl_) {
    return nullptr;
  }
  return HeapAlloc(impl_->handle, zero ? HEAP_ZERO_MEMORY : 0, size ? size : 1);
}

void* Heap::reallocate(void* block, std::size_t size) noexcept {
  if (!impl_) {
    return nullptr;
  }
  if (!block) {
    return allocate(size);
  }
  return HeapReAlloc(impl_->handle, 0, block, size ? size : 1);
}

void Heap::release(void* block) noexcept {
  if (impl_ && block) {
    HeapFree(impl_->handle, 0, block);
  }
}

}  // namespace velto
