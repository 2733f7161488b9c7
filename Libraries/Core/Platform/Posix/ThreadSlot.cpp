#include <pthread.h>

#include "Core/Startup.h"

namespace velto {

void thread_slot_init() {
  // One thread-local slot, kept for the life of the process.
  static pthread_key_t slot;
  static const bool created = pthread_key_create(&slot, nullptr) == 0;
  static_cast<void>(created);
}

}  // namespace velto
