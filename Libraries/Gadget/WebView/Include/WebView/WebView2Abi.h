#pragma once

// Windows only. The part of the browser runtime's COM interface that the
// engine and the gadget library call, declared from the published interface identifiers and slot orders (see
// docs/webview2-abi.md for each fact's source). Every interface lists its
// methods in slot order up to the last one we use; the types of slots we
// never call are simplified, which does not change the layout.

#include <cstdint>

#include "Core/WinApi.h"

#include <objbase.h>

namespace velto::webview::abi {

inline constexpr GUID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// IUnknown, slots 0-2 of every interface. Our own declaration: the system
// header's has a public non-virtual destructor, which our warnings reject.
struct Unknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~Unknown() = default;
};

struct EventRegistrationToken {
  std::int64_t value;
};

// Enumerations the runtime passes as 32-bit integers; only the values we use.
enum class MoveFocusReason : std::int32_t { Programmatic = 0, Next = 1, Previous = 2 };
enum class WebErrorStatus : std::int32_t {
  Unknown = 0,
  CertificateCommonNameIsIncorrect = 1,
  CertificateExpired = 2,
  ClientCertificateContainsErrors = 3,
  CertificateRevoked = 4,
  CertificateIsInvalid = 5,
  ServerUnreachable = 6,
  Timeout = 7,
  ErrorHttpInvalidServerResponse = 8,
  ConnectionAborted = 9,
  ConnectionReset = 10,
  Disconnected = 11,
  CannotConnect = 12,
  HostNameNotResolved = 13,
  OperationCanceled = 14,
  RedirectFailed = 15,
  UnexpectedError = 16,
  ValidAuthenticationCredentialsRequired = 17,
  ValidProxyAuthenticationRequired = 18,
};
// Later runtimes add kinds beyond these (frames, utility processes, ...).
enum class ProcessFailedKind : std::int32_t {
  BrowserProcessExited = 0,
  RenderProcessExited = 1,
  RenderProcessUnresponsive = 2,
};
enum class PermissionKind : std::int32_t {
  UnknownPermission = 0,
  Microphone = 1,
  Camera = 2,
  Geolocation = 3,
  Notifications = 4,
  OtherSensors = 5,
  ClipboardRead = 6,
};
enum class PermissionState : std::int32_t { Default = 0, Allow = 1, Deny = 2 };
enum class DownloadState : std::int32_t { InProgress = 0, Interrupted = 1, Completed = 2 };

struct ICoreWebView2;
struct ICoreWebView2Controller;
struct ICoreWebView2Environment;
struct ICoreWebView2Settings;
struct ICoreWebView2WebMessageReceivedEventArgs;
struct ICoreWebView2NavigationStartingEventArgs;
struct ICoreWebView2NavigationCompletedEventArgs;
struct ICoreWebView2NewWindowRequestedEventArgs;
struct ICoreWebView2PermissionRequestedEventArgs;
struct ICoreWebView2ProcessFailedEventArgs;
struct ICoreWebView2DownloadStartingEventArgs;
struct ICoreWebView2DownloadOperation;

// Interfaces are never deleted through these pointers (Release does that),
// hence the protected destructors.

struct ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler : Unknown {
  static constexpr GUID iid = {0x4e8a3389, 0xc9d8, 0x4bd2, {0xb6, 0xb5, 0x12, 0x4f, 0xee, 0x6c, 0xc1, 0x4d}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT error, ICoreWebView2Environment* environment) = 0;

 protected:
  ~ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler() = default;
};

struct ICoreWebView2CreateCoreWebView2ControllerCompletedHandler : Unknown {
  static constexpr GUID iid = {0x6c4819f3, 0xc9b7, 0x4260, {0x81, 0x27, 0xc9, 0xf5, 0xbd, 0xe7, 0xf6, 0x8c}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT error, ICoreWebView2Controller* controller) = 0;

 protected:
  ~ICoreWebView2CreateCoreWebView2ControllerCompletedHandler() = default;
};

