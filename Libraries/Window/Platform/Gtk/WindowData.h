#pragma once

#include "GObjectPtr.h"

typedef struct _GtkWidget GtkWidget;

namespace velto::platform {

// What the portable side was last told about a window, so that repeated
// configure and state notifications (GTK delivers several for one change,
// some of them late) raise events only for real changes.
struct ReportedGeometry {
  int x = 0;  // client origin on the screen
  int y = 0;
  int width = 0;  // client size
  int height = 0;
  bool iconified = false;
  bool maximized = false;
};

// Width of the window manager's frame on each side of the client area.
struct FrameExtents {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
};

// GTK fields of a window record.
struct WindowData {
  GObjectPtr<GtkWidget> window;  // keeps the GtkWindow alive as long as the record
  ReportedGeometry reported;
  FrameExtents frame;       // as the window manager announced it before the first show
  bool fixed_size = false;  // no sizable frame: min = max size hints
  bool map_seen = false;    // the X server has mapped the window at least once
  // Outer position and client size while last shown normally (neither
  // minimised nor maximised); what a minimised window's geometry is saved as.
  int normal_x = 0;
  int normal_y = 0;
  int normal_width = 0;
  int normal_height = 0;
};

}  // namespace velto::platform
