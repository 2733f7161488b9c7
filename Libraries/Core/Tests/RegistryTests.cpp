#include <gtest/gtest.h>

#include <vector>

#include "Core/Registry.h"

namespace velto {
namespace {

struct Record {
  int handle = 0;
  int payload = 0;
};

std::vector<ObjectNumber> released;
Registry<Record>* current = nullptr;

// Follows the runtime's release convention: look up, destroy, forget.
void release(ObjectNumber number) {
  released.push_back(number);
  if (registry_get(*current, number)) {
    registry_free(*current, number);
  }
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    released.clear();
    registry_ = registry_create<Record>(16, release);
    current = registry_;
  }
  void TearDown() override { heap_delete(program_heap(), registry_); }

  Record* make(ObjectNumber number, int payload = 1) {
    Record* record = registry_alloc(*registry_, number);
    record->handle = 1;
    record->payload = payload;
    return record;
  }

  Registry<Record>* registry_ = nullptr;
};

TEST_F(RegistryTest, GrowsBeyondTheTableByTheGrowthStep) {
  EXPECT_EQ(registry_->slot_count(), 16u);
  Record* record = registry_alloc(*registry_, 100);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(registry_->slot_count(), 116u);
  EXPECT_EQ(record->handle, 0);
  EXPECT_EQ(record->payload, 0);
  EXPECT_EQ(registry_get(*registry_, 100), nullptr) << "not alive until its handle is set";
  record->handle = 7;
  EXPECT_EQ(registry_get(*registry_, 100), record);
}

TEST_F(RegistryTest, ReusingALiveNumberReleasesTheOldObjectOnceAndHandsOutACleanRecord) {
  Record* first = make(3, 42);
  Record* again = registry_alloc(*registry_, 3);
  EXPECT_EQ(again, first) << "slot records stay allocated for reuse";
  EXPECT_EQ(released, std::vector<ObjectNumber>{3});
  EXPECT_EQ(again->payload, 0);
}

TEST_F(RegistryTest, DynamicNumbersAreRecordAddressesAndOnlyTheyAreFound) {
  Record* a = make(ANY_NUMBER);
  Record* b = make(ANY_NUMBER);
  const auto number_a = Registry<Record>::number_of(*a);
  const auto number_b = Registry<Record>::number_of(*b);
  EXPECT_NE(number_a, number_b);
  EXPECT_EQ(number_a, reinterpret_cast<ObjectNumber>(a));
  EXPECT_EQ(registry_find(*registry_, number_a), a);
  EXPECT_EQ(registry_find(*registry_, number_b), b);
  EXPECT_EQ(registry_get(*registry_, number_b), b);

  Record elsewhere{1, 0};
  const auto made_up = reinterpret_cast<ObjectNumber>(&elsewhere);
  EXPECT_EQ(registry_find(*registry_, made_up), nullptr);
  EXPECT_EQ(registry_get(*registry_, made_up), nullptr) << "never dereferences a number it does not know";

  registry_free(*registry_, number_a);
  EXPECT_EQ(registry_find(*registry_, number_a), nullptr);
  EXPECT_EQ(registry_find(*registry_, number_b), b);
}

TEST_F(RegistryTest, DeadSlotsAndInvalidNumbersAnswerNone) {
  registry_alloc(*registry_, 2);
  EXPECT_EQ(registry_get(*registry_, 2), nullptr);
  EXPECT_EQ(registry_find(*registry_, 2), nullptr);
  EXPECT_EQ(registry_get(*registry_, 15), nullptr);
  EXPECT_EQ(registry_get(*registry_, 5000), nullptr);
  EXPECT_EQ(registry_get(*registry_, -7), nullptr);
  EXPECT_EQ(registry_alloc(*registry_, -7), nullptr);
}

TEST_F(RegistryTest, FreeingASlotZeroesItsRecordButKeepsIt) {
  Record* record = make(4, 9);
  registry_free(*registry_, 4);
  EXPECT_EQ(record->handle, 0);
  EXPECT_EQ(record->payload, 0);
  EXPECT_EQ(registry_get(*registry_, 4), nullptr);
  EXPECT_EQ(registry_alloc(*registry_, 4), record);
}

TEST_F(RegistryTest, ReleaseAllWalksSlotsAscendingThenDynamicMostRecentFirst) {
  make(5);
  make(1);
  registry_alloc(*registry_, 3);  // allocated but not alive: skipped
  const auto first = Registry<Record>::number_of(*make(ANY_NUMBER));
  const auto second = Registry<Record>::number_of(*make(ANY_NUMBER));
  registry_release_all(*registry_);
  EXPECT_EQ(released, (std::vector<ObjectNumber>{1, 5, second, first}));
  EXPECT_EQ(registry_get(*registry_, 1), nullptr);
  EXPECT_EQ(registry_find(*registry_, first), nullptr);
}

TEST(RegistryWithoutRelease, ReleaseAllDoesNothingAndAStubbornRoutineCannotLoopForever) {
  auto* quiet = registry_create<Record>(4, nullptr);
  quiet->alloc(0)->handle = 1;
  registry_release_all(*quiet);
  EXPECT_NE(registry_get(*quiet, 0), nullptr);
  heap_delete(program_heap(), quiet);

  // A routine that does not take its object out must not hang the walk.
  auto* stubborn = registry_create<Record>(4, [](ObjectNumber) {});
  stubborn->alloc(ANY_NUMBER)->handle = 1;
  stubborn->alloc(ANY_NUMBER)->handle = 1;
  registry_release_all(*stubborn);
  heap_delete(program_heap(), stubborn);
}

}  // namespace
}  // namespace velto