struct ICoreWebView2ExecuteScriptCompletedHandler : Unknown {
  static constexpr GUID iid = {0x49511172, 0xcc67, 0x4bca, {0x99, 0x23, 0x13, 0x71, 0x12, 0xf4, 0xc4, 0xcc}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT error, LPCWSTR result_as_json) = 0;

 protected:
  ~ICoreWebView2ExecuteScriptCompletedHandler() = default;
};

struct ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler : Unknown {
  static constexpr GUID iid = {0xb99369f3, 0x9b11, 0x47b5, {0xbc, 0x6f, 0x8e, 0x78, 0x95, 0xfc, 0xea, 0x17}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT error, LPCWSTR id) = 0;

 protected:
  ~ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler() = default;
};

struct ICoreWebView2WebMessageReceivedEventHandler : Unknown {
  static constexpr GUID iid = {0x57213f19, 0x00e6, 0x49fa, {0x8e, 0x07, 0x89, 0x8e, 0xa0, 0x1e, 0xcb, 0xd2}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args) = 0;

 protected:
  ~ICoreWebView2WebMessageReceivedEventHandler() = default;
};

struct ICoreWebView2NavigationStartingEventHandler : Unknown {
  static constexpr GUID iid = {0x9adbe429, 0xf36d, 0x432b, {0x9d, 0xdc, 0xf8, 0x88, 0x1f, 0xbd, 0x76, 0xe3}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs* args) = 0;

 protected:
  ~ICoreWebView2NavigationStartingEventHandler() = default;
};

struct ICoreWebView2NavigationCompletedEventHandler : Unknown {
  static constexpr GUID iid = {0xd33a35bf, 0x1c49, 0x4f98, {0x93, 0xab, 0x00, 0x6e, 0x05, 0x33, 0xfe, 0x1c}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2NavigationCompletedEventArgs* args) = 0;

 protected:
  ~ICoreWebView2NavigationCompletedEventHandler() = default;
};

struct ICoreWebView2NewWindowRequestedEventHandler : Unknown {
  static constexpr GUID iid = {0xd4c185fe, 0xc81c, 0x4989, {0x97, 0xaf, 0x2d, 0x3f, 0xa7, 0xab, 0x56, 0x51}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2NewWindowRequestedEventArgs* args) = 0;

 protected:
  ~ICoreWebView2NewWindowRequestedEventHandler() = default;
};

struct ICoreWebView2PermissionRequestedEventHandler : Unknown {
  static constexpr GUID iid = {0x15e1c6a3, 0xc72a, 0x4df3, {0x91, 0xd7, 0xd0, 0x97, 0xfb, 0xec, 0x6b, 0xfd}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2PermissionRequestedEventArgs* args) = 0;

 protected:
  ~ICoreWebView2PermissionRequestedEventHandler() = default;
};

struct ICoreWebView2ProcessFailedEventHandler : Unknown {
  static constexpr GUID iid = {0x79e0aea4, 0x990b, 0x42d9, {0xaa, 0x1d, 0x0f, 0xcc, 0x2e, 0x5b, 0xc7, 0xf1}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2ProcessFailedEventArgs* args) = 0;

 protected:
  ~ICoreWebView2ProcessFailedEventHandler() = default;
};

struct ICoreWebView2DownloadStartingEventHandler : Unknown {
  static constexpr GUID iid = {0xefedc989, 0xc396, 0x41ca, {0x83, 0xf7, 0x07, 0xf8, 0x45, 0xa5, 0x57, 0x24}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender, ICoreWebView2DownloadStartingEventArgs* args) = 0;

 protected:
  ~ICoreWebView2DownloadStartingEventHandler() = default;
};

// A download's state changed; `args` is always null.
struct ICoreWebView2StateChangedEventHandler : Unknown {
  static constexpr GUID iid = {0x81336594, 0x7ede, 0x4ba9, {0xbf, 0x71, 0xac, 0xf0, 0xa9, 0x5b, 0x58, 0xdd}};
  virtual HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2DownloadOperation* sender, Unknown* args) = 0;

 protected:
  ~ICoreWebView2StateChangedEventHandler() = default;
};

