#include "Core/WinApi.h"
#include "ImageInternal.h"

namespace velto::platform {

namespace {
// msimg32 may be missing on a stripped-down system; then AlphaBlend stays null.
struct AlphaBlendLibrary {
  HMODULE module = nullptr;
  FARPROC alpha_blend = nullptr;
};

AlphaBlendLibrary& alpha_library() noexcept {
  static AlphaBlendLibrary library;
  return library;
}
}  // namespace

void image_delete(ImageRecord& record) {
  if (record.is_icon) {
    DestroyIcon(static_cast<HICON>(record.handle));
  } else {
    DeleteObject(static_cast<HBITMAP>(record.handle));
  }
}

void alpha_blend_load() {
  AlphaBlendLibrary& library = alpha_library();
  library.module = LoadLibraryW(L"msimg32.dll");
  library.alpha_blend = library.module ? GetProcAddress(library.module, "AlphaBlend") : nullptr;
}

void alpha_blend_unload() {
  AlphaBlendLibrary& library = alpha_library();
  if (library.module) {
    FreeLibrary(library.module);
  }
  library = AlphaBlendLibrary{};
}

}  // namespace velto::platform
