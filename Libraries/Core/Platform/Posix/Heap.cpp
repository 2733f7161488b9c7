#include <cstdlib>
#include <cstring>

#include "Core/Heap.h"

namespace velto {
namespace detail {

// An arena that owns its blocks: each block carries a link header so that
// destroying the arena releases whatever is still allocated, as destroying
// a private heap does on Windows.
struct BlockHeader {
  BlockHeader* next;
  BlockHeader* previous;
};

struct HeapImpl {
  BlockHeader* blocks = nullptr;

  ~HeapImpl() {
    while (blocks) {
      BlockHeader* next = blocks->next;
      std::free(blocks);
      blocks = next;
    }
  }

  void link(BlockHeader* header) noexcept {
    header->previous = nullptr;
    header->next = blocks;
    if (blocks) {
      blocks->previous = header;
    }
    blocks = header;
  }

  void unlink(BlockHeader* header) noexcept {
    if (header->previous) {
      header->previous->next = header->next;
    } else {
      blocks = header->next;
    }
    if (header->next) {
      header->next->previous = header->previous;
    }
  }
};

}  // namespace detail

namespace {
constexpr std::size_t kHeaderSize = (sizeof(detail::BlockHeader) + alignof(std::max_align_t) - 1) /
                                    alignof(std::max_align_t) * alignof(std::max_align_t);

detail::BlockHeader* header_of(void* block) noexcept {
  return reinterpret_cast<detail::BlockHeader*>(static_cast<unsigned char*>(block) - kHeaderSize);
}

void* payload_of(detail::BlockHeader* header) noexcept {
  return reinterpret_cast<unsigned char*>(header) + kHeaderSize;
}
}  // namespace

Heap::Heap() : impl_(std::make_unique<detail::HeapImpl>()) {}

Heap::~Heap() = default;

void* Heap::allocate(std::size_t size, bool zero) noexcept {
  if (!impl_) {
    return nullptr;
  }
  void* raw = zero ? std::calloc(1, kHeaderSize + size) : std::malloc(kHeaderSize + size);
  if (!raw) {
    return nullptr;
  }
  auto* header = static_cast<detail::BlockHeader*>(raw);
  impl_->link(header);
  return payload_of(header);
}

void* Heap::reallocate(void* block, std::size_t size) noexcept {
  if (!impl_) {
    return nullptr;
  }
  if (!block) {
    return allocate(size);
  }
  detail::BlockHeader* header = header_of(block);
  impl_->unlink(header);
  void* raw = std::realloc(header, kHeaderSize + size);
  if (!raw) {
    impl_->link(header);
    return nullptr;
  }
  auto* moved = static_cast<detail::BlockHeader*>(raw);
  impl_->link(moved);
  return payload_of(moved);
}

void Heap::release(void* block) noexcept {
  if (!impl_ || !block) {
    return;
  }
  detail::BlockHeader* header = header_of(block);
  impl_->unlink(header);
  std::free(header);
}

}  // namespace velto
