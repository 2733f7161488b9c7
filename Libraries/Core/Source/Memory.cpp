#include "Core/Memory.h"

#include <cstring>
#include <memory>

#include "Core/Heap.h"

namespace velto {

namespace {

struct MemoryState {
  std::unique_ptr<Heap> heap;
};

MemoryState& memory_state() noexcept {
  static MemoryState state;
  return state;
}

constexpr std::size_t kHeaderSize =
    (sizeof(ArrayHeader) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) * alignof(std::max_align_t);

ArrayHeader* header_of(void* array) noexcept {
  return reinterpret_cast<ArrayHeader*>(static_cast<unsigned char*>(array) - kHeaderSize);
}

unsigned char* element(void* array, std::size_t index) noexcept {
  return static_cast<unsigned char*>(array) + index * header_of(array)->element_size;
}

void* make_array(std::size_t element_size, std::size_t count, std::intptr_t dimensions, std::int32_t type_code,
                 const ElementDescriptor* descriptor, void** variable) {
  if (element_size && count > (SIZE_MAX - kHeaderSize) / element_size) {
    return nullptr;
  }
  void* block = program_heap().allocate(kHeaderSize + element_size * count);
  if (!block) {
    return nullptr;
  }
  auto* header = static_cast<ArrayHeader*>(block);
  *header = ArrayHeader{dimensions, element_size, descriptor, variable, count, type_code};
  void* array = static_cast<unsigned char*>(block) + kHeaderSize;
  if (descriptor && descriptor->initialise) {
    for (std::size_t i = 0; i < count; ++i) {
      descriptor->initialise(element(array, i));
    }
  }
  if (variable) {
    *variable = array;
  }
  return array;
}

}  // namespace

void memory_library_init() {
  if (!memory_state().heap) {
    memory_state().heap = std::make_unique<Heap>();
  }
}

void memory_library_end() {
  memory_state().heap.reset();
}

void* memory_alloc(std::intptr_t size, std::uint32_t flags) noexcept {
  Heap* heap = memory_state().heap.get();
  if (size <= 0 || !heap) {
    return nullptr;
  }
  return heap->allocate(static_cast<std::size_t>(size), (flags & MEMORY_NO_CLEAR) == 0);
}

void memory_free(void* block) noexcept {
  if (Heap* heap = memory_state().heap.get()) {
    heap->release(block);
  }
}

void array_library_init() {}

void* array_create(std::size_t element_size, std::intptr_t count, std::int32_t type_code,
                   const ElementDescriptor* descriptor, void** variable) {
  if (variable) {
    array_free(*variable);
    *variable = nullptr;
  }
  if (count <= 0) {
    return nullptr;
  }
  return make_array(element_size, static_cast<std::size_t>(count), 1, type_code, descriptor, variable);
}

void* array_create(std::size_t element_size, std::span<std::intptr_t> extents, std::int32_t type_code,
                   const ElementDescriptor* descriptor, void** variable) {
  if (variable) {
    array_free(*variable);
    *variable = nullptr;
  }
  if (extents.empty()) {
    return nullptr;
  }
  std::size_t count = 1;
  for (const std::intptr_t extent : extents) {
    if (extent <= 0 || count > SIZE_MAX / static_cast<std::size_t>(extent)) {
      return nullptr;
    }
    count *= static_cast<std::size_t>(extent);
  }
  // Callers index with strides: the stride of a dimension is the product of
  // the extents after it.
  std::intptr_t stride = 1;
  for (std::size_t i = extents.size(); i-- > 0;) {
    const std::intptr_t extent = extents[i];
    extents[i] = stride;
    stride *= extent;
  }
  return make_array(element_size, count, static_cast<std::intptr_t>(extents.size()), type_code, descriptor, variable);
}

void array_free(void* array) noexcept {
  if (!array) {
    return;
  }
  ArrayHeader* header = header_of(array);
  if (header->descriptor && header->descriptor->release) {
    for (std::size_t i = 0; i < header->count; ++i) {
      header->descriptor->release(element(array, i));
    }
  }
  if (header->owner) {
    *header->owner = nullptr;
  }
  program_heap().release(header);
}

bool array_copy(void* target, const void* source) noexcept {
  if (!target || !source) {
    return false;
  }
  ArrayHeader* to = header_of(target);
  const ArrayHeader* from = array_header(source);
  if (to->dimensions != from->dimensions || to->count != from->count || to->element_size != from->element_size) {
    return false;
  }
  if (from->descriptor && from->descriptor->copy) {
    for (std::size_t i = 0; i < from->count; ++i) {
      from->descriptor->copy(element(target, i), static_cast<const unsigned char*>(source) + i * from->element_size);
    }
  } else {
    std::memmove(target, source, from->count * from->element_size);
  }
  return true;
}

const ArrayHeader* array_header(const void* array) noexcept {
  return array ? reinterpret_cast<const ArrayHeader*>(static_cast<const unsigned char*>(array) - kHeaderSize)
               : nullptr;
}

}  // namespace velto
