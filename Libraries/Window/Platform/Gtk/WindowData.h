#pragma once

namespace velto::platform {

// GTK fields of a window record (filled in by the GTK backend).
struct WindowData {
  void* fixed = nullptr;  // GtkFixed inside the window: the client area
};

}  // namespace velto::platform
