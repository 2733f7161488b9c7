#pragma once

namespace velto::platform {

// Win32 fields of a window record (filled in by the Win32 backend).
struct WindowData {
  void* accelerators = nullptr;
};

}  // namespace velto::platform
