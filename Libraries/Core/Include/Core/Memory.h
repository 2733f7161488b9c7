#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace velto {

// Memory blocks handed between libraries (binding results, for instance).
inline constexpr std::uint32_t MEMORY_NO_CLEAR = 1;

void memory_library_init();
void memory_library_end();

// A block of the memory heap, zero-filled unless MEMORY_NO_CLEAR; nullptr for
// a size of 0 or less or when memory is short.
[[nodiscard]] void* memory_alloc(std::intptr_t size, std::uint32_t flags = 0) noexcept;
void memory_free(void* block) noexcept;

// Layout of structured elements; plain elements have none.
struct ElementDescriptor {
  void (*initialise)(void* element) = nullptr;
  void (*release)(void* element) = nullptr;
  void (*copy)(void* target, const void* source) = nullptr;
};

// Lies directly before an array's first element.
struct ArrayHeader {
  std::intptr_t dimensions;
  std::size_t element_size;
  const ElementDescriptor* descriptor;
  void** owner;
  std::size_t count;
  std::int32_t type_code;
};

void array_library_init();

// A zeroed array of `count` elements stored in *variable (which first loses
// the array it held); nullptr and an empty variable for a count of 0 or less.
void* array_create(std::size_t element_size, std::intptr_t count, std::int32_t type_code,
                   const ElementDescriptor* descriptor, void** variable);

// The k-dimension form: `extents` is replaced by the strides of each dimension.
void* array_create(std::size_t element_size, std::span<std::intptr_t> extents, std::int32_t type_code,
                   const ElementDescriptor* descriptor, void** variable);

void array_free(void* array) noexcept;

// Copies elements between arrays of the same shape; false when shapes differ.
bool array_copy(void* target, const void* source) noexcept;

[[nodiscard]] const ArrayHeader* array_header(const void* array) noexcept;

}  // namespace velto
