#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstring>

#include "Core/Heap.h"
#include "Core/Memory.h"
#include "Core/Startup.h"

namespace velto {
namespace {

TEST(Heap, BlocksAreZeroedResizedAndAllReleasedWithTheHeap) {
  Heap heap;
  ASSERT_TRUE(heap.valid());
  auto* block = static_cast<unsigned char*>(heap.allocate(64));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(block[i], 0);
  }
  std::memset(block, 0xAB, 64);
  auto* grown = static_cast<unsigned char*>(heap.reallocate(block, 100000));
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(grown[63], 0xAB);
  // Left allocated on purpose: destroying the heap must release it (checked
  // by the sanitizer build's leak checker).
  static_cast<void>(heap.allocate(10));
}

TEST(MemoryBlocks, SizeZeroGivesNoneAndBlocksAreClearedUnlessAsked) {
  memory_library_init();
  EXPECT_EQ(memory_alloc(0), nullptr);
  EXPECT_EQ(memory_alloc(-5), nullptr);
  auto* block = static_cast<unsigned char*>(memory_alloc(32));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[31], 0);
  memory_free(block);
  memory_free(nullptr);
  memory_library_end();
  EXPECT_EQ(memory_alloc(8), nullptr) << "no memory heap after its end step";
  memory_library_init();
}

TEST(Arrays, CreateReplacesTheVariablesArrayAndFreeClearsIt) {
  void* variable = nullptr;
  auto* first = static_cast<std::int32_t*>(array_create(4, 4, 21, nullptr, &variable));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(variable, first);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(first[i], 0);
  }
  EXPECT_EQ(array_header(first)->count, 4u);
  EXPECT_EQ(array_header(first)->type_code, 21);

  auto* second = static_cast<std::int32_t*>(array_create(4, 8, 21, nullptr, &variable));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(variable, second);

  EXPECT_EQ(array_create(4, 0, 21, nullptr, &variable), nullptr);
  EXPECT_EQ(variable, nullptr) << "a count of 0 frees the old array and leaves the variable empty";
}

TEST(Arrays, MultiDimensionalExtentsBecomeStrides) {
  void* variable = nullptr;
  std::intptr_t extents[] = {2, 3, 4};
  void* array = array_create(8, extents, 21, nullptr, &variable);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(array_header(array)->count, 24u);
  EXPECT_EQ(array_header(array)->dimensions, 3);
  EXPECT_EQ(extents[0], 12);
  EXPECT_EQ(extents[1], 4);
  EXPECT_EQ(extents[2], 1);

  std::intptr_t bad[] = {2, 0};
  EXPECT_EQ(array_create(8, bad, 21, nullptr, &variable), nullptr);
  EXPECT_EQ(variable, nullptr);
}

TEST(Arrays, StructuredElementsAreInitialisedCopiedAndReleased) {
  static int live = 0;
  ElementDescriptor descriptor;
  descriptor.initialise = [](void* e) { *static_cast<int*>(e) = 7, ++live; };
  descriptor.release = [](void*) { --live; };
  descriptor.copy = [](void* to, const void* from) { *static_cast<int*>(to) = *static_cast<const int*>(from) + 1; };
  void* a = nullptr;
  void* b = nullptr;
  array_create(sizeof(int), 3, 0, &descriptor, &a);
  array_create(sizeof(int), 3, 0, &descriptor, &b);
  EXPECT_EQ(live, 6);
  EXPECT_TRUE(array_copy(b, a));
  EXPECT_EQ(static_cast<int*>(b)[2], 8);
  void* other = nullptr;
  array_create(sizeof(int), 2, 0, nullptr, &other);
  EXPECT_FALSE(array_copy(other, a));
  array_free(a);
  array_free(b);
  array_free(other);
  EXPECT_EQ(live, 0);
  EXPECT_EQ(a, nullptr);
}

TEST(Locale, NumbersAlwaysUseADecimalPoint) {
  locale_init();
  char text[16];
  std::snprintf(text, sizeof text, "%.1f", 1.5);
  EXPECT_STREQ(text, "1.5");
}

}  // namespace
}  // namespace velto

namespace velto {
namespace {

struct SampleState {
  int counter = 0;
  void* pointer = nullptr;
};

TEST(LibraryState, ComesZeroFilledFromTheProgramHeapAndIsInitialised) {
  SampleState* plain = state_alloc<SampleState>();
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->counter, 0);
  EXPECT_EQ(plain->pointer, nullptr);
  SampleState* initialised = state_alloc<SampleState>([](SampleState& state) { state.counter = 7; });
  ASSERT_NE(initialised, nullptr);
  EXPECT_EQ(initialised->counter, 7);
  EXPECT_NE(plain, initialised);
  heap_delete(program_heap(), plain);
  heap_delete(program_heap(), initialised);
}

}  // namespace
}  // namespace velto
