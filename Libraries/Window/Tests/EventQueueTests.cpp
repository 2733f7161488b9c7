#include <gtest/gtest.h>

#include "EventQueue.h"
#include "Window/Window.h"

namespace velto {
namespace {

std::vector<int> codes(const EventQueue& queue) {
  std::vector<int> out;
  for (const Event& e : queue.events()) {
    out.push_back(e.code);
  }
  return out;
}

TEST(EventQueue, PopsInOrderAndReportsAnEmptyQueue) {
  EventQueue queue;
  queue.post({EVENT_ACTIVATE, 0, 0, 0});
  queue.post({EVENT_CLOSE, 0, 0, 0});
  EXPECT_EQ(queue.pop(), EVENT_ACTIVATE);
  EXPECT_EQ(queue.current().code, EVENT_ACTIVATE);
  EXPECT_EQ(queue.pop(), EVENT_CLOSE);
  EXPECT_EQ(queue.pop(), 0);
  EXPECT_EQ(queue.current().code, 0);
  EXPECT_EQ(queue.current().type, -1);
}

TEST(EventQueue, AnEventIsNeverQueuedTwiceInARow) {
  EventQueue queue;
  queue.post({EVENT_LEFT_CLICK, 0, 0, 0});
  queue.post({EVENT_LEFT_CLICK, 0, 0, 0});
  queue.post({EVENT_MOVE, 0, 0, 0});
  queue.post({EVENT_MOVE, 0, 0, 0});
  queue.post({EVENT_MOVE, 0, 0, 0});
  queue.post({EVENT_LEFT_CLICK, 0, 0, 0});
  EXPECT_EQ(codes(queue), (std::vector<int>{EVENT_LEFT_CLICK, EVENT_MOVE, EVENT_LEFT_CLICK}));
  // Any differing field makes it a different event; so does a code of 65536 or more.
  queue.post({EVENT_LEFT_CLICK, 0, 1, 0});
  queue.post({70000, 0, 0, 0});
  queue.post({70000, 0, 0, 0});
  EXPECT_EQ(queue.size(), 6u);
}

TEST(EventQueue, RemovalByPatternKeepsTheOrderOfTheRest) {
  EventQueue queue;
  queue.post({EVENT_SIZE, 0, 0, 0});
  queue.post({EVENT_GADGET, 5, 0, 1});
  queue.post({EVENT_SIZE, 0, 1, 0});
  queue.post({EVENT_GADGET, 6, 0, 2});
  queue.post({EVENT_SIZE, 0, 0, 0});
  queue.remove({EVENT_GADGET, 5, -1, -1});
  EXPECT_EQ(codes(queue), (std::vector<int>{EVENT_SIZE, EVENT_SIZE, EVENT_GADGET, EVENT_SIZE}));
  queue.remove({EVENT_SIZE, 0, 0, 0});
  ASSERT_EQ(queue.size(), 2u);
  EXPECT_EQ(queue.events()[0].window, 1);
  queue.remove({-1, -1, -1, -1});
  EXPECT_TRUE(queue.empty());
  queue.post({EVENT_CLOSE, 0, 0, 0});
  EXPECT_EQ(queue.pop(), EVENT_CLOSE) << "the tail was reset with the last removal";
}

TEST(EventQueue, RemovalByWindow) {
  EventQueue queue;
  queue.post({EVENT_SIZE, 0, 3, 0});
  queue.post({EVENT_CLOSE, 3, 4, 0});
  queue.post({EVENT_MOVE, 3, 3, 0});
  queue.remove_window(3);
  ASSERT_EQ(queue.size(), 1u);
  EXPECT_EQ(queue.events()[0].window, 4);
}

TEST(EventQueue, SuspendedPostsAreLostAndTheCounterNests) {
  EventQueue queue;
  queue.suspend();
  queue.suspend();
  queue.post({EVENT_SIZE, 0, 0, 0});
  queue.resume();
  queue.post({EVENT_SIZE, 0, 0, 0});
  queue.resume();
  queue.resume();  // never below zero
  EXPECT_EQ(queue.suspend_count(), 0);
  EXPECT_TRUE(queue.empty());
  queue.post({EVENT_SIZE, 0, 0, 0});
  EXPECT_EQ(queue.size(), 1u);
}

TEST(EventQueue, NodesAreRecycledAcrossManyEvents) {
  EventQueue queue;
  for (int round = 0; round < 1000; ++round) {
    for (int i = 0; i < 100; ++i) {
      queue.post({EVENT_GADGET, i, 0, 0});
    }
    while (queue.pop()) {
    }
  }
  EXPECT_TRUE(queue.empty());
}

}  // namespace
}  // namespace velto
