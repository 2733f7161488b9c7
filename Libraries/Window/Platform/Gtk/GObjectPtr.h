#pragma once

#include <glib-object.h>

#include <memory>

namespace velto::platform {

// Owning smart pointers for GLib and GObject memory.
struct GObjectUnref {
  void operator()(gpointer object) const noexcept { g_object_unref(object); }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Takes a new reference: for objects that someone else also owns.
template <class T>
[[nodiscard]] GObjectPtr<T> g_object_share(T* object) noexcept {
  return GObjectPtr<T>(object ? static_cast<T*>(g_object_ref(object)) : nullptr);
}

struct GFree {
  void operator()(gpointer block) const noexcept { g_free(block); }
};
template <class T>
using GMemoryPtr = std::unique_ptr<T, GFree>;

// An attached GSource that is detached and released when it goes.
struct GSourceDestroy {
  void operator()(GSource* source) const noexcept {
    g_source_destroy(source);
    g_source_unref(source);
  }
};
using GSourcePtr = std::unique_ptr<GSource, GSourceDestroy>;

// A list whose elements are borrowed: only the links are freed.
struct GListFree {
  void operator()(GList* list) const noexcept { g_list_free(list); }
};
using GListPtr = std::unique_ptr<GList, GListFree>;

}  // namespace velto::platform
