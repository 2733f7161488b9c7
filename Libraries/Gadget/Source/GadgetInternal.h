#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "Core/Registry.h"
#include "Core/Types.h"
#include "Gadget/Gadget.h"
#include "WebView/webview.h"

namespace velto {

struct GadgetKind;

// One bound page function. Its address is what the engine hands back to
// binding_dispatch, so a record never moves while it is bound.
struct BindingRecord {
  BindingCallback callback = nullptr;
  webview_t instance = nullptr;
};

// Names are compared exactly (UTF-16, case-sensitive).
using BindingTable = std::unordered_map<Text, std::unique_ptr<BindingRecord>>;
inline constexpr std::size_t kBindingBuckets = 128;

// One gadget. The field order is the runtime's record layout (28 bytes on
// 32-bit Windows); `handle` first, as the registry reads it for liveness.
struct GadgetRecord {
  void* handle = nullptr;  // host window; empty = no gadget
  const GadgetKind* kind = nullptr;
  void* previous_procedure = nullptr;
  webview_t instance = nullptr;
  BindingTable* bindings = nullptr;  // owned
  void* controller = nullptr;        // the engine's, no reference held
  void* browser = nullptr;           // one reference held (Windows)
};

// Operations shared by every gadget of one kind.
using KindMessageHandler = std::intptr_t (*)(ObjectNumber gadget, void* window, unsigned message,
                                             std::uintptr_t w_param, std::intptr_t l_param);
struct GadgetKind {
  std::int32_t type_code = 0;
  std::int32_t table_size = 0;
  KindMessageHandler message_handler = nullptr;
  // Releases what the record owns; the host window is going or gone.
  void (*free)(GadgetRecord& record) = nullptr;
  void (*set_text)(GadgetRecord& record, TextView text) = nullptr;
  void (*resize)(GadgetRecord& record, int x, int y, int width, int height) = nullptr;
};

inline constexpr std::int32_t kWebViewGadgetType = 35;
inline constexpr std::int32_t kKindTableSize = 168;
inline constexpr std::size_t kRegistryCapacity = 50;

inline constexpr char16_t kBrowserArgumentsVariable[] = u"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS";

struct GadgetLibraryState {
  Registry<GadgetRecord>* registry = nullptr;
  // Set by the first webview_gadget_create, with the host window class.
  const GadgetKind* webview_kind = nullptr;
};

[[nodiscard]] GadgetLibraryState& gadget_state() noexcept;

[[nodiscard]] const GadgetKind& webview_gadget_kind() noexcept;

// Adds `browser_switch` to the browser argument variable unless `name`
// already occurs in it.
void merge_browser_argument(TextView name, TextView browser_switch);

// Takes record `record` (allocated under `number`) into use with its host
// window and kind; answers the gadget's number (the dynamic one for
// ANY_NUMBER).
ObjectNumber gadget_register(ObjectNumber number, GadgetRecord& record, void* window, const GadgetKind& kind);

// The host window of gadget `number` is being destroyed: the clean-up that
// both backends run then.
void gadget_host_destroyed(ObjectNumber number);

// Moves and sizes the host window, as given.
void gadget_move(const GadgetRecord& record, int x, int y, int width, int height);

// Makes the engine's widget cover its host window.
void webview_fit(webview_t instance);

// The engine's callback for every bound name; `arg` is the BindingRecord.
void binding_dispatch(const char* id, const char* request, void* arg);

[[nodiscard]] BindingTable* binding_table_create() noexcept;

namespace platform {
// The font new gadgets receive.
[[nodiscard]] void* default_gadget_font();
void common_controls_init();
void com_init();
void gadget_destroy_host(void* host);

void host_class_register();
// The temporary directory the browser's disk cache goes under, and what
// follows it in the cache switch.
[[nodiscard]] Text browser_temp_directory();
[[nodiscard]] TextView cache_directory_suffix() noexcept;
// A child of `container` at (x, y) in its client area; nullptr on failure.
[[nodiscard]] void* host_create(void* container, int x, int y, int width, int height);
// The browser interface behind the controller; nullptr when there is none.
[[nodiscard]] void* browser_open(void* controller);
void browser_release(void* browser) noexcept;
void browser_settings_apply(void* browser);
void browser_show(void* controller);
// Subclassing, id and font (Windows); object data and the destroy handler (GTK).
void host_attach(ObjectNumber number, GadgetRecord& record);
// Undoes host_attach's marks on a host that is being destroyed.
void host_detach(void* host);

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};
// Position in the parent's client area and size.
[[nodiscard]] Rect host_geometry(void* host);
void host_move(void* host, int x, int y, int width, int height);
void widget_fit(void* widget);
}  // namespace platform

}  // namespace velto
