#include "WindowWin32.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <optional>
#include <utility>

namespace velto::platform {

static_assert(sizeof(AcceleratorEntry) == sizeof(ACCEL) && offsetof(AcceleratorEntry, flags) == offsetof(ACCEL, fVirt) &&
                  offsetof(AcceleratorEntry, key) == offsetof(ACCEL, key) &&
                  offsetof(AcceleratorEntry, command) == offsetof(ACCEL, cmd),
              "AcceleratorEntry must be laid out like ACCEL");

void AcceleratorTableFree::operator()(void* table) const noexcept {
  DestroyAcceleratorTable(static_cast<HACCEL>(table));
}

NumberedName::NumberedName(const wchar_t* prefix, std::intptr_t value) noexcept {
  std::size_t length = 0;
  while (prefix[length] && length < kPrefixMax) {
    text_[length] = prefix[length];
    ++length;
  }
  if (value < 0) {
    text_[length++] = L'-';
  }
  // Unsigned magnitude, so that the most negative number prints too.
  std::uintmax_t magnitude =
      value < 0 ? 0 - static_cast<std::uintmax_t>(value) : static_cast<std::uintmax_t>(value);
  wchar_t digits[24];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (count > 0) {
    text_[length++] = digits[--count];
  }
  text_[length] = L'\0';
}

Win32State& win32_state() noexcept {
  static Win32State state;
  return state;
}

HINSTANCE module_instance() noexcept {
  return GetModuleHandleW(nullptr);
}

NumberedName window_class_name(ObjectNumber n) noexcept {
  return NumberedName(L"WindowClass_", n);
}

namespace {

struct PropertySearch {
  const wchar_t* name;
  HANDLE value;
  bool found;
};

BOOL CALLBACK match_property(HWND, LPWSTR name, HANDLE value, ULONG_PTR search_address) noexcept {
  auto* search = reinterpret_cast<PropertySearch*>(search_address);
  // Properties named by an atom have no text to compare.
  if (IS_INTRESOURCE(name) || lstrcmpW(name, search->name) != 0) {
    return TRUE;
  }
  search->value = value;
  search->found = true;
  return FALSE;
}

}  // namespace

bool has_property(HWND window, const wchar_t* name, HANDLE* value) noexcept {
  PropertySearch search{name, GetPropW(window, name), false};
  // A property holding 0 reads like an absent one; only the list tells them apart.
  if (search.value) {
    search.found = true;
  } else {
    EnumPropsExW(window, match_property, reinterpret_cast<LPARAM>(&search));
  }
  if (value) {
    *value = search.value;
  }
  return search.found;
}

WindowRecord* record_of_window(HWND window) noexcept {
  if (!window) {
    return nullptr;
  }
  const auto id = reinterpret_cast<ObjectNumber>(GetPropW(window, kWindowIdProperty));
  DWORD process = 0;
  if (id == 0 || !GetWindowThreadProcessId(window, &process) || process != GetCurrentProcessId()) {
    return nullptr;
  }
  return window_record(id - 1);
}

// ---- Library start-up and end

void window_library_init() {
  Win32State& state = win32_state();
  // Programs without an icon resource (test programs) simply have no icon.
  state.icon.reset(LoadIconW(module_instance(), MAKEINTRESOURCEW(1)));
  state.cursor = LoadCursorW(nullptr, IDC_ARROW);
}

void window_library_end() {
  win32_state().icon.reset();
}

// ---- Windows

namespace {

Rect to_rect(const RECT& r) noexcept {
  return {r.left, r.top, r.right, r.bottom};
}

void move_without_sizing(HWND window, int x, int y) noexcept {
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Where a window of this outer size goes when centring was asked for; nothing
// when it has no parent to be centred on.
std::optional<Point> centred_position(const OpenRequest& request, int width, int height) noexcept {
  if (request.flags & WF_CENTER_SCREEN) {
    return centre_on_screen(width, height, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  }
  if (RECT parent{}; request.parent && GetWindowRect(static_cast<HWND>(request.parent), &parent)) {
    return centre_on_parent(to_rect(parent), width, height);
  }
  return std::nullopt;
}

void centre(HWND window, const OpenRequest& request) noexcept {
  RECT outer{};
  if (!GetWindowRect(window, &outer)) {
    return;
  }
  if (const auto position = centred_position(request, outer.right - outer.left, outer.bottom - outer.top)) {
    move_without_sizing(window, position->x, position->y);
  }
}

void build_accelerators(WindowData& data) noexcept {
  constexpr std::uint8_t kVirtualKey = FVIRTKEY | FNOINVERT;
  std::unique_ptr<AcceleratorEntry[]> entries(new (std::nothrow) AcceleratorEntry[2]{
      {kVirtualKey, VK_TAB, kNextControlCommand},
      {kVirtualKey | FSHIFT, VK_TAB, kPreviousControlCommand},
  });
  if (!entries) {
    return;
  }
  data.accelerators.reset(CreateAcceleratorTableW(reinterpret_cast<ACCEL*>(entries.get()), 2));
  data.accelerator_entries = std::move(entries);
  data.accelerator_count = 2;
}

}  // namespace

bool window_create(WindowRecord& record, const OpenRequest& request) {
  const Win32State& state = win32_state();
  const HINSTANCE instance = module_instance();
  const NumberedName class_name = window_class_name(request.number);

  std::unique_ptr<wchar_t[]> title(new (std::nothrow) wchar_t[request.title.size() + 1]);
  if (!title) {
    return false;
  }
  std::transform(request.title.begin(), request.title.end(), title.get(),
                 [](char16_t unit) { return static_cast<wchar_t>(unit); });
  title[request.title.size()] = L'\0';

  WNDCLASSW window_class{};
  window_class.style = CS_DBLCLKS;
  window_class.lpfnWndProc = window_procedure;
  window_class.hInstance = instance;
  window_class.hIcon = state.icon.get();
  window_class.hCursor = state.cursor;
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  window_class.lpszClassName = class_name.c_str();
  // Fails when the class is still registered; that class is simply used again.
  RegisterClassW(&window_class);

  const DecodedFlags& decoded = request.decoded;
  RECT outer{0, 0, request.width, request.height};
  AdjustWindowRectEx(&outer, sizing_style(decoded), FALSE, decoded.ex_style);
  const bool default_position = uses_default_position(request.x, request.y, request.flags);
  const bool centred = (request.flags & (WF_CENTER_SCREEN | WF_CENTER_PARENT)) != 0;
  // A window created maximised or minimised has its final frame at once, and
  // the rectangle it is created with becomes its normal one, which restoring
  // gives back: it is centred beforehand, on its requested size.
  const bool min_max = (creation_style(decoded) & (WS_MAXIMIZE | WS_MINIMIZE)) != 0;
  std::optional<Point> centred_early;
  if (centred && min_max) {
    centred_early = centred_position(request, outer.right - outer.left, outer.bottom - outer.top);
  }
  const int x = centred_early ? centred_early->x : default_position ? CW_USEDEFAULT : request.x;
  const int y = centred_early ? centred_early->y : default_position ? CW_USEDEFAULT : request.y;

  const HWND window = CreateWindowExW(decoded.ex_style, class_name.c_str(), title.get(), creation_style(decoded), x, y,
                                      outer.right - outer.left, outer.bottom - outer.top,
                                      static_cast<HWND>(request.parent), nullptr, instance, nullptr);
  if (!window) {
    UnregisterClassW(class_name.c_str(), instance);
    return false;
  }
  record.handle = window;
  record.container = nullptr;
  // Until this property is set the window procedure does not know the window,
  // so nothing sent during creation raises an event.
  SetPropW(window, kWindowIdProperty, reinterpret_cast<HANDLE>(request.number + 1));

  if (centred) {
    if (!min_max) {
      centre(window, request);
    }
  } else if (!default_position) {
    move_without_sizing(window, x, y);
  }
  if (!decoded.invisible) {
    ShowWindow(window, show_command(decoded));
  }
  build_accelerators(record.data);
  return true;
}

void window_destroy(WindowRecord& record, ObjectNumber n) {
  const auto window = static_cast<HWND>(record.handle);
  // Hand the activation back to the owner before the window goes.
  if (const HWND owner = GetWindow(window, GW_OWNER)) {
    SetActiveWindow(owner);
  }
  const bool in_container = record.container != nullptr;
  DestroyWindow(window);
  // The window procedure's attempt at WM_NCDESTROY fails while the window
  // still exists; once it is gone the class can go too, so that windows
  // opened with dynamic numbers do not each leave a class behind.
  if (!in_container) {
    UnregisterClassW(window_class_name(n).c_str(), module_instance());
  }
}

void window_resize(WindowRecord& record, int x, int y, int width, int height) {
  const auto window = static_cast<HWND>(record.handle);
  int left = x;
  int top = y;
  if (x == IGNORE || y == IGNORE) {
    RECT current{};
    GetWindowRect(window, &current);
    left = x == IGNORE ? current.left : x;
    top = y == IGNORE ? current.top : y;
  }
  RECT inner{0, 0, width, height};
  BOOL menu = FALSE;
  if (width == IGNORE || height == IGNORE) {
    GetClientRect(window, &inner);
    if (width != IGNORE) {
      inner.right = width;
    }
    if (height != IGNORE) {
      inner.bottom = height;
    }
    // A given height already counts the menu bar, as window_height does.
    menu = height == IGNORE && GetMenu(window) != nullptr;
  }
  // The geometry above was read while maximised, so the window keeps its
  // maximised place and size but leaves the maximised state.
  if (IsZoomed(window)) {
    const bool visible = IsWindowVisible(window) != FALSE;
    ShowWindow(window, SW_RESTORE);
    if (!visible) {
      ShowWindow(window, SW_HIDE);
    }
  }
  AdjustWindowRectEx(&inner, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), menu,
                     static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  SetWindowPos(window, nullptr, left, top, inner.right - inner.left, inner.bottom - inner.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

// The minimum stays with the program (it resizes the window back on
// EVENT_SIZE), as it always has on this platform; the tracking limits of
// WM_GETMINMAXINFO would change what a drag of the frame shows.
void window_set_minimum_size(WindowRecord&, int, int) {}

Rect window_outer_rect(const WindowRecord& record) {
  RECT outer{};
  if (!GetWindowRect(static_cast<HWND>(record.handle), &outer)) {
    return {};
  }
  return to_rect(outer);
}

Rect window_client_rect(const WindowRecord& record) {
  const auto window = static_cast<HWND>(record.handle);
  POINT origin{0, 0};
  RECT client{};
  if (!ClientToScreen(window, &origin) || !GetClientRect(window, &client)) {
    return {};
  }
  int height = client.bottom - client.top;
  if (GetMenu(window)) {
    height += GetSystemMetrics(SM_CYMENU);
  }
  return {origin.x, origin.y, origin.x + (client.right - client.left), origin.y + height};
}

ObjectNumber window_foreground() {
  const HWND front = GetForegroundWindow();
  DWORD process = 0;
  if (!front || !GetWindowThreadProcessId(front, &process) || process != GetCurrentProcessId()) {
    return -1;
  }
  // -1 for a window of this process that is not one of the library's.
  return reinterpret_cast<ObjectNumber>(GetPropW(front, kWindowIdProperty)) - 1;
}

// ---- Gadget containers

namespace {

// Owned by its window through the marker property; container_window_proc
// frees it when the window goes.
struct ContainerMarker {
  HWND window = nullptr;
  WNDPROC previous = nullptr;
};

const wchar_t* container_marker_name() noexcept {
  static const NumberedName name(L"QX_GadgetStack_", reinterpret_cast<std::intptr_t>(module_instance()));
  return name.c_str();
}

LRESULT CALLBACK container_window_proc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) noexcept {
  const wchar_t* name = container_marker_name();
  auto* marker = static_cast<ContainerMarker*>(GetPropW(window, name));
  if (!marker) {
    return DefWindowProcW(window, message, w_param, l_param);
  }
  const WNDPROC previous = marker->previous;
  if (message == WM_NCDESTROY) {
    gadget_container_destroyed(window);
    RemovePropW(window, name);
    std::unique_ptr<ContainerMarker> owned(marker);
  }
  return previous ? CallWindowProcW(previous, window, message, w_param, l_param)
                  : DefWindowProcW(window, message, w_param, l_param);
}

}  // namespace

void container_mark(NativeWindow native) {
  const auto window = static_cast<HWND>(native);
  const wchar_t* name = container_marker_name();
  if (GetPropW(window, name)) {
    return;
  }
  std::unique_ptr<ContainerMarker> marker(new (std::nothrow) ContainerMarker{window, nullptr});
  if (!marker || !SetPropW(window, name, marker.get())) {
    return;
  }
  marker->previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&container_window_proc)));
  marker.release();  // the window owns it now
}

}  // namespace velto::platform

