#include "Engine.h"

#include <utility>

namespace velto::webview {

namespace {

// The page's half of the bridge, installed once per document under a
// property the page cannot overwrite. Call ids carry a per-document prefix
// so that a late reply meant for the previous page settles nothing here.
constexpr std::string_view kBridgeHead = R"js((function () {
"use strict";
if (Object.prototype.hasOwnProperty.call(window, "__velto_webview")) return;
var post = )js";

constexpr std::string_view kBridgeTail = R"js(;
var prefix = Math.random().toString(36).slice(2) + "-";
var next = 0;
var pending = new Map();
var defined = new Map();
function call(method, args) {
  return new Promise(function (resolve, reject) {
    var id = prefix + (++next);
    var message = JSON.stringify({ id: id, method: method, params: args });
    pending.set(id, { resolve: resolve, reject: reject });
    try {
      post(message);
    } catch (e) {
      pending.delete(id);
      throw e;
    }
  });
}
function settle(id, status, result) {
  var promise = pending.get(id);
  if (!promise) return;
  pending.delete(id);
  var value;
  if (result !== "") {
    try {
      value = JSON.parse(result);
    } catch (e) {
      promise.reject(new Error("Failed to parse binding result as JSON"));
      return;
    }
  }
  (status === 0 ? promise.resolve : promise.reject)(value);
}
function define(name) {
  // What the page owns stays the page's.
  if (Object.prototype.hasOwnProperty.call(window, name)) return;
  var fn = function () { return call(name, Array.prototype.slice.call(arguments)); };
  Object.defineProperty(window, name, { value: fn, writable: true, configurable: true, enumerable: false });
  defined.set(name, fn);
}
function remove(name) {
  var fn = defined.get(name);
  defined.delete(name);
  if (fn !== undefined && window[name] === fn) delete window[name];
}
Object.defineProperty(window, "__velto_webview", {
  value: Object.freeze({ define: define, remove: remove, settle: settle })
});
})();
)js";

// Held answers beyond this size go out at once rather than growing one
// script without bound.
constexpr std::size_t kMaxHeldReplies = std::size_t{1} << 20;

// Runs `body` with the bridge as `b`, if this document has one.
std::string with_bridge(const std::string& body) {
  return "(function(){var b=window.__velto_webview;if(b){" + body + "}})();";
}

}  // namespace

Engine::~Engine() {
  shut_down();
}

void Engine::shut_down() noexcept {
  *alive_ = false;
  holding_ = false;
  replies_.clear();
}

void Engine::release_replies() {
  holding_ = false;
  send_replies();
}

void Engine::send_replies() {
  if (replies_.empty()) {
    return;
  }
  std::string script = "if(window.__velto_webview){";
  script += replies_;
  script += '}';
  replies_.clear();
  evaluate(script);
}

webview_error_t Engine::navigate(std::string_view url) {
  send_replies();
  load(url.empty() ? std::string("about:blank") : std::string(url));
  return WEBVIEW_ERROR_OK;
}

webview_error_t Engine::set_home(std::string_view url) {
  std::optional<Origin> origin;
  if (!url.empty()) {
    origin = url_origin(url);
    if (!origin) {
      return WEBVIEW_ERROR_INVALID_ARGUMENT;
    }
  }
  home_ = std::string(url);
  home_origin_ = std::move(origin);
  ++retry_generation_;
  retry_pending_ = false;
  retries_.reset();
  crashes_.reset();
  home_changed();
  return WEBVIEW_ERROR_OK;
}

NavigationVerdict Engine::navigation_requested(const NavigationRequest& request) {
  const NavigationVerdict verdict = judge_navigation(request, home_origin_);
  if (verdict == NavigationVerdict::HandOver) {
    static_cast<void>(hand_over(std::string(request.url)));
  }
  if (verdict == NavigationVerdict::Stay && request.main_frame && request.user_initiated &&
      own_page_ == OwnPage::Crashed) {
    // The user asked for the page again: it gets its reloads afresh.
    crashes_.reset();
  }
  return verdict;
}

void Engine::page_loaded() {
  if (home_.empty()) {
    return;
  }
  own_page_.reset();
  ++retry_generation_;
  retry_pending_ = false;
  retries_.reset();
}

void Engine::page_failed(LoadFailure failure) {
  if (home_.empty()) {
    return;
  }
  if (failure == LoadFailure::Certificate) {
    // Never tried again behind the user's back, never bypassed.
    ++retry_generation_;
    retry_pending_ = false;
    show_own_page(OwnPage::Certificate);
    return;
  }
  show_own_page(OwnPage::Offline);
  retry_later();
}

