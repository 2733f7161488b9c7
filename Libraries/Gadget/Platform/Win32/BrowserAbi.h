#pragma once

// The few slots of the browser runtime's COM interfaces that the gadget
// calls; every other slot is a placeholder. Slot numbers and their sources:
// docs/browser-abi.md. No IIDs: nothing here is queried, every pointer comes
// from the engine or from a getter.

#include <cstddef>

#include "Core/WinApi.h"

namespace velto::browser_abi {

struct Settings;
struct Browser;
struct Controller;

template <class Self>
struct UnknownSlots {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(Self* self, REFIID iid, void** object);
  ULONG(STDMETHODCALLTYPE* AddRef)(Self* self);
  ULONG(STDMETHODCALLTYPE* Release)(Self* self);
};

// ICoreWebView2Settings
struct SettingsTable {
  UnknownSlots<Settings> unknown;
  void* slots_3_to_5[3];
  HRESULT(STDMETHODCALLTYPE* put_IsWebMessageEnabled)(Settings* self, BOOL enabled);  // 6
  void* slot_7;
  HRESULT(STDMETHODCALLTYPE* put_AreDefaultScriptDialogsEnabled)(Settings* self, BOOL enabled);  // 8
};
struct Settings {
  const SettingsTable* table;
};

// ICoreWebView2
struct BrowserTable {
  UnknownSlots<Browser> unknown;
  HRESULT(STDMETHODCALLTYPE* get_Settings)(Browser* self, Settings** settings);  // 3
};
struct Browser {
  const BrowserTable* table;
};

// ICoreWebView2Controller
struct ControllerTable {
  UnknownSlots<Controller> unknown;
  void* slot_3;
  HRESULT(STDMETHODCALLTYPE* put_IsVisible)(Controller* self, BOOL visible);  // 4
  void* slots_5_to_24[20];
  HRESULT(STDMETHODCALLTYPE* get_CoreWebView2)(Controller* self, Browser** browser);  // 25
};
struct Controller {
  const ControllerTable* table;
};

static_assert(offsetof(SettingsTable, put_IsWebMessageEnabled) == 6 * sizeof(void*));
static_assert(offsetof(SettingsTable, put_AreDefaultScriptDialogsEnabled) == 8 * sizeof(void*));
static_assert(offsetof(BrowserTable, get_Settings) == 3 * sizeof(void*));
static_assert(offsetof(ControllerTable, put_IsVisible) == 4 * sizeof(void*));
static_assert(offsetof(ControllerTable, get_CoreWebView2) == 25 * sizeof(void*));

}  // namespace velto::browser_abi