struct ICoreWebView2Environment : Unknown {
  static constexpr GUID iid = {0xb96d755e, 0x0319, 0x4e92, {0xa2, 0x96, 0x23, 0x43, 0x6f, 0x46, 0xa1, 0xfc}};
  // 3
  virtual HRESULT STDMETHODCALLTYPE
  CreateCoreWebView2Controller(HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) = 0;

 protected:
  ~ICoreWebView2Environment() = default;
};

struct ICoreWebView2Controller : Unknown {
  static constexpr GUID iid = {0x4d00c0d1, 0x9434, 0x4eb6, {0x80, 0x78, 0x86, 0x97, 0xa5, 0x60, 0x33, 0x4f}};
  virtual HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* visible) = 0;                                  // 3
  virtual HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL visible) = 0;                                   // 4
  virtual HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) = 0;                                      // 5
  virtual HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) = 0;                                       // 6
  virtual HRESULT STDMETHODCALLTYPE get_ZoomFactor(double* factor) = 0;                                // 7
  virtual HRESULT STDMETHODCALLTYPE put_ZoomFactor(double factor) = 0;                                 // 8
  virtual HRESULT STDMETHODCALLTYPE add_ZoomFactorChanged(Unknown*, EventRegistrationToken*) = 0;      // 9
  virtual HRESULT STDMETHODCALLTYPE remove_ZoomFactorChanged(EventRegistrationToken) = 0;              // 10
  virtual HRESULT STDMETHODCALLTYPE SetBoundsAndZoomFactor(RECT bounds, double factor) = 0;            // 11
  virtual HRESULT STDMETHODCALLTYPE MoveFocus(MoveFocusReason reason) = 0;                             // 12
  virtual HRESULT STDMETHODCALLTYPE add_MoveFocusRequested(Unknown*, EventRegistrationToken*) = 0;     // 13
  virtual HRESULT STDMETHODCALLTYPE remove_MoveFocusRequested(EventRegistrationToken) = 0;             // 14
  virtual HRESULT STDMETHODCALLTYPE add_GotFocus(Unknown*, EventRegistrationToken*) = 0;               // 15
  virtual HRESULT STDMETHODCALLTYPE remove_GotFocus(EventRegistrationToken) = 0;                       // 16
  virtual HRESULT STDMETHODCALLTYPE add_LostFocus(Unknown*, EventRegistrationToken*) = 0;              // 17
  virtual HRESULT STDMETHODCALLTYPE remove_LostFocus(EventRegistrationToken) = 0;                      // 18
  virtual HRESULT STDMETHODCALLTYPE add_AcceleratorKeyPressed(Unknown*, EventRegistrationToken*) = 0;  // 19
  virtual HRESULT STDMETHODCALLTYPE remove_AcceleratorKeyPressed(EventRegistrationToken) = 0;          // 20
  virtual HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND* parent) = 0;                                // 21
  virtual HRESULT STDMETHODCALLTYPE put_ParentWindow(HWND parent) = 0;                                 // 22
  virtual HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() = 0;                           // 23
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;                                                       // 24
  virtual HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** webview) = 0;                     // 25

 protected:
  ~ICoreWebView2Controller() = default;
};

