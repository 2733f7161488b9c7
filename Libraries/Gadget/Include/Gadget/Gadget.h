#pragma once

#include <cstdint>

#include "Core/Types.h"

namespace velto {

// Start-up and end steps of the gadget library.
void gadget_library_init();
void gadget_library_end();
void webview_library_init();

// Destroys a gadget (every gadget for ANY_NUMBER). Unknown numbers are ignored.
void gadget_free(ObjectNumber number);

// Creates gadget `number` (a dynamic one for ANY_NUMBER): the embedded
// browser in the current gadget container at (x, y) with the given size.
// Answers the host window's native handle for a fixed number, the dynamic
// number for ANY_NUMBER, 0 when no browser could be created.
std::intptr_t webview_gadget_create(ObjectNumber number, int x, int y, int width, int height);

// Any argument may be IGNORE to keep the current value.
void gadget_resize(ObjectNumber number, int x, int y, int width, int height);

// For a browser gadget: starts loading the URL `text` (empty: a blank page).
void gadget_set_text(ObjectNumber number, TextView text = {});

// For a browser gadget: makes `url` the page the gadget keeps to. Links to
// other sites, new windows and mailto: and the like open in the desktop's
// default handler; failed loads and crashed pages come back by themselves;
// downloads go to the user's download folder. Empty turns it off.
void webview_gadget_set_home(ObjectNumber number, TextView url);

// A page function's program side: gets the call's arguments as the JSON array
// text, answers null or a memory_alloc'ed NUL-terminated UTF-8 JSON text that
// the library frees.
using BindingCallback = char* (*)(const char16_t* arguments);

// Makes `name` a function of the gadget's pages that calls `callback`; binding
// a name again replaces the earlier callback.
void webview_gadget_bind(ObjectNumber number, TextView name, BindingCallback callback);

// Removes the page function `name` of the gadget.
void binding_remove(ObjectNumber number, TextView name);

}  // namespace velto
