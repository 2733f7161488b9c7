#include <gtest/gtest.h>

#include "Core/Heap.h"

namespace {
// Every test program runs with the program heap in place, as the client does.
class ProgramHeapEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { velto::program_heap_create(); }
  void TearDown() override { velto::program_heap_destroy(); }
};
}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new ProgramHeapEnvironment);
  return RUN_ALL_TESTS();
}