struct ICoreWebView2 : Unknown {
  static constexpr GUID iid = {0x76eceacb, 0x0462, 0x4d94, {0xac, 0x83, 0x42, 0x3a, 0x67, 0x93, 0x77, 0x5e}};
  virtual HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) = 0;  // 3
  virtual HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) = 0;                         // 4
  virtual HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) = 0;                           // 5
  virtual HRESULT STDMETHODCALLTYPE NavigateToString(LPCWSTR html) = 0;                  // 6
  virtual HRESULT STDMETHODCALLTYPE add_NavigationStarting(ICoreWebView2NavigationStartingEventHandler* handler,
                                                           EventRegistrationToken* token) = 0;  // 7
  virtual HRESULT STDMETHODCALLTYPE remove_NavigationStarting(EventRegistrationToken) = 0;      // 8
  virtual HRESULT STDMETHODCALLTYPE add_ContentLoading(Unknown*, EventRegistrationToken*) = 0;  // 9
  virtual HRESULT STDMETHODCALLTYPE remove_ContentLoading(EventRegistrationToken) = 0;          // 10
  virtual HRESULT STDMETHODCALLTYPE add_SourceChanged(Unknown*, EventRegistrationToken*) = 0;   // 11
  virtual HRESULT STDMETHODCALLTYPE remove_SourceChanged(EventRegistrationToken) = 0;           // 12
  virtual HRESULT STDMETHODCALLTYPE add_HistoryChanged(Unknown*, EventRegistrationToken*) = 0;  // 13
  virtual HRESULT STDMETHODCALLTYPE remove_HistoryChanged(EventRegistrationToken) = 0;          // 14
  virtual HRESULT STDMETHODCALLTYPE add_NavigationCompleted(ICoreWebView2NavigationCompletedEventHandler* handler,
                                                            EventRegistrationToken* token) = 0;           // 15
  virtual HRESULT STDMETHODCALLTYPE remove_NavigationCompleted(EventRegistrationToken) = 0;               // 16
  virtual HRESULT STDMETHODCALLTYPE add_FrameNavigationStarting(Unknown*, EventRegistrationToken*) = 0;   // 17
  virtual HRESULT STDMETHODCALLTYPE remove_FrameNavigationStarting(EventRegistrationToken) = 0;           // 18
  virtual HRESULT STDMETHODCALLTYPE add_FrameNavigationCompleted(Unknown*, EventRegistrationToken*) = 0;  // 19
  virtual HRESULT STDMETHODCALLTYPE remove_FrameNavigationCompleted(EventRegistrationToken) = 0;          // 20
  virtual HRESULT STDMETHODCALLTYPE add_ScriptDialogOpening(Unknown*, EventRegistrationToken*) = 0;       // 21
  virtual HRESULT STDMETHODCALLTYPE remove_ScriptDialogOpening(EventRegistrationToken) = 0;               // 22
  virtual HRESULT STDMETHODCALLTYPE add_PermissionRequested(ICoreWebView2PermissionRequestedEventHandler* handler,
                                                            EventRegistrationToken* token) = 0;  // 23
  virtual HRESULT STDMETHODCALLTYPE remove_PermissionRequested(EventRegistrationToken) = 0;      // 24
  virtual HRESULT STDMETHODCALLTYPE add_ProcessFailed(ICoreWebView2ProcessFailedEventHandler* handler,
                                                      EventRegistrationToken* token) = 0;  // 25
  virtual HRESULT STDMETHODCALLTYPE remove_ProcessFailed(EventRegistrationToken) = 0;      // 26
  virtual HRESULT STDMETHODCALLTYPE AddScriptToExecuteOnDocumentCreated(                   // 27
      LPCWSTR script, ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveScriptToExecuteOnDocumentCreated(LPCWSTR id) = 0;  // 28
  virtual HRESULT STDMETHODCALLTYPE ExecuteScript(LPCWSTR script,                            // 29
                                                  ICoreWebView2ExecuteScriptCompletedHandler* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE CapturePreview(int format, Unknown* stream, Unknown* handler) = 0;  // 30
  virtual HRESULT STDMETHODCALLTYPE Reload() = 0;                                                       // 31
  virtual HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR json) = 0;                             // 32
  virtual HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR text) = 0;                           // 33
  virtual HRESULT STDMETHODCALLTYPE add_WebMessageReceived(ICoreWebView2WebMessageReceivedEventHandler* handler,
                                                           EventRegistrationToken* token) = 0;      // 34
  virtual HRESULT STDMETHODCALLTYPE remove_WebMessageReceived(EventRegistrationToken token) = 0;    // 35
  virtual HRESULT STDMETHODCALLTYPE CallDevToolsProtocolMethod(LPCWSTR method, LPCWSTR parameters,  // 36
                                                               Unknown* handler) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_BrowserProcessId(UINT32* id) = 0;                                     // 37
  virtual HRESULT STDMETHODCALLTYPE get_CanGoBack(BOOL* value) = 0;                                           // 38
  virtual HRESULT STDMETHODCALLTYPE get_CanGoForward(BOOL* value) = 0;                                        // 39
  virtual HRESULT STDMETHODCALLTYPE GoBack() = 0;                                                             // 40
  virtual HRESULT STDMETHODCALLTYPE GoForward() = 0;                                                          // 41
  virtual HRESULT STDMETHODCALLTYPE GetDevToolsProtocolEventReceiver(LPCWSTR event, Unknown** receiver) = 0;  // 42
  virtual HRESULT STDMETHODCALLTYPE Stop() = 0;                                                               // 43
  virtual HRESULT STDMETHODCALLTYPE add_NewWindowRequested(ICoreWebView2NewWindowRequestedEventHandler* handler,
                                                           EventRegistrationToken* token) = 0;    // 44
  virtual HRESULT STDMETHODCALLTYPE remove_NewWindowRequested(EventRegistrationToken token) = 0;  // 45

 protected:
  ~ICoreWebView2() = default;
};