void Engine::page_process_gone() {
  if (home_.empty()) {
    return;
  }
  if (!crashes_.allow_reload(CrashGuard::Clock::now())) {
    ++retry_generation_;
    retry_pending_ = false;
    show_own_page(OwnPage::Crashed);
    return;
  }
  const std::uint64_t generation = ++retry_generation_;
  retry_pending_ = true;
  post_delayed(CrashGuard::kDelay, [this, alive = alive_, generation] {
    if (*alive && generation == retry_generation_) {
      retry_pending_ = false;
      reload_page();
    }
  });
}

void Engine::network_back() {
  if (!home_.empty() && retry_pending_ && own_page_ == OwnPage::Offline) {
    retry_now();
  }
}

void Engine::show_own_page(OwnPage page) {
  own_page_ = page;
  show_page(own_page_html(page, home_));
}

void Engine::retry_later() {
  const std::uint64_t generation = ++retry_generation_;
  retry_pending_ = true;
  post_delayed(retries_.next(), [this, alive = alive_, generation] {
    if (*alive && generation == retry_generation_) {
      retry_now();
    }
  });
}

void Engine::retry_now() {
  ++retry_generation_;
  retry_pending_ = false;
  load(home_);
}

webview_error_t Engine::bind(std::string_view name, webview_bind_fn_t fn, void* arg) {
  if (name.empty() || !fn) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  if (bindings_.find(name) != bindings_.end()) {
    return WEBVIEW_ERROR_DUPLICATE;
  }
  send_replies();
  bindings_.emplace(std::string(name), Binding{fn, arg, ++generation_});
  const std::string script = document_script();
  set_document_script(script);
  // The same script defines the new name in the current page; the bridge
  // itself only installs once.
  evaluate(script);
  return WEBVIEW_ERROR_OK;
}

webview_error_t Engine::unbind(std::string_view name) {
  const auto found = bindings_.find(name);
  if (found == bindings_.end()) {
    return WEBVIEW_ERROR_NOT_FOUND;
  }
  send_replies();
  bindings_.erase(found);
  set_document_script(document_script());
  evaluate(with_bridge("b.remove(" + json_quote(name) + ");"));
  return WEBVIEW_ERROR_OK;
}

webview_error_t Engine::resolve(std::string_view id, int status, std::string_view result) {
  if (id.empty()) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  // Short statements: answers are the most frequent script by far, and
  // WebKit compiles every evaluated script afresh.
  std::string settle =
      "__velto_webview.settle(" + json_quote(id) + "," + std::to_string(status) + "," + json_quote(result) + ")";
  if (!holding_) {
    evaluate("window.__velto_webview&&" + settle);
    return WEBVIEW_ERROR_OK;
  }
  const bool first = replies_.empty();
  replies_ += settle;
  replies_ += ';';
  if (replies_.size() >= kMaxHeldReplies) {
    send_replies();
  } else if (first) {
    replies_waiting();
  }
  return WEBVIEW_ERROR_OK;
}

std::string Engine::document_script() const {
  std::string script;
  script.append(kBridgeHead);
  script.append(post_function());
  script.append(kBridgeTail);
  std::string defines;
  for (const auto& entry : bindings_) {
    defines += "b.define(" + json_quote(entry.first) + ");";
  }
  script += with_bridge(defines);
  return script;
}

void Engine::on_page_message(std::string_view message) {
  std::optional<PageCall> call = parse_page_call(message);
  if (!call) {
    return;  // nothing to answer without an id
  }
  // The call belongs to the binding that exists now; if that one is gone or
  // replaced by the time the call runs, the call is refused.
  const auto found = bindings_.find(call->method);
  const std::uint64_t generation = found == bindings_.end() ? 0 : found->second.generation;
  post_task([this, alive = alive_, call = std::move(*call), generation] {
    if (*alive) {
      run_call(call, generation);
    }
  });
}

void Engine::run_call(const PageCall& call, std::uint64_t generation) {
  const auto found = bindings_.find(call.method);
  if (found == bindings_.end() || generation == 0 || found->second.generation != generation) {
    resolve(call.id, 1, json_quote("binding removed"));
    return;
  }
  const Binding binding = found->second;
  // The function may unbind, answer or even destroy this engine: nothing
  // touches the engine after it.
  binding.fn(call.id.c_str(), call.params.c_str(), binding.arg);
}

}  // namespace velto::webview
