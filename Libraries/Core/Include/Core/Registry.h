#pragma once

#include <cassert>
#include <cstddef>
#include <new>
#include <type_traits>

#include "Core/Heap.h"
#include "Core/Types.h"

namespace velto {

// Numbered-object registry. Records of type Record live either in a slot
// table indexed by fixed numbers (0 and above) or in a list of dynamically
// numbered records whose number is the record's own address.
//
// A record is "alive" while its first member, `handle`, is non-zero. A
// record is value-initialised ("zero-filled") when made, and reset the same
// way when it is freed; slot records stay allocated for reuse.
//
// Every block comes from the program heap.
template <class Record>
class Registry {
 public:
  using ReleaseRoutine = void (*)(ObjectNumber);

  Registry(std::size_t initial_slots, ReleaseRoutine release)
      : growth_step_(initial_slots), release_(release) {
    static_assert(std::is_default_constructible_v<Record>);
    grow(initial_slots);
  }

  ~Registry() {
    for (std::size_t i = 0; i < slot_count_; ++i) {
      heap_delete(program_heap(), slots_[i]);
    }
    program_heap().release(slots_);
    while (dynamic_) {
      DynamicNode* next = dynamic_->next;
      heap_delete(program_heap(), dynamic_);
      dynamic_ = next;
    }
  }

  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  [[nodiscard]] std::size_t slot_count() const noexcept { return slot_count_; }
  [[nodiscard]] ReleaseRoutine release_routine() const noexcept { return release_; }

  Record* alloc(ObjectNumber number) {
    if (number == ANY_NUMBER) {
      auto* node = heap_new<DynamicNode>(program_heap());
      if (!node) {
        return nullptr;
      }
      node->next = dynamic_;
      if (dynamic_) {
        dynamic_->previous = node;
      }
      dynamic_ = node;
      return &node->record;
    }
    if (number < 0) {
      return nullptr;
    }
    const auto index = static_cast<std::size_t>(number);
    if (index >= slot_count_ && !grow(index + growth_step_)) {
      return nullptr;
    }
    if (Record* existing = slots_[index]) {
      if (release_) {
        release_(number);
      }
      // The release routine may itself have reset the record; make sure a
      // reused record is always handed out clean.
      *existing = Record{};
      return existing;
    }
    slots_[index] = heap_new<Record>(program_heap());
    return slots_[index];
  }

  // The record of a live object, or nullptr.
  [[nodiscard]] Record* get(ObjectNumber number) const noexcept {
    // Dynamic numbers are checked against the list rather than dereferenced,
    // so a stale or made-up number can never reach freed memory.
    Record* candidate = is_slot(number) ? slots_[static_cast<std::size_t>(number)] : find_dynamic(number);
    return candidate && alive(*candidate) ? candidate : nullptr;
  }

  // Like get(), but a dynamic record is answered whether or not it is alive,
  // as long as the number is the address of a record in the dynamic list.
  [[nodiscard]] Record* find(ObjectNumber number) const noexcept {
    if (is_slot(number)) {
      Record* record = slots_[static_cast<std::size_t>(number)];
      return record && alive(*record) ? record : nullptr;
    }
    return find_dynamic(number);
  }

  // Forgets the object without calling the release routine.
  void free(ObjectNumber number) noexcept {
    if (is_slot(number)) {
      if (Record* record = slots_[static_cast<std::size_t>(number)]) {
        *record = Record{};
      }
      return;
    }
    for (DynamicNode* node = dynamic_; node; node = node->next) {
      if (number_of(node->record) == number) {
        unlink(node);
        heap_delete(program_heap(), node);
        return;
      }
    }
  }

  // Calls the release routine for every live object: slots in ascending
  // order, then dynamic objects, most recent first.
  void release_all() {
    if (!release_) {
      return;
    }
    for (cursor_ = 0; cursor_ < slot_count_; ++cursor_) {
      Record* record = slots_[cursor_];
      if (record && alive(*record)) {
        release_(static_cast<ObjectNumber>(cursor_));
      }
    }
    while (dynamic_) {
      DynamicNode* head = dynamic_;
      release_(number_of(head->record));
      if (dynamic_ == head) {
        // A release routine that failed to take its object out would make
        // this walk endless; forget the object instead.
        unlink(head);
        heap_delete(program_heap(), head);
      }
    }
  }

  // The dynamic number of a record that lives in the dynamic list.
  [[nodiscard]] static ObjectNumber number_of(const Record& record) noexcept {
    return reinterpret_cast<ObjectNumber>(&record);
  }

  [[nodiscard]] static bool alive(const Record& record) noexcept {
    return static_cast<bool>(record.handle);
  }

 private:
  struct DynamicNode {
    DynamicNode* next = nullptr;
    DynamicNode* previous = nullptr;
    Record record{};
  };

  [[nodiscard]] bool is_slot(ObjectNumber number) const noexcept {
    return number >= 0 && static_cast<std::size_t>(number) < slot_count_;
  }

  [[nodiscard]] Record* find_dynamic(ObjectNumber number) const noexcept {
    for (DynamicNode* node = dynamic_; node; node = node->next) {
      if (number_of(node->record) == number) {
        return &node->record;
      }
    }
    return nullptr;
  }

  void unlink(DynamicNode* node) noexcept {
    if (node->previous) {
      node->previous->next = node->next;
    } else {
      dynamic_ = node->next;
    }
    if (node->next) {
      node->next->previous = node->previous;
    }
  }

  bool grow(std::size_t new_count) {
    void* block = slots_ ? program_heap().reallocate(slots_, new_count * sizeof(Record*))
                         : program_heap().allocate(new_count * sizeof(Record*));
    if (!block) {
      return false;
    }
    slots_ = static_cast<Record**>(block);
    for (std::size_t i = slot_count_; i < new_count; ++i) {
      slots_[i] = nullptr;
    }
    slot_count_ = new_count;
    return true;
  }

  std::size_t growth_step_;
  std::size_t slot_count_ = 0;
  Record** slots_ = nullptr;
  DynamicNode* dynamic_ = nullptr;
  ReleaseRoutine release_;
  std::size_t cursor_ = 0;
};

// The registry operations under their runtime names.
template <class Record>
[[nodiscard]] Registry<Record>* registry_create(std::size_t initial_slots,
                                                typename Registry<Record>::ReleaseRoutine release) {
  return heap_new<Registry<Record>>(program_heap(), initial_slots, release);
}

template <class Record>
Record* registry_alloc(Registry<Record>& registry, ObjectNumber number) {
  return registry.alloc(number);
}

template <class Record>
[[nodiscard]] Record* registry_get(const Registry<Record>& registry, ObjectNumber number) noexcept {
  return registry.get(number);
}

template <class Record>
[[nodiscard]] Record* registry_find(const Registry<Record>& registry, ObjectNumber number) noexcept {
  return registry.find(number);
}

template <class Record>
void registry_free(Registry<Record>& registry, ObjectNumber number) noexcept {
  registry.free(number);
}

template <class Record>
void registry_release_all(Registry<Record>& registry) {
  registry.release_all();
}

}  // namespace velto
