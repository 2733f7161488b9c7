#pragma once

#include "Core/Types.h"

namespace velto {

// The event queue, for the runtime's libraries. GUI thread only.
struct Event {
  int code = 0;
  ObjectNumber object = 0;
  ObjectNumber window = 0;
  int type = -1;
};

void event_post(int code, ObjectNumber object, ObjectNumber window, int type);
// Takes the oldest event off the queue into the current event; its code, or 0.
int event_pop();
[[nodiscard]] const Event& event_current();
// Removes every queued event that matches; -1 in a field matches anything.
void event_remove(int code, ObjectNumber object, ObjectNumber window, int type);
void event_remove_window(ObjectNumber window);
// While suspended, posted events are discarded.
void events_suspend();
void events_resume();

}  // namespace velto
