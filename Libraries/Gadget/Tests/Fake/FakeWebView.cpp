#include <deque>
#include <memory>
#include <vector>

#include "FakeWebViewInternal.h"

namespace fake {

namespace {

struct PageCall {
  Instance* instance = nullptr;
  std::string name;
  std::string id;
  std::string request;
};

struct State {
  std::vector<std::string> log;
  // Instances stay allocated so that a stale handle is still recognised.
  std::vector<std::unique_ptr<Instance>> instances;
  std::deque<PageCall> queue;
  int next_serial = 1;
  bool fail_next_create = false;
  void (*navigate_hook)() = nullptr;
};

State& state() {
  static State fake_state;
  return fake_state;
}

Instance* find(webview_t handle) {
  for (const auto& instance : state().instances) {
    if (instance.get() == handle) {
      return instance.get();
    }
  }
  return nullptr;
}

Instance* live(webview_t handle, const std::string& call) {
  Instance* instance = find(handle);
  if (!instance || !instance->alive) {
    log(call + " ? INVALID");
    return nullptr;
  }
  return instance;
}

std::string prefix(const std::string& call, const Instance& instance) {
  return call + " " + std::to_string(instance.serial);
}

Instance& add_instance() {
  auto instance = std::make_unique<Instance>();
  instance->serial = state().next_serial++;
  instance->browser_arguments = environment_arguments();
  state().instances.push_back(std::move(instance));
  return *state().instances.back();
}

}  // namespace

void log(std::string line) {
  state().log.push_back(std::move(line));
}

}  // namespace fake

using fake::Instance;

const std::vector<std::string>& fake_webview_log() {
  return fake::state().log;
}

void fake_webview_log_clear() {
  fake::state().log.clear();
}

void fake_webview_on_navigate(void (*hook)()) {
  fake::state().navigate_hook = hook;
}

void fake_webview_fail_next_create() {
  fake::state().fail_next_create = true;
}

webview_t fake_webview_create_detached() {
  Instance& instance = fake::add_instance();
  fake::log(fake::prefix("create", instance) + " detached");
  return &instance;
}

void fake_webview_page_call(webview_t handle, const char* name, const char* id, const char* request) {
  if (Instance* instance = fake::find(handle)) {
    fake::state().queue.push_back({instance, name, id, request});
  }
}

int fake_webview_pump() {
  int delivered = 0;
  // Calls queued while delivering wait for the next pump.
  std::deque<fake::PageCall> due;
  due.swap(fake::state().queue);
  for (const fake::PageCall& call : due) {
    if (!call.instance->alive) {
      continue;
    }
    // Looked up again now: an unbound name drops the call.
    const auto binding = call.instance->bindings.find(call.name);
    if (binding == call.instance->bindings.end()) {
      continue;
    }
    binding->second.fn(call.id.c_str(), call.request.c_str(), binding->second.arg);
    ++delivered;
  }
  return delivered;
}

int fake_webview_serial(webview_t handle) {
  const Instance* instance = fake::find(handle);
  return instance ? instance->serial : 0;
}

bool fake_webview_alive(webview_t handle) {
  const Instance* instance = fake::find(handle);
  return instance && instance->alive;
}

void* fake_webview_parent(webview_t handle) {
  const Instance* instance = fake::find(handle);
  return instance ? instance->parent : nullptr;
}

std::string fake_webview_browser_arguments(webview_t handle) {
  const Instance* instance = fake::find(handle);
  return instance ? instance->browser_arguments : std::string();
}

int fake_webview_browser_references(webview_t handle) {
  const Instance* instance = fake::find(handle);
  return instance ? fake::browser_references(*instance) : 0;
}

extern "C" {

webview_t webview_create(int, void* window) {
  if (fake::state().fail_next_create || !window) {
    fake::state().fail_next_create = false;
    fake::log("create ? FAILED");
    return nullptr;
  }
  Instance& instance = fake::add_instance();
  instance.parent = *static_cast<void**>(window);
  if (!fake::widget_create(instance, window)) {
    instance.alive = false;
    fake::log(fake::prefix("create", instance) + " FAILED");
    return nullptr;
  }
  fake::log(fake::prefix("create", instance));
  return &instance;
}

webview_error_t webview_destroy(webview_t handle) {
  Instance* instance = fake::live(handle, "destroy");
  if (!instance) {
    return WEBVIEW_ERROR_INVALID_STATE;
  }
  fake::log(fake::prefix("destroy", *instance));
  instance->alive = false;
  instance->bindings.clear();
  fake::widget_destroy(*instance);
  return WEBVIEW_ERROR_OK;
}

void* webview_get_native_handle(webview_t handle, webview_native_handle_kind_t kind) {
  Instance* instance = fake::live(handle, "handle");
  if (!instance) {
    return nullptr;
  }
  constexpr const char* kNames[] = {"UI_WINDOW", "UI_WIDGET", "BROWSER_CONTROLLER"};
  const auto index = static_cast<int>(kind);
  fake::log(fake::prefix("handle", *instance) + " " + (index >= 0 && index < 3 ? kNames[index] : "?"));
  return fake::native_handle(*instance, kind);
}

webview_error_t webview_navigate(webview_t handle, const char* url) {
  Instance* instance = fake::live(handle, "navigate");
  if (!instance) {
    return WEBVIEW_ERROR_INVALID_STATE;
  }
  fake::log(fake::prefix("navigate", *instance) + " " + (url ? url : "(null)"));
  if (fake::state().navigate_hook) {
    fake::state().navigate_hook();
  }
  return WEBVIEW_ERROR_OK;
}

webview_error_t webview_set_home(webview_t handle, const char* url) {
  Instance* instance = fake::live(handle, "set_home");
  if (!instance) {
    return WEBVIEW_ERROR_INVALID_STATE;
  }
  fake::log(fake::prefix("set_home", *instance) + " " + (url ? url : "(null)"));
  return WEBVIEW_ERROR_OK;
}

webview_error_t webview_bind(webview_t handle, const char* name, webview_bind_fn_t fn, void* arg) {
  Instance* instance = fake::live(handle, "bind");
  if (!instance) {
    return WEBVIEW_ERROR_INVALID_STATE;
  }
  const std::string line = fake::prefix("bind", *instance) + " " + name;
  if (!fn) {
    fake::log(line + " INVALID_ARGUMENT");
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  if (!instance->bindings.emplace(name, fake::Binding{fn, arg}).second) {
    fake::log(line + " DUPLICATE");
    return WEBVIEW_ERROR_DUPLICATE;
  }
  fake::log(line);
  return WEBVIEW_ERROR_OK;
}

webview_error_t webview_unbind(webview_t handle, const char* name) {
  Instance* instance = fake::live(handle, "unbind");
  if (!instance) {
    return WEBVIEW_ERROR_INVALID_STATE;
  }
  const std::string line = fake::prefix("unbind", *instance) + " " + name;
  if (instance->bindings.erase(name) == 0) {
    fake::log(line + " NOT_FOUND");
    return WEBVIEW_ERROR_NOT_FOUND;
  }
  fake::log(line);
  return WEBVIEW_ERROR_OK;
}

webview_error_t webview_return(webview_t handle, const char* id, int status, const char* result) {
  Instance* instance = fake::live(handle, "return");
  if (!instance) {
    return WEBVIEW_ERROR_INVALID_STATE;
  }
  fake::log(fake::prefix("return", *instance) + " " + id + " " + std::to_string(status) + " " +
            (result ? result : "(null)"));
  return WEBVIEW_ERROR_OK;
}

}  // extern "C"
