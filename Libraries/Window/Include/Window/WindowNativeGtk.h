#pragma once

// Native access to the GTK windows of the window library.

#include "Window/Window.h"

typedef struct _GtkFixed GtkFixed;

namespace velto {

// The GtkFixed that fills the client area of a library window. Child widgets
// placed in it at (x, y) sit at those client coordinates. nullptr for a handle
// that is not a window of this library.
[[nodiscard]] GtkFixed* window_client_area(NativeWindow window) noexcept;

}  // namespace velto
