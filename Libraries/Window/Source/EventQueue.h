#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "Window/Events.h"

namespace velto {

// First-in first-out list of runtime events. Nodes come from a pool of
// fixed-size blocks owned by the queue; posting is constant time.
class EventQueue {
 public:
  EventQueue() = default;
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // False when the event was discarded (suspended, or a repeat).
  bool post(const Event& event);
  int pop();
  void remove(const Event& pattern);
  void remove_window(ObjectNumber window);
  void clear();

  void suspend() noexcept { ++suspend_count_; }
  void resume() noexcept {
    if (suspend_count_ > 0) {
      --suspend_count_;
    }
  }
  [[nodiscard]] int suspend_count() const noexcept { return suspend_count_; }

  [[nodiscard]] const Event& current() const noexcept { return current_; }
  [[nodiscard]] bool empty() const noexcept { return head_ == nullptr; }
  [[nodiscard]] std::size_t size() const noexcept;
  // Snapshot in queue order, for tests and diagnostics.
  [[nodiscard]] std::vector<Event> events() const;

 private:
  struct Node {
    Event event;
    Node* next = nullptr;
  };
  static constexpr std::size_t kBlockNodes = 64;

  Node* take_node();
  void give_back(Node* node) noexcept;
  template <class Match>
  void unlink_if(Match match);

  Node* head_ = nullptr;
  Node* tail_ = nullptr;
  Node* free_ = nullptr;
  std::vector<std::unique_ptr<Node[]>> blocks_;
  int suspend_count_ = 0;
  Event current_{};
};

}  // namespace velto
