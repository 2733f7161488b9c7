#pragma once

namespace velto {

// Start-up steps of the core libraries (the whole order lives in Runtime.h).
void locale_init();
void map_library_init();
void list_library_init();
void thread_slot_init();

}  // namespace velto