// Later runtimes' extensions of ICoreWebView2 continue its table: slots
// 46-60 are ICoreWebView2's last methods, 61-67 ICoreWebView2_2's, 68-72
// ICoreWebView2_3's; none of them is called here. Asked for with
// QueryInterface: a runtime older than downloads' events answers none.
struct ICoreWebView2_4 : ICoreWebView2 {
  static constexpr GUID iid = {0x20d02d59, 0x6df2, 0x42dc, {0xbd, 0x06, 0xf9, 0x8a, 0x69, 0x4b, 0x13, 0x02}};
  virtual HRESULT STDMETHODCALLTYPE add_DocumentTitleChanged(Unknown*, EventRegistrationToken*) = 0;              // 46
  virtual HRESULT STDMETHODCALLTYPE remove_DocumentTitleChanged(EventRegistrationToken) = 0;                      // 47
  virtual HRESULT STDMETHODCALLTYPE get_DocumentTitle(LPWSTR* title) = 0;                                         // 48
  virtual HRESULT STDMETHODCALLTYPE AddHostObjectToScript(LPCWSTR name, void* object) = 0;                        // 49
  virtual HRESULT STDMETHODCALLTYPE RemoveHostObjectFromScript(LPCWSTR name) = 0;                                 // 50
  virtual HRESULT STDMETHODCALLTYPE OpenDevToolsWindow() = 0;                                                     // 51
  virtual HRESULT STDMETHODCALLTYPE add_ContainsFullScreenElementChanged(Unknown*, EventRegistrationToken*) = 0;  // 52
  virtual HRESULT STDMETHODCALLTYPE remove_ContainsFullScreenElementChanged(EventRegistrationToken) = 0;          // 53
  virtual HRESULT STDMETHODCALLTYPE get_ContainsFullScreenElement(BOOL* value) = 0;                               // 54
  virtual HRESULT STDMETHODCALLTYPE add_WebResourceRequested(Unknown*, EventRegistrationToken*) = 0;              // 55
  virtual HRESULT STDMETHODCALLTYPE remove_WebResourceRequested(EventRegistrationToken) = 0;                      // 56
  virtual HRESULT STDMETHODCALLTYPE AddWebResourceRequestedFilter(LPCWSTR uri, int context) = 0;                  // 57
  virtual HRESULT STDMETHODCALLTYPE RemoveWebResourceRequestedFilter(LPCWSTR uri, int context) = 0;               // 58
  virtual HRESULT STDMETHODCALLTYPE add_WindowCloseRequested(Unknown*, EventRegistrationToken*) = 0;              // 59
  virtual HRESULT STDMETHODCALLTYPE remove_WindowCloseRequested(EventRegistrationToken) = 0;                      // 60
  virtual HRESULT STDMETHODCALLTYPE add_WebResourceResponseReceived(Unknown*, EventRegistrationToken*) = 0;       // 61
  virtual HRESULT STDMETHODCALLTYPE remove_WebResourceResponseReceived(EventRegistrationToken) = 0;               // 62
  virtual HRESULT STDMETHODCALLTYPE NavigateWithWebResourceRequest(Unknown* request) = 0;                         // 63
  virtual HRESULT STDMETHODCALLTYPE add_DOMContentLoaded(Unknown*, EventRegistrationToken*) = 0;                  // 64
  virtual HRESULT STDMETHODCALLTYPE remove_DOMContentLoaded(EventRegistrationToken) = 0;                          // 65
  virtual HRESULT STDMETHODCALLTYPE get_CookieManager(Unknown** manager) = 0;                                     // 66
  virtual HRESULT STDMETHODCALLTYPE get_Environment(ICoreWebView2Environment** environment) = 0;                  // 67
  virtual HRESULT STDMETHODCALLTYPE TrySuspend(Unknown* handler) = 0;                                             // 68
  virtual HRESULT STDMETHODCALLTYPE Resume() = 0;                                                                 // 69
  virtual HRESULT STDMETHODCALLTYPE get_IsSuspended(BOOL* value) = 0;                                             // 70
  virtual HRESULT STDMETHODCALLTYPE SetVirtualHostNameToFolderMapping(LPCWSTR host, LPCWSTR folder,
                                                                      int kind) = 0;          // 71
  virtual HRESULT STDMETHODCALLTYPE ClearVirtualHostNameToFolderMapping(LPCWSTR host) = 0;    // 72
  virtual HRESULT STDMETHODCALLTYPE add_FrameCreated(Unknown*, EventRegistrationToken*) = 0;  // 73
  virtual HRESULT STDMETHODCALLTYPE remove_FrameCreated(EventRegistrationToken) = 0;          // 74
  virtual HRESULT STDMETHODCALLTYPE add_DownloadStarting(ICoreWebView2DownloadStartingEventHandler* handler,
                                                         EventRegistrationToken* token) = 0;    // 75
  virtual HRESULT STDMETHODCALLTYPE remove_DownloadStarting(EventRegistrationToken token) = 0;  // 76

