#include "Window/Events.h"
#include "Window/Window.h"
#include "WindowInternal.h"

namespace velto {

EventLibraryState& event_state() noexcept {
  static EventLibraryState state;
  return state;
}

void event_queue_init() {
  platform::event_loop_init();
}

void event_queue_end() {
  platform::event_loop_end();
}

void event_post(int code, ObjectNumber object, ObjectNumber window, int type) {
  if (event_state().queue.post(Event{code, object, window, type})) {
    platform::event_queued();
  }
}

int event_pop() {
  return event_state().queue.pop();
}

const Event& event_current() {
  return event_state().queue.current();
}

void event_remove(int code, ObjectNumber object, ObjectNumber window, int type) {
  event_state().queue.remove(Event{code, object, window, type});
}

void event_remove_window(ObjectNumber window) {
  event_state().queue.remove_window(window);
}

void events_suspend() {
  event_state().queue.suspend();
}

void events_resume() {
  event_state().queue.resume();
}

namespace {
int retrieve(int timeout) {
  EventLibraryState& state = event_state();
  if (const int code = state.queue.pop()) {
    state.message = MessageData{};
    return code;
  }
  return platform::pump_message(timeout, state.message);
}
}  // namespace

int window_wait_event() {
  return retrieve(-1);
}

int window_event() {
  return retrieve(0);
}

MessageData window_message_data() {
  return event_state().message;
}

ObjectNumber event_window() {
  return event_current().window;
}

ObjectNumber event_object() {
  return event_current().object;
}

int event_type() {
  return event_current().type;
}

}  // namespace velto
