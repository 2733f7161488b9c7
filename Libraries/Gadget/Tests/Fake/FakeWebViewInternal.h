#pragma once

#include <map>
#include <string>

#include "FakeWebView.h"

namespace fake {

struct Binding {
  webview_bind_fn_t fn = nullptr;
  void* arg = nullptr;
};

struct PlatformParts;

struct Instance {
  int serial = 0;
  bool alive = true;
  void* parent = nullptr;
  void* widget = nullptr;
  std::string browser_arguments;
  std::map<std::string, Binding> bindings;
  PlatformParts* platform = nullptr;
};

void log(std::string line);

// The backend's part: the widget and, on Windows, the browser's interfaces.
// widget_create answers false when `window` names no usable parent.
bool widget_create(Instance& instance, void* window);
void widget_destroy(Instance& instance);
void* native_handle(const Instance& instance, webview_native_handle_kind_t kind);
std::string environment_arguments();
int browser_references(const Instance& instance);

}  // namespace fake