 protected:
  ~ICoreWebView2_4() = default;
};

struct ICoreWebView2Settings : Unknown {
  static constexpr GUID iid = {0xe562e4f0, 0xd7fa, 0x43ac, {0x8d, 0x71, 0xc0, 0x51, 0x50, 0x49, 0x9f, 0x00}};
  virtual HRESULT STDMETHODCALLTYPE get_IsScriptEnabled(BOOL* value) = 0;                 // 3
  virtual HRESULT STDMETHODCALLTYPE put_IsScriptEnabled(BOOL value) = 0;                  // 4
  virtual HRESULT STDMETHODCALLTYPE get_IsWebMessageEnabled(BOOL* value) = 0;             // 5
  virtual HRESULT STDMETHODCALLTYPE put_IsWebMessageEnabled(BOOL value) = 0;              // 6
  virtual HRESULT STDMETHODCALLTYPE get_AreDefaultScriptDialogsEnabled(BOOL* value) = 0;  // 7
  virtual HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL value) = 0;   // 8
  virtual HRESULT STDMETHODCALLTYPE get_IsStatusBarEnabled(BOOL* value) = 0;              // 9
  virtual HRESULT STDMETHODCALLTYPE put_IsStatusBarEnabled(BOOL value) = 0;               // 10
  virtual HRESULT STDMETHODCALLTYPE get_AreDevToolsEnabled(BOOL* value) = 0;              // 11
  virtual HRESULT STDMETHODCALLTYPE put_AreDevToolsEnabled(BOOL value) = 0;               // 12

 protected:
  ~ICoreWebView2Settings() = default;
};

