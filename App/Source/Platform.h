#pragma once

#include <cstdint>

#include "Core/Types.h"

namespace velto::app::platform {

// The app data directory: the roaming profile's directory plus the client's
// own folder, joined by plain concatenation as the stored paths always were.
[[nodiscard]] Text app_dir();
// Separator used when the client builds its paths.
[[nodiscard]] TextView separator();
[[nodiscard]] TextView updater_file_name();
// Where the update server keeps this platform's updater and update package.
[[nodiscard]] TextView updater_remote_path();
[[nodiscard]] TextView package_remote_path();
// Where the update descriptor is copied during the check: `preferred` in
// the shared temporary folder, or a name of the client's own beside it
// when a file of another user holds that name (it is left alone).
[[nodiscard]] Text descriptor_copy_path(const Text& preferred);
// Makes a freshly downloaded updater startable.
void prepare_updater(TextView path);
[[nodiscard]] std::int64_t process_id();
// The desktop's new-message sound, started in the background; silence when
// the desktop has none.
void play_new_message_sound();
// Draws the user's attention to the window once (caption and taskbar
// button, or the window's urgency hint).
void flash_window(void* window);
// One client per app data directory (SingleInstance.cpp decides). Takes the
// lock `name` for the rest of the process's life; false when another process
// holds it. Where the holder has to show its own window (Linux), a later
// start's request arrives through the main loop as
// single_instance_show_request().
[[nodiscard]] bool instance_lock(TextView name);
// Brings the main window of the process that holds `name` to the front;
// returns after a bounded wait, also when there is no such window yet.
void instance_show_holder(TextView name);
// Restores a window when minimised and brings it to the front with the focus.
void window_bring_forward(void* window);
// Records the executable's module handle for the runtime (Windows only).
void record_module();
[[noreturn]] void exit_process();

}  // namespace velto::app::platform
