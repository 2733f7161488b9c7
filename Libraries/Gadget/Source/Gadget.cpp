#include "Gadget/Gadget.h"

#include <new>

#include "Core/Memory.h"
#include "Core/Strings.h"
#include "GadgetInternal.h"
#include "System/Process.h"
#include "Window/Events.h"
#include "Window/Window.h"

namespace velto {

namespace {

void webview_kind_free(GadgetRecord& record) {
  if (record.instance) {
    // Stops the calls still queued for the bindings before they go.
    webview_destroy(record.instance);
    record.instance = nullptr;
  }
  platform::browser_release(record.browser);
  record.browser = nullptr;
  delete record.bindings;
  record.bindings = nullptr;
}

void webview_kind_set_text(GadgetRecord& record, TextView text) {
  const Utf8Text url = text_to_utf8(text);
  webview_navigate(record.instance, url ? url.get() : "");
}

void webview_kind_resize(GadgetRecord& record, int x, int y, int width, int height) {
  gadget_move(record, x, y, width, height);
  webview_fit(record.instance);
}

constexpr GadgetKind kWebViewKind{
    kWebViewGadgetType, kKindTableSize, nullptr, webview_kind_free, webview_kind_set_text, webview_kind_resize,
};

Registry<GadgetRecord>* registry() noexcept {
  return gadget_state().registry;
}

}  // namespace

GadgetLibraryState& gadget_state() noexcept {
  static GadgetLibraryState state;
  return state;
}

const GadgetKind& webview_gadget_kind() noexcept {
  return kWebViewKind;
}

void gadget_library_init() {
  void* font = platform::default_gadget_font();
  GadgetLibraryState& state = gadget_state();
  if (!state.registry) {
    state.registry = registry_create<GadgetRecord>(kRegistryCapacity, gadget_free);
  }
  gadget_container_set_font(font);
  platform::common_controls_init();
}

// Gadgets go with their windows, which the window library closes.
void gadget_library_end() {}

void webview_library_init() {
  platform::common_controls_init();
  platform::com_init();
}

void gadget_free(ObjectNumber number) {
  Registry<GadgetRecord>* gadgets = registry();
  if (!gadgets) {
    return;
  }
  if (number == ANY_NUMBER) {
    registry_release_all(*gadgets);
    return;
  }
  if (GadgetRecord* record = registry_get(*gadgets, number)) {
    // The host window's destruction does the clean-up.
    platform::gadget_destroy_host(record->handle);
    if (registry_get(*gadgets, number)) {
      registry_free(*gadgets, number);
    }
  }
}

void merge_browser_argument(TextView name, TextView browser_switch) {
  Text value = env_get(kBrowserArgumentsVariable);
  if (value.find(name) != Text::npos) {
    return;
  }
  value += u' ';
  value += browser_switch;
  env_set(kBrowserArgumentsVariable, value);
}

ObjectNumber gadget_register(ObjectNumber number, GadgetRecord& record, void* window, const GadgetKind& kind) {
  if (number == ANY_NUMBER) {
    number = Registry<GadgetRecord>::number_of(record);
  }
  record.handle = window;
  record.kind = &kind;
  platform::host_attach(number, record);
  return number;
}

void gadget_host_destroyed(ObjectNumber number) {
  Registry<GadgetRecord>* gadgets = registry();
  GadgetRecord* record = gadgets ? registry_get(*gadgets, number) : nullptr;
  if (!record) {
    return;
  }
  if (record->kind && record->kind->free) {
    record->kind->free(*record);
  }
  platform::host_detach(record->handle);
  event_remove(EVENT_GADGET, number, -1, -1);
  registry_free(*gadgets, number);
}

void gadget_move(const GadgetRecord& record, int x, int y, int width, int height) {
  platform::host_move(record.handle, x, y, width, height);
}

void webview_fit(webview_t instance) {
  if (void* widget = webview_get_native_handle(instance, WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET)) {
    platform::widget_fit(widget);
  }
}

BindingTable* binding_table_create() noexcept {
  try {
    return new BindingTable(kBindingBuckets);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::intptr_t webview_gadget_create(ObjectNumber number, int x, int y, int width, int height) {
  GadgetLibraryState& state = gadget_state();
  if (!state.registry) {
    return 0;
  }
  void* container = gadget_container();
  if (!state.webview_kind) {
    // Once per process, whether or not the class could be registered.
    state.webview_kind = &kWebViewKind;
    platform::host_class_register();
  }
  try {
    const Text cache_switch =
        u"--disk-cache-dir=\"" + platform::browser_temp_directory() + Text(platform::cache_directory_suffix()) + u"\"";
    merge_browser_argument(u"--disk-cache-dir", cache_switch);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  if (!container) {
    return 0;
  }
  void* host = platform::host_create(container, x, y, width, height);
  if (!host) {
    return 0;
  }
  // Without a browser the host stays behind as an empty child, numbered by
  // nothing; it goes with its container.
  webview_t instance = webview_create(0, &host);
  if (!instance) {
    return 0;
  }
  webview_fit(instance);
  void* controller = webview_get_native_handle(instance, WEBVIEW_NATIVE_HANDLE_KIND_BROWSER_CONTROLLER);
  void* browser = controller ? platform::browser_open(controller) : nullptr;
  BindingTable* bindings = browser ? binding_table_create() : nullptr;
  if (!bindings) {
    platform::browser_release(browser);
    webview_destroy(instance);
    return 0;
  }
  // A number in use is freed here first (its browser goes after the new one
  // exists).
  GadgetRecord* record = registry_alloc(*state.registry, number);
  if (!record) {
    delete bindings;
    platform::browser_release(browser);
    webview_destroy(instance);
    return 0;
  }
  record->instance = instance;
  record->browser = browser;
  record->controller = controller;
  record->bindings = bindings;
  const ObjectNumber registered = gadget_register(number, *record, host, *state.webview_kind);
  platform::browser_settings_apply(browser);
  platform::browser_show(controller);
  return number == ANY_NUMBER ? registered : reinterpret_cast<std::intptr_t>(host);
}

void gadget_resize(ObjectNumber number, int x, int y, int width, int height) {
  Registry<GadgetRecord>* gadgets = registry();
  GadgetRecord* record = gadgets ? registry_get(*gadgets, number) : nullptr;
  if (!record || !record->kind || !record->kind->resize) {
    return;
  }
  if (x == IGNORE || y == IGNORE || width == IGNORE || height == IGNORE) {
    const platform::Rect current = platform::host_geometry(record->handle);
    x = x == IGNORE ? current.x : x;
    y = y == IGNORE ? current.y : y;
    width = width == IGNORE ? current.width : width;
    height = height == IGNORE ? current.height : height;
  }
  record->kind->resize(*record, x, y, width, height);
}

void gadget_set_text(ObjectNumber number, TextView text) {
  Registry<GadgetRecord>* gadgets = registry();
  GadgetRecord* record = gadgets ? registry_get(*gadgets, number) : nullptr;
  if (!record || !record->kind || !record->kind->set_text) {
    return;
  }
  // Navigation may raise notifications that must not reach the queue.
  events_suspend();
  record->kind->set_text(*record, text);
  events_resume();
}

void webview_gadget_set_home(ObjectNumber number, TextView url) {
  Registry<GadgetRecord>* gadgets = registry();
  GadgetRecord* record = gadgets ? registry_get(*gadgets, number) : nullptr;
  if (!record || !record->instance) {
    return;
  }
  const Utf8Text utf8_url = text_to_utf8(url);
  webview_set_home(record->instance, utf8_url ? utf8_url.get() : "");
}

// ---- Bindings

void binding_dispatch(const char* id, const char* request, void* arg) {
  const auto* binding = static_cast<const BindingRecord*>(arg);
  if (!binding) {
    return;
  }
  const Utf16Text arguments = text_from_utf8(request ? request : "");
  char* result = binding->callback ? binding->callback(arguments ? arguments.get() : u"") : nullptr;
  webview_return(binding->instance, id, 0, result ? result : "");
  if (result) {
    memory_free(result);
  }
}

void binding_remove(ObjectNumber number, TextView name) {
  Registry<GadgetRecord>* gadgets = registry();
  GadgetRecord* record = gadgets ? registry_get(*gadgets, number) : nullptr;
  if (!record || !record->bindings) {
    return;
  }
  const auto entry = record->bindings->find(Text(name));
  if (entry == record->bindings->end()) {
    return;
  }
  // The engine drops the calls still queued for the name, so the record can
  // go first.
  record->bindings->erase(entry);
  const Utf8Text utf8_name = text_to_utf8(name);
  webview_unbind(record->instance, utf8_name ? utf8_name.get() : "");
}

void webview_gadget_bind(ObjectNumber number, TextView name, BindingCallback callback) {
  Registry<GadgetRecord>* gadgets = registry();
  GadgetRecord* record = gadgets ? registry_get(*gadgets, number) : nullptr;
  if (!record || !record->bindings) {
    return;
  }
  binding_remove(number, name);
  BindingTable& table = *record->bindings;
  BindingRecord* binding = nullptr;
  try {
    const Text key(name);
    auto made = std::make_unique<BindingRecord>();
    binding = made.get();
    table.emplace(key, std::move(made));
  } catch (const std::bad_alloc&) {
    return;
  }
  binding->callback = callback;
  binding->instance = record->instance;
  const Utf8Text utf8_name = text_to_utf8(name);
  webview_bind(record->instance, utf8_name ? utf8_name.get() : "", binding_dispatch, binding);
}

}  // namespace velto