namespace velto::platform {

bool window_is_minimized(const WindowRecord& record) {
  return IsIconic(static_cast<HWND>(record.handle)) != FALSE;
}

bool window_is_maximized(const WindowRecord& record) {
  return IsZoomed(static_cast<HWND>(record.handle)) != FALSE;
}

WindowPlacement window_normal_placement(const WindowRecord& record) {
  const auto window = static_cast<HWND>(record.handle);
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (!GetWindowPlacement(window, &placement)) {
    return {};
  }
  RECT normal = placement.rcNormalPosition;
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  // The normal position is in workspace coordinates, which leave out a
  // taskbar docked at the top or left; tool windows use screen coordinates.
  if (!(ex_style & WS_EX_TOOLWINDOW)) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromRect(&normal, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
      OffsetRect(&normal, monitor.rcWork.left - monitor.rcMonitor.left, monitor.rcWork.top - monitor.rcMonitor.top);
    }
  }
  // The client height counts a menu bar, as window_height does.
  RECT frame{};
  AdjustWindowRectEx(&frame, style, FALSE, ex_style);
  return {normal.left, normal.top, (normal.right - normal.left) - (frame.right - frame.left),
          (normal.bottom - normal.top) - (frame.bottom - frame.top)};
}

namespace {
BOOL CALLBACK find_work_area(HMONITOR monitor, HDC, LPRECT, LPARAM data) noexcept {
  auto* search = reinterpret_cast<std::pair<RECT, bool>*>(data);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  RECT overlap{};
  if (GetMonitorInfoW(monitor, &info) && IntersectRect(&overlap, &search->first, &info.rcWork)) {
    search->second = true;
    return FALSE;
  }
  return TRUE;
}
}  // namespace

bool work_area_intersects(const Rect& outer) {
  std::pair<RECT, bool> search{RECT{outer.left, outer.top, outer.right, outer.bottom}, false};
  EnumDisplayMonitors(nullptr, nullptr, find_work_area, reinterpret_cast<LPARAM>(&search));
  return search.second;
}

}  // namespace velto::platform
