// TEMPORARY stand-in for Source/Engine.cpp while that file is written in
// parallel: just enough of Engine.h (and of the portable entry points of
// webview.h) for the Windows backend and its tests. The build compiles this
// file only when Source/Engine.cpp does not exist; delete it at the merge.

#include <cstdint>
#include <exception>
#include <string>

#include "Engine.h"

namespace velto::webview {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

void append_code_point(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Minimal JSON reading for the envelope: skips one value, answers its end.
std::size_t skip_space(std::string_view s, std::size_t i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) {
    ++i;
  }
  return i;
}

std::size_t skip_string(std::string_view s, std::size_t i, std::string* out) {
  if (i >= s.size() || s[i] != '"') {
    return std::string_view::npos;
  }
  for (++i; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') {
      return i + 1;
    }
    if (c == '\\') {
      if (++i >= s.size()) {
        return std::string_view::npos;
      }
      if (out != nullptr) {
        switch (s[i]) {
          case 'n':
            *out += '\n';
            break;
          case 't':
            *out += '\t';
            break;
          case 'r':
            *out += '\r';
            break;
          case 'b':
            *out += '\b';
            break;
          case 'f':
            *out += '\f';
            break;
          case 'u': {
            if (i + 4 >= s.size()) {
              return std::string_view::npos;
            }
            const std::uint32_t unit =
                static_cast<std::uint32_t>(std::stoul(std::string(s.substr(i + 1, 4)), nullptr, 16));
            append_code_point(*out, unit);
            i += 4;
            break;
          }
          default:
            *out += s[i];
            break;
        }
      } else if (s[i] == 'u') {
        i += 4;
      }
    } else if (out != nullptr) {
      *out += c;
    }
  }
  return std::string_view::npos;
}

std::size_t skip_value(std::string_view s, std::size_t i) {
  i = skip_space(s, i);
  if (i >= s.size()) {
    return std::string_view::npos;
  }
  if (s[i] == '"') {
    return skip_string(s, i, nullptr);
  }
  if (s[i] == '[' || s[i] == '{') {
    int depth = 0;
    for (; i < s.size(); ++i) {
      if (s[i] == '"') {
        i = skip_string(s, i, nullptr);
        if (i == std::string_view::npos) {
          return i;
        }
        --i;
      } else if (s[i] == '[' || s[i] == '{') {
        ++depth;
      } else if ((s[i] == ']' || s[i] == '}') && --depth == 0) {
        return i + 1;
      }
    }
    return std::string_view::npos;
  }
  while (i < s.size() && s[i] != ',' && s[i] != '}' && s[i] != ']') {
    ++i;
  }
  return i;
}

}  // namespace

std::string json_quote(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          if (c < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
          } else {
            out += static_cast<char>(c);
          }
      }
      ++i;
      continue;
    }
    const int length = c >= 0xF0 && c < 0xF5 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    bool valid = length != 0 && i + static_cast<std::size_t>(length) <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      valid = (static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]) & 0xC0) == 0x80;
    }
    if (!valid) {
      out += kReplacement;
      ++i;
      continue;
    }
    const std::string_view sequence = text.substr(i, static_cast<std::size_t>(length));
    if (sequence == "\xE2\x80\xA8") {
      out += "\\u2028";
    } else if (sequence == "\xE2\x80\xA9") {
      out += "\\u2029";
    } else {
      out += sequence;
    }
    i += static_cast<std::size_t>(length);
  }
  out += '"';
  return out;
}

