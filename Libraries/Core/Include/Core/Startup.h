#pragma once

namespace velto {

// Start-up steps of the core libraries (the whole order lives in
// Runtime/Runtime.h).
void locale_init();
void map_library_init();
void list_library_init();
void thread_slot_init();

// COM/OLE on the GUI thread (Windows); nothing elsewhere. A start-up and a
// teardown step.
void ole_init();
void ole_end();

}  // namespace velto
