#pragma once

#include <cstdint>
#include <memory>

namespace velto::platform {

// One keyboard accelerator, laid out like the platform's ACCEL record (the
// backend checks the layout), so that this header stays free of <windows.h>.
struct AcceleratorEntry {
  std::uint8_t flags = 0;
  std::uint16_t key = 0;
  std::uint16_t command = 0;
};

// Destroys an accelerator table (an HACCEL).
struct AcceleratorTableFree {
  void operator()(void* table) const noexcept;
};
using AcceleratorTable = std::unique_ptr<void, AcceleratorTableFree>;

// Win32 fields of a window record. Resetting the record releases them.
struct WindowData {
  std::unique_ptr<AcceleratorEntry[]> accelerator_entries;
  std::int32_t accelerator_count = 0;
  AcceleratorTable accelerators;
};

}  // namespace velto::platform