std::optional<PageCall> parse_page_call(std::string_view message) {
  try {
    std::size_t i = skip_space(message, 0);
    if (i >= message.size() || message[i] != '{') {
      return std::nullopt;
    }
    PageCall call;
    bool have_id = false;
    bool have_method = false;
    bool have_params = false;
    ++i;
    while (true) {
      i = skip_space(message, i);
      std::string key;
      i = skip_string(message, i, &key);
      if (i == std::string_view::npos) {
        return std::nullopt;
      }
      i = skip_space(message, i);
      if (i >= message.size() || message[i] != ':') {
        return std::nullopt;
      }
      const std::size_t start = skip_space(message, i + 1);
      const std::size_t end = skip_value(message, start);
      if (end == std::string_view::npos) {
        return std::nullopt;
      }
      if (key == "id" && message[start] == '"') {
        skip_string(message, start, &call.id);
        have_id = true;
      } else if (key == "method" && message[start] == '"') {
        skip_string(message, start, &call.method);
        have_method = true;
      } else if (key == "params" && message[start] == '[') {
        call.params = std::string(message.substr(start, end - start));
        have_params = true;
      }
      i = skip_space(message, end);
      if (i < message.size() && message[i] == ',') {
        ++i;
        continue;
      }
      if (i < message.size() && message[i] == '}') {
        break;
      }
      return std::nullopt;
    }
    if (!have_id || !have_method || !have_params) {
      return std::nullopt;
    }
    return call;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<std::string> browser_switch_value(std::string_view arguments, std::string_view name) {
  const std::string prefix = std::string(name) + "=";
  std::size_t at = arguments.find(prefix);
  if (at == std::string_view::npos) {
    return std::nullopt;
  }
  at += prefix.size();
  if (at < arguments.size() && arguments[at] == '"') {
    const std::size_t close = arguments.find('"', at + 1);
    return std::string(arguments.substr(at + 1, close == std::string_view::npos ? close : close - at - 1));
  }
  return std::string(arguments.substr(at, arguments.find(' ', at) - at));
}

Engine::~Engine() = default;

webview_error_t Engine::navigate(std::string_view url) {
  load(url.empty() ? std::string("about:blank") : std::string(url));
  return WEBVIEW_ERROR_OK;
}

webview_error_t Engine::bind(std::string_view name, webview_bind_fn_t fn, void* arg) {
  if (name.empty() || fn == nullptr) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  if (bindings_.find(name) != bindings_.end()) {
    return WEBVIEW_ERROR_DUPLICATE;
  }
  bindings_.emplace(std::string(name), Binding{fn, arg});
  set_document_script(document_script());
  evaluate("window.__velto_stub.define(" + json_quote(name) + ")");
  return WEBVIEW_ERROR_OK;
}

webview_error_t Engine::unbind(std::string_view name) {
  const auto found = bindings_.find(name);
  if (found == bindings_.end()) {
    return WEBVIEW_ERROR_NOT_FOUND;
  }
  bindings_.erase(found);
  set_document_script(document_script());
  evaluate("delete window[" + json_quote(name) + "]");
  return WEBVIEW_ERROR_OK;
}

webview_error_t Engine::resolve(std::string_view id, int status, std::string_view result) {
  evaluate("window.__velto_stub.settle(" + json_quote(id) + "," + std::to_string(status) + "," + json_quote(result) +
           ")");
  return WEBVIEW_ERROR_OK;
}

void Engine::on_page_message(std::string_view message) {
  std::optional<PageCall> call = parse_page_call(message);
  if (!call) {
    return;
  }
  post_task([this, alive = alive_, call = std::move(*call)] {
    if (*alive) {
      run_call(call);
    }
  });
}

std::string Engine::document_script() const {
  std::string script =
      "(function(){if(window.__velto_stub)return;var pending={},next=0;window.__velto_stub={"
      "define:function(n){if(n in window)return;window[n]=function(){var id='c'+(++next);"
      "var a=Array.prototype.slice.call(arguments);return new Promise(function(ok,no){pending[id]={ok:ok,no:no};";
  script += post_function();
  script +=
      "(JSON.stringify({id:id,method:n,params:a}));});};},"
      "settle:function(id,s,r){var p=pending[id];if(!p)return;delete pending[id];"
      "var v;try{v=r===''?undefined:JSON.parse(r);}catch(e){p.no(new Error('Failed to parse binding result as "
      "JSON'));return;}(s===0?p.ok:p.no)(v);}};})();";
  for (const auto& binding : bindings_) {
    script += "window.__velto_stub.define(" + json_quote(binding.first) + ");";
  }
  return script;
}

void Engine::shut_down() noexcept {
  *alive_ = false;
}

void Engine::run_call(const PageCall& call) {
  const auto found = bindings_.find(call.method);
  if (found != bindings_.end()) {
    found->second.fn(call.id.c_str(), call.params.c_str(), found->second.arg);
  }
}

}  // namespace velto::webview

// The portable entry points: the handle is the backend's Engine.
using velto::webview::Engine;

namespace {
Engine* engine_of(webview_t w) {
  return static_cast<Engine*>(w);
}
}  // namespace

extern "C" webview_error_t webview_destroy(webview_t w) {
  if (w == nullptr) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  delete engine_of(w);
  return WEBVIEW_ERROR_OK;
}

extern "C" void* webview_get_native_handle(webview_t w, webview_native_handle_kind_t kind) {
  return w == nullptr ? nullptr : engine_of(w)->native_handle(kind);
}

extern "C" webview_error_t webview_navigate(webview_t w, const char* url) {
  if (w == nullptr) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  try {
    return engine_of(w)->navigate(url == nullptr ? "" : url);
  } catch (...) {
    return WEBVIEW_ERROR_UNSPECIFIED;
  }
}

extern "C" webview_error_t webview_bind(webview_t w, const char* name, webview_bind_fn_t fn, void* arg) {
  if (w == nullptr || name == nullptr) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  try {
    return engine_of(w)->bind(name, fn, arg);
  } catch (...) {
    return WEBVIEW_ERROR_UNSPECIFIED;
  }
}

extern "C" webview_error_t webview_unbind(webview_t w, const char* name) {
  if (w == nullptr || name == nullptr) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  try {
    return engine_of(w)->unbind(name);
  } catch (...) {
    return WEBVIEW_ERROR_UNSPECIFIED;
  }
}

extern "C" webview_error_t webview_return(webview_t w, const char* id, int status, const char* result) {
  if (w == nullptr || id == nullptr) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  try {
    return engine_of(w)->resolve(id, status, result == nullptr ? "" : result);
  } catch (...) {
    return WEBVIEW_ERROR_UNSPECIFIED;
  }
}
