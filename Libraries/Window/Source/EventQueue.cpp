#include "EventQueue.h"

namespace velto {

namespace {
bool field_matches(ObjectNumber pattern, ObjectNumber value) {
  return pattern == -1 || pattern == value;
}
}  // namespace

EventQueue::Node* EventQueue::take_node() {
  if (!free_) {
    blocks_.push_back(std::make_unique<Node[]>(kBlockNodes));
    Node* block = blocks_.back().get();
    for (std::size_t i = 0; i < kBlockNodes; ++i) {
      block[i].next = free_;
      free_ = &block[i];
    }
  }
  Node* node = free_;
  free_ = node->next;
  node->next = nullptr;
  return node;
}

void EventQueue::give_back(Node* node) noexcept {
  node->next = free_;
  free_ = node;
}

bool EventQueue::post(const Event& event) {
  if (suspend_count_ > 0) {
    return false;
  }
  // An event is never queued twice in a row: events carry no coordinates,
  // so a run of identical ones says nothing more than one.
  if (tail_ && event.code < 65536 && tail_->event.code == event.code && tail_->event.object == event.object &&
      tail_->event.window == event.window && tail_->event.type == event.type) {
    return false;
  }
  Node* node = take_node();
  node->event = event;
  if (tail_) {
    tail_->next = node;
  } else {
    head_ = node;
  }
  tail_ = node;
  return true;
}

int EventQueue::pop() {
  current_ = Event{0, 0, 0, -1};
  if (!head_) {
    return 0;
  }
  Node* node = head_;
  current_ = node->event;
  head_ = node->next;
  if (!head_) {
    tail_ = nullptr;
  }
  give_back(node);
  return current_.code;
}

template <class Match>
void EventQueue::unlink_if(Match match) {
  Node* previous = nullptr;
  Node* node = head_;
  while (node) {
    Node* next = node->next;
    if (match(node->event)) {
      if (previous) {
        previous->next = next;
      } else {
        head_ = next;
      }
      if (tail_ == node) {
        tail_ = previous;
      }
      give_back(node);
    } else {
      previous = node;
    }
    node = next;
  }
}

void EventQueue::remove(const Event& pattern) {
  unlink_if([&](const Event& e) {
    return field_matches(pattern.code, e.code) && field_matches(pattern.object, e.object) &&
           field_matches(pattern.window, e.window) && field_matches(pattern.type, e.type);
  });
}

void EventQueue::remove_window(ObjectNumber window) {
  unlink_if([&](const Event& e) { return e.window == window; });
}

void EventQueue::clear() {
  unlink_if([](const Event&) { return true; });
}

std::size_t EventQueue::size() const noexcept {
  std::size_t count = 0;
  for (const Node* node = head_; node; node = node->next) {
    ++count;
  }
  return count;
}

std::vector<Event> EventQueue::events() const {
  std::vector<Event> out;
  for (const Node* node = head_; node; node = node->next) {
    out.push_back(node->event);
  }
  return out;
}

}  // namespace velto