struct ICoreWebView2WebMessageReceivedEventArgs : Unknown {
  static constexpr GUID iid = {0x0f99a40c, 0xe962, 0x4207, {0x9e, 0x92, 0xe3, 0xd5, 0x42, 0xef, 0xf8, 0x49}};
  virtual HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* source) = 0;                 // 3
  virtual HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* json) = 0;         // 4
  virtual HRESULT STDMETHODCALLTYPE TryGetWebMessageAsString(LPWSTR* message) = 0;  // 5

 protected:
  ~ICoreWebView2WebMessageReceivedEventArgs() = default;
};

struct ICoreWebView2NavigationStartingEventArgs : Unknown {
  static constexpr GUID iid = {0x5b495469, 0xe119, 0x438a, {0x9b, 0x18, 0x76, 0x04, 0xf2, 0x5f, 0x2e, 0x49}};
  virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) = 0;                   // 3
  virtual HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) = 0;       // 4
  virtual HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* value) = 0;          // 5
  virtual HRESULT STDMETHODCALLTYPE get_RequestHeaders(Unknown** headers) = 0;  // 6
  virtual HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* cancel) = 0;               // 7
  virtual HRESULT STDMETHODCALLTYPE put_Cancel(BOOL cancel) = 0;                // 8
  virtual HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* id) = 0;           // 9

 protected:
  ~ICoreWebView2NavigationStartingEventArgs() = default;
};

struct ICoreWebView2NavigationCompletedEventArgs : Unknown {
  static constexpr GUID iid = {0x30d68b7d, 0x20d9, 0x4752, {0xa9, 0xca, 0xec, 0x84, 0x48, 0xfb, 0xb5, 0xc1}};
  virtual HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* success) = 0;                // 3
  virtual HRESULT STDMETHODCALLTYPE get_WebErrorStatus(WebErrorStatus* status) = 0;  // 4
  virtual HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* id) = 0;                // 5

 protected:
  ~ICoreWebView2NavigationCompletedEventArgs() = default;
};

struct ICoreWebView2NewWindowRequestedEventArgs : Unknown {
  static constexpr GUID iid = {0x34acb11c, 0xfc37, 0x4418, {0x91, 0x32, 0xf9, 0xc2, 0x1d, 0x1e, 0xaf, 0xb9}};
  virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) = 0;                   // 3
  virtual HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2* window) = 0;   // 4
  virtual HRESULT STDMETHODCALLTYPE get_NewWindow(ICoreWebView2** window) = 0;  // 5
  virtual HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) = 0;              // 6
  virtual HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) = 0;             // 7
  virtual HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) = 0;       // 8

 protected:
  ~ICoreWebView2NewWindowRequestedEventArgs() = default;
};

struct ICoreWebView2PermissionRequestedEventArgs : Unknown {
  static constexpr GUID iid = {0x973ae2ef, 0xff18, 0x4894, {0x8f, 0xb2, 0x3c, 0x75, 0x8f, 0x04, 0x68, 0x10}};
  virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) = 0;                      // 3
  virtual HRESULT STDMETHODCALLTYPE get_PermissionKind(PermissionKind* kind) = 0;  // 4
  virtual HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) = 0;          // 5
  virtual HRESULT STDMETHODCALLTYPE get_State(PermissionState* state) = 0;         // 6
  virtual HRESULT STDMETHODCALLTYPE put_State(PermissionState state) = 0;          // 7

 protected:
  ~ICoreWebView2PermissionRequestedEventArgs() = default;
};

struct ICoreWebView2ProcessFailedEventArgs : Unknown {
  static constexpr GUID iid = {0x8155a9a4, 0x1474, 0x4a86, {0x8c, 0xae, 0x15, 0x1b, 0x0f, 0xa6, 0xb8, 0xca}};
  virtual HRESULT STDMETHODCALLTYPE get_ProcessFailedKind(ProcessFailedKind* kind) = 0;  // 3

 protected:
  ~ICoreWebView2ProcessFailedEventArgs() = default;
};

struct ICoreWebView2DownloadStartingEventArgs : Unknown {
  static constexpr GUID iid = {0xe99bbe21, 0x43e9, 0x4544, {0xa7, 0x32, 0x28, 0x27, 0x64, 0xea, 0xfa, 0x60}};
  virtual HRESULT STDMETHODCALLTYPE get_DownloadOperation(ICoreWebView2DownloadOperation** operation) = 0;  // 3
  virtual HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* cancel) = 0;                                           // 4
  virtual HRESULT STDMETHODCALLTYPE put_Cancel(BOOL cancel) = 0;                                            // 5
  virtual HRESULT STDMETHODCALLTYPE get_ResultFilePath(LPWSTR* path) = 0;                                   // 6
  virtual HRESULT STDMETHODCALLTYPE put_ResultFilePath(LPCWSTR path) = 0;                                   // 7
  virtual HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) = 0;                                         // 8
  virtual HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) = 0;                                          // 9

 protected:
  ~ICoreWebView2DownloadStartingEventArgs() = default;
};

struct ICoreWebView2DownloadOperation : Unknown {
  static constexpr GUID iid = {0x3d6b6cf2, 0xafe1, 0x44c7, {0xa9, 0x95, 0xc6, 0x51, 0x17, 0x71, 0x43, 0x36}};
  virtual HRESULT STDMETHODCALLTYPE add_BytesReceivedChanged(Unknown*, EventRegistrationToken*) = 0;     // 3
  virtual HRESULT STDMETHODCALLTYPE remove_BytesReceivedChanged(EventRegistrationToken) = 0;             // 4
  virtual HRESULT STDMETHODCALLTYPE add_EstimatedEndTimeChanged(Unknown*, EventRegistrationToken*) = 0;  // 5
  virtual HRESULT STDMETHODCALLTYPE remove_EstimatedEndTimeChanged(EventRegistrationToken) = 0;          // 6
  virtual HRESULT STDMETHODCALLTYPE add_StateChanged(ICoreWebView2StateChangedEventHandler* handler,
                                                     EventRegistrationToken* token) = 0;    // 7
  virtual HRESULT STDMETHODCALLTYPE remove_StateChanged(EventRegistrationToken token) = 0;  // 8
  virtual HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) = 0;                               // 9
  virtual HRESULT STDMETHODCALLTYPE get_ContentDisposition(LPWSTR* value) = 0;              // 10
  virtual HRESULT STDMETHODCALLTYPE get_MimeType(LPWSTR* type) = 0;                         // 11
  virtual HRESULT STDMETHODCALLTYPE get_TotalBytesToReceive(INT64* bytes) = 0;              // 12
  virtual HRESULT STDMETHODCALLTYPE get_BytesReceived(INT64* bytes) = 0;                    // 13
  virtual HRESULT STDMETHODCALLTYPE get_EstimatedEndTime(LPWSTR* time) = 0;                 // 14
  virtual HRESULT STDMETHODCALLTYPE get_ResultFilePath(LPWSTR* path) = 0;                   // 15
  virtual HRESULT STDMETHODCALLTYPE get_State(DownloadState* state) = 0;                    // 16
  virtual HRESULT STDMETHODCALLTYPE get_InterruptReason(int* reason) = 0;                   // 17
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;                                           // 18

 protected:
  ~ICoreWebView2DownloadOperation() = default;
};

// The loader's export (documented) and the installed runtime's own entry
// point (undocumented; see docs/webview2-abi.md for what we rely on).
using CreateEnvironmentWithOptionsFn =
    HRESULT(STDAPICALLTYPE*)(LPCWSTR browser_folder, LPCWSTR user_data_folder, Unknown* options,
                             ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);
using CreateEnvironmentInternalFn =
    HRESULT(STDAPICALLTYPE*)(BOOL check_runtime_type, int runtime_type, LPCWSTR user_data_folder, Unknown* options,
                             ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

}  // namespace velto::webview::abi
